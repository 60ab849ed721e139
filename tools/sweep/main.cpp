// corvex_sweep: runs the cutting sweeps outside the test runner, to measure
// fresh seeds, to compare two builds of the program, or to write one
// configuration out and judge what the program makes of it.
#include "sweeprun.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

namespace {

int Usage()
{
    std::fputs("usage: corvex_sweep report [--first N] [--digests FILE] [FAMILY[/GENERATOR]]...\n"
               "       corvex_sweep job FAMILY GENERATOR SEED DIR\n"
               "report runs the committed seeds of every family (or of those named), or as many\n"
               "fresh ones from N on, and prints how many are wrong and why; it exits with 1 when\n"
               "any is. job writes one configuration's blank.dynain and job.dyn into DIR, runs the\n"
               "program there and prints what the judge finds. CORVEX_SWEEP_PROGRAM names another\n"
               "build of the program to run.\n",
               stderr);
    return 2;
}

// A family, or one generator of it ("lattice", "lattice/triangle/trim2d").
bool Picked(const std::vector<std::string>& picks, const std::string& family, const std::string& generator)
{
    if (picks.empty()) return true;
    for (const std::string& p : picks)
        if (p == family || p == family + "/" + generator) return true;
    return false;
}

int Report(const std::vector<std::string>& args)
{
    int first = -1;
    std::string digests;
    std::vector<std::string> picks;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--first" && i + 1 < args.size()) {
            first = std::atoi(args[++i].c_str());
        } else if (args[i] == "--digests" && i + 1 < args.size()) {
            digests = args[++i];
        } else if (args[i].rfind("--", 0) == 0) {
            return Usage();
        } else {
            picks.push_back(args[i]);
        }
    }
    size_t wrong = 0;
    for (const auto& [name, family] : sweep::Families()) {
        for (const std::string& generator : family.generators) {
            if (!Picked(picks, name, generator)) continue;
            const int from = first >= 0 ? first : family.from;
            wrong += sweep::RunSweep(name, generator, from, from + family.to - family.from, digests).size();
        }
    }
    std::fputs(sweep::ReportText().c_str(), stdout);
    return wrong == 0 ? 0 : 1;
}

int Job(const std::vector<std::string>& args)
{
    if (args.size() != 4 || !sweep::Families().count(args[0])) return Usage();
    const sweep::Config c = sweep::Families().at(args[0]).make(args[1], std::atoi(args[2].c_str()));
    if (c.skip) {
        std::fputs("the generator makes no configuration for this seed\n", stderr);
        return 1;
    }
    const std::filesystem::path dir = args[3];
    std::filesystem::create_directories(dir);
    sweep::WriteConfig(dir, c, nullptr, "blank.dynain");
    std::filesystem::remove(dir / "job.dynain");
    const std::string command = "cd '" + dir.string() + "' && '" + sweep::Program() + "' job.dyn > job.log 2>&1";
    const int status = std::system(command.c_str());
    std::printf("wrote %s/blank.dynain and job.dyn; the program's output: %s/job.dynain, its log: job.log\n",
                dir.string().c_str(), dir.string().c_str());
    if (status != 0 || !std::filesystem::exists(dir / "job.dynain")) {
        std::printf("the program failed:\n%s", sweepio::ReadFile((dir / "job.log").string()).c_str());
        return 1;
    }
    const cutjudge::Judge judge(sweep::GetBlank(c.blank).mesh, trimcheck::ParseFile((dir / "job.dynain").string()),
                                c.job);
    std::printf("%s", judge.ok() ? "the judge finds nothing wrong\n" : ("the judge finds:\n" + judge.Summary(40)).c_str());
    return judge.ok() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    try {
        if (command == "report") return Report(args);
        if (command == "job") return Job(args);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "corvex_sweep: %s\n", e.what());
        return 2;
    }
    return Usage();
}
