// Curve sets read from IGES files through the real program without the
// translator library beside it (the bundled examples run with it).
#include "test_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>

using testutil::RunProgram;
using testutil::ScratchDir;

namespace {

const char* const kBlank =
    "*KEYWORD\n*NODE\n"
    "       1             0.0             0.0             0.0\n"
    "       2           100.0             0.0             0.0\n"
    "       3           100.0           100.0             0.0\n"
    "       4             0.0           100.0             0.0\n"
    "*ELEMENT_SHELL\n      10       1       1       2       3       4\n*END\n";

// A 2D set and a 3D set from the same IGES file, and a 2D set given by
// points that does not depend on the library.
const char* const kDeck =
    "*KEYWORD\n*PART\n         1         1\n*SECTION_SHELL\n         1\n       1.0\n"
    "*SET_PART_LIST\n         1\n         1\n*ELEMENT_TRIM\n         1\n"
    "*DEFINE_CURVE_TRIM\n         1         2         1         0      0.25\ncurves.igs\n"
    "*DEFINE_CURVE_TRIM_3D\n         2         2         1         0      0.25       2.0         1\ncurves.igs\n"
    "*DEFINE_CURVE_TRIM\n         3         0         1         0      0.25\n"
    "10.0 10.0\n90.0 10.0\n90.0 90.0\n10.0 10.0\n"
    "*INCLUDE\nblank.dynain\n*END\n";

void Prepare(const ScratchDir& dir)
{
    testutil::WriteFile(dir.file("blank.dynain"), kBlank);
    testutil::WriteFile(dir.file("job.dyn"), kDeck);
    std::filesystem::copy_file(std::string(CORVEX_TEST_DATA) + "/iges/sample_curves.igs", dir.file("curves.igs"));
}

}  // namespace

TEST(IgesCurveSets, DiscardedWithoutTheLibraryAndTheRunGoesOn)
{
    ScratchDir dir("nolib");
    Prepare(dir);
    // A copy of the program in a folder of its own has no library beside it.
    std::filesystem::create_directory(dir.path() / "bin");
    std::filesystem::copy_file(CORVEX_EXE, dir.path() / "bin" / "corvexandrilo");
    const std::string command = "cd '" + dir.path().string() + "' && ./bin/corvexandrilo job.dyn < /dev/null > out.txt 2>&1";
    // The set given by points cuts a hole inside the one element.
    EXPECT_EQ(std::system(command.c_str()), 0);
    const std::string out = testutil::ReadFile(dir.file("out.txt"));
    EXPECT_NE(out.find("No IGES Dll found\n"
                       "Fail to Get the Curve Data, Defined Curve Set ID = 1\n\n"
                       "The Curve Set: 1 will be discarded\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("No IGES Dll found\n"
                       "Fail to Get the Curve Data, the Curve Set ID = 2\n"
                       "The Curve Set: 2 will be discarded\n"),
              std::string::npos)
        << out;
    // The set given by points still makes the job a cutting job.
    EXPECT_NE(out.find("Success to read trim curves"), std::string::npos) << out;
    EXPECT_NE(out.find("Success to read the dyna input deck"), std::string::npos) << out;
}
