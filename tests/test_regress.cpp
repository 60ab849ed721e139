// Every input the fuzzers found a fault with, kept in tests/data/regress and
// named after what it caught, run through the real program in the role its
// kind gives it: an IGES file as a job's trim curves, a deck as the deck, a
// state file as the state file an annealing deck includes. The program must
// end the run itself, with its own verdict.
#include "qdstrimalgo_verify.h"
#include "test_helpers.h"

#include <gtest/gtest.h>

using testutil::ReadFile;
using testutil::RunProgram;
using testutil::ScratchDir;
using testutil::WriteFile;
namespace fs = std::filesystem;

TEST(Regress, FuzzFindingsEndInTheProgramsOwnVerdict)
{
    const fs::path data = fs::path(CORVEX_TEST_DATA) / "regress";
    int replayed = 0;
    for (const auto& entry : fs::directory_iterator(data)) {
        const std::string name = entry.path().filename().string();
        const std::string ext = entry.path().extension().string();
        if (ext == ".md") continue;
        SCOPED_TRACE(name);
        ScratchDir dir("regress");
        const bool iges = ext == ".igs" || ext == ".iges";
        WriteFile(dir.file("blank.dynain"), testutil::SmallGeneratedJob().blank);
        WriteFile(dir.file("job.dyn"), iges ? testutil::IgesDeck("curves.igs") : testutil::SmallGeneratedJob().annealDeck);
        const std::string bytes = ReadFile(entry.path().string());
        if (iges) WriteFile(dir.file("curves.igs"), bytes);
        else if (ext == ".dyn") WriteFile(dir.file("job.dyn"), bytes);
        else WriteFile(dir.file("blank.dynain"), bytes);

        const auto r = RunProgram(dir, "job.dyn");
        if (name.rfind("still_wrong_", 0) == 0) {
            // A job the cutters still get wrong: the check stops it before anything is written.
            EXPECT_EQ(r.status, 255) << r.out;
            EXPECT_NE(r.out.find(kCsCutRefusalHead), std::string::npos)
                << "cut soundly now: rename it cut_... and say so in the README\n"
                << r.out;
            EXPECT_FALSE(fs::exists(dir.file("job.dynain")));
            EXPECT_EQ(ReadFile(dir.file("job.dyn")), bytes);
            EXPECT_EQ(ReadFile(dir.file("blank.dynain")), testutil::SmallGeneratedJob().blank);
            EXPECT_NE(ReadFile(dir.file("job.report.json")).find("\"failure\": \"" + std::string(kCsCutRefusalHead)),
                      std::string::npos);
            ++replayed;
            continue;
        }
        EXPECT_TRUE(r.status == 0 || r.status == 255) << r.status << "\n" << r.out;
        const bool normal = r.out.find("N o r m a l      t e r m i n a t i o n") != std::string::npos;
        EXPECT_EQ(normal, r.status == 0) << r.out;
        // Whatever the input, the cutters never make a mesh their own check refuses.
        EXPECT_EQ(r.out.find(kCsCutRefusalHead), std::string::npos) << r.out;
        for (const auto& left : fs::directory_iterator(dir.path())) {
            EXPECT_NE(left.path().extension(), ".tmp") << left.path();
        }
        ++replayed;
    }
    EXPECT_GT(replayed, 0);
}
