// The program's side of the IGES bridge: loading the library and the call sequence.
#include "igesdllload.h"
#include "igesinterface.h"
#include "igestestfiles.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <vector>

namespace {

constexpr std::size_t kCoordinates = 1500000;

// Runs a call with the process in another current directory, and comes back.
template <typename Call>
auto InDirectory(const std::string& dir, Call call) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    auto result = call();
    std::filesystem::current_path(before);
    return result;
}

}  // namespace

TEST(LoadIgesDll, ReportsSuccessFailureAndNothingToDo) {
    LoadIgesDll library;
    EXPECT_EQ(library.GetDynamicProcAddress("igesUnit"), 0) << "nothing loaded yet";
    EXPECT_EQ(library.FreeDynamicLibrary(), 0);
    EXPECT_EQ(library.LoadDynamicLibrary(nullptr), 0);
    EXPECT_EQ(library.LoadDynamicLibrary(igestest::ScratchFile("_absent.so").c_str()), -1);

    ASSERT_EQ(library.LoadDynamicLibrary(IGESDLL_PATH), 1);
    EXPECT_EQ(library.GetDynamicProcAddress(nullptr), 0);
    EXPECT_EQ(library.GetDynamicProcAddress("igesUnit"), 1);
    EXPECT_NE(library.ProcAddress(), nullptr);
    EXPECT_EQ(library.GetDynamicProcAddress("noSuchEntry"), -1);
    EXPECT_EQ(library.ProcAddress(), nullptr) << "a failed lookup must not leave the old address";
    EXPECT_EQ(library.GetDynamicProcAddress("getigesonlylin"), 1);
    EXPECT_EQ(library.FreeDynamicLibrary(), 1);
    EXPECT_EQ(library.ProcAddress(), nullptr);
    EXPECT_EQ(library.FreeDynamicLibrary(), 0);
}

// The library beside the program is read, not a decoy in the current directory that answers
// seven polylines to anything; missing files give nothing.
TEST(Dyn2IgesForBead, ReadsThroughTheLibraryBesideTheProgramAndMissingFilesGiveNothing) {
    ASSERT_TRUE(std::filesystem::exists(std::string(IGES_DECOY_DIR) + "/libigesdll.so"));
    std::vector<int> counts(1000, -1);
    std::vector<float> coords(kCoordinates);
    const std::string file = igestest::DataFile("sample_curves.igs");
    const int lines = InDirectory(IGES_DECOY_DIR, [&] {
        return dyn2igesforbead(file.c_str(), counts.data(), coords.data(), 1000);
    });
    ASSERT_EQ(lines, 10);
    // Same polylines as the library hands over itself.
    const igestest::LibraryResult direct = igestest::ReadThroughLibrary(file);
    ASSERT_EQ(direct.lines.size(), 10u);
    std::size_t next = 0;
    for (std::size_t k = 0; k < direct.lines.size(); ++k) {
        ASSERT_EQ(counts[k], static_cast<int>(direct.lines[k].size()));
        for (const igestest::Point& p : direct.lines[k]) {
            EXPECT_EQ(coords[next], p[0]);
            EXPECT_EQ(coords[500000 + next], p[1]);
            EXPECT_EQ(coords[1000000 + next], p[2]);
            ++next;
        }
    }
    EXPECT_EQ(dyn2igesforbead(igestest::ScratchFile("_missing.igs").c_str(), counts.data(), coords.data(), 1000), 0);
    EXPECT_EQ(dyn2igesforbead(nullptr, counts.data(), coords.data(), 1000), 0);
}
