// The sweeps' measurement, printed after all tests when CORVEX_SWEEP_REPORT
// is set, and one configuration written out to run by hand.
#include "test_sweeprun.h"


#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

class SweepReportPrinter : public ::testing::Environment {
public:
    void TearDown() override
    {
        if (!sweep::ReportMode() || sweep::Records().empty()) return;
        const std::string text = sweep::ReportText();
        std::fputs(text.c_str(), stdout);
        const std::string target = std::getenv("CORVEX_SWEEP_REPORT");
        if (target != "1") std::ofstream(target, std::ios::app) << text;
    }
};

::testing::Environment* const kPrinter = ::testing::AddGlobalTestEnvironment(new SweepReportPrinter);

// CORVEX_SWEEP_JOB="family generator seed" and CORVEX_SWEEP_DIR=dir write the
// configuration's blank.dynain and job.dyn into dir, run the program there and
// print what the judge finds (tools/sweep-job.sh does all of this).
TEST(SweepJob, WritesOneConfigurationToRunByHand)
{
    const char* name = std::getenv("CORVEX_SWEEP_JOB");
    if (!name) GTEST_SKIP() << "set CORVEX_SWEEP_JOB=\"family generator seed\" and CORVEX_SWEEP_DIR";
    std::istringstream words(name);
    std::string family, generator;
    int seed = 0;
    ASSERT_TRUE(static_cast<bool>(words >> family >> generator >> seed))
        << "CORVEX_SWEEP_JOB wants \"family generator seed\"";
    ASSERT_TRUE(sweep::Families().count(family)) << "no sweep family " << family;
    const char* target = std::getenv("CORVEX_SWEEP_DIR");
    const std::filesystem::path dir =
        target ? target : std::filesystem::temp_directory_path() / "corvex-sweep-job";
    std::filesystem::create_directories(dir);
    const sweep::Config c = sweep::Families().at(family).make(generator, seed);
    ASSERT_FALSE(c.skip) << "the generator makes no configuration for this seed";
    sweep::WriteConfig(dir, c, nullptr, "blank.dynain");
    std::filesystem::remove(dir / "job.dynain");
    const std::string command =
        "cd '" + dir.string() + "' && '" + sweep::Program() + "' job.dyn > job.log 2>&1";
    const int status = std::system(command.c_str());
    std::printf("wrote %s/blank.dynain and job.dyn; the program's output: %s/job.dynain, its log: job.log\n",
                dir.string().c_str(), dir.string().c_str());
    ASSERT_EQ(status, 0) << testutil::ReadFile((dir / "job.log").string());
    ASSERT_TRUE(std::filesystem::exists(dir / "job.dynain"));
    const cutjudge::Judge judge(sweep::GetBlank(c.blank).mesh,
                                trimcheck::ParseFile((dir / "job.dynain").string()), c.job);
    std::printf("%s", judge.ok() ? "the judge finds nothing wrong\n"
                                 : ("the judge finds:\n" + judge.Summary(40)).c_str());
}

}  // namespace
