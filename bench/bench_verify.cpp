// The mesh check's cost beside the operation it checks. The deck is read,
// three copies of the model are taken for checks, the deck's first operation
// runs (with its own check inside, as in every run), and the three checks are
// then run over the same change: the copy and that check are what every run
// pays for it. The copy and the check are each the fastest of the three, so
// that a machine shared with other work still gives a steady figure. Last the
// output is written, as a run writes it, to give the whole job.
//
// Usage: bench_verify DECK.dyn [OUTPUT.dynain, default /dev/null]
// The program's own messages go to /dev/null; the figures go to stderr.
#include "qdsfile_writer.h"
#include "qdsmessage.h"
#include "qdstrimalgo.h"
#include "qdstrimalgo_verify.h"
#include "qdstrimctrl.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

double Since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double UserSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec) + 1e-6 * static_cast<double>(usage.ru_utime.tv_usec);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_verify DECK.dyn\n");
        return 2;
    }
    if (!std::freopen("/dev/null", "w", stdout)) return 2;
    CsTrmCtrl ctrl(CsString(argv[1]), 1);
    auto t = std::chrono::steady_clock::now();
    double u = UserSeconds();
    if (!ctrl.Init() || !ctrl.SetTrimLine()) {
        std::fprintf(stderr, "the deck cannot be read or has no curves\n");
        return 1;
    }
    const double read = Since(t);
    const double readUser = UserSeconds() - u;

    std::unique_ptr<CsAlgoTrm> op;
    const CsTrmLineList* lines = nullptr;
    const char* name = "";
    if (!ctrl.GetTrim2D().empty()) {
        op = std::make_unique<CsToolTrm>(ctrl.GetTrim2D());
        lines = &ctrl.GetTrim2D();
        name = "2D trim";
    } else if (!ctrl.GetTrim3D().empty()) {
        op = std::make_unique<CsLaserTrm>(ctrl.GetTrim3D(), 0);
        lines = &ctrl.GetTrim3D();
        name = "3D trim";
    } else if (!ctrl.GetLance2D().empty()) {
        op = std::make_unique<CsLance2D>(ctrl.GetLance2D());
        lines = &ctrl.GetLance2D();
        name = "2D lance";
    } else {
        op = std::make_unique<CsLance3D>(ctrl.GetLance3D());
        lines = &ctrl.GetLance3D();
        name = "3D lance";
    }
    std::vector<gmTrmLine*> raw;
    for (const auto& line : *lines) raw.push_back(line.get());
    constexpr int kRepeats = 3;
    std::vector<std::unique_ptr<CsCutVerify>> checks;
    double begin = 1e30;
    double beginUser = 1e30;
    for (int r = 0; r < kRepeats; ++r) {
        checks.push_back(std::make_unique<CsCutVerify>(raw));
        t = std::chrono::steady_clock::now();
        u = UserSeconds();
        checks.back()->Begin();
        begin = std::min(begin, Since(t));
        beginUser = std::min(beginUser, UserSeconds() - u);
    }

    t = std::chrono::steady_clock::now();
    u = UserSeconds();
    const int done = op->Trimming();
    const double cut = Since(t);
    const double cutUser = UserSeconds() - u;

    bool sound = true;
    double check = 1e30;
    double checkUser = 1e30;
    for (const auto& verify : checks) {
        t = std::chrono::steady_clock::now();
        u = UserSeconds();
        sound = verify->Check(CsCutVerify::kCut) && sound;
        check = std::min(check, Since(t));
        checkUser = std::min(checkUser, UserSeconds() - u);
    }

    t = std::chrono::steady_clock::now();
    u = UserSeconds();
    CsWrtDynin writer(CsString(argc > 2 ? argv[2] : "/dev/null"));
    const int written = writer.OpenFile(CsFile::WRITE) && writer.WriteFile();
    writer.CloseFile();
    const double write = Since(t);
    const double writeUser = UserSeconds() - u;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double own = begin + check;
    const double ownUser = beginUser + checkUser;
    const double job = read + cut + write - own;
    const double jobUser = readUser + cutUser + writeUser - ownUser;
    std::fprintf(stderr, "%s: %s, mesh %s, output %s\n", name, done && !op->IsAborted() ? "cut" : "not cut",
                 sound ? "sound" : "refused", written ? "written" : "not written");
    std::fprintf(stderr, "%-34s %9s %9s\n", "", "wall s", "user s");
    std::fprintf(stderr, "%-34s %9.3f %9.3f\n", "read", read, readUser);
    std::fprintf(stderr, "%-34s %9.3f %9.3f\n", "operation (with its check)", cut, cutUser);
    std::fprintf(stderr, "%-34s %9.3f %9.3f\n", "check: copy at the start", begin, beginUser);
    std::fprintf(stderr, "%-34s %9.3f %9.3f\n", "check: inspection at the end", check, checkUser);
    std::fprintf(stderr, "%-34s %8.1f%% %8.1f%%\n", "check / operation without it", 100.0 * own / (cut - own),
                 100.0 * ownUser / (cutUser - ownUser));
    std::fprintf(stderr, "%-34s %9.3f %9.3f\n", "write", write, writeUser);
    std::fprintf(stderr, "%-34s %9.3f %9.3f\n", "job without the check", job, jobUser);
    std::fprintf(stderr, "%-34s %8.1f%% %8.1f%%\n", "check / job without it", 100.0 * own / job, 100.0 * ownUser / jobUser);
    std::fprintf(stderr, "peak memory %.0f MB\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    return 0;
}
