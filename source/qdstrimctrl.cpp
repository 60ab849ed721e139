#include "qdstrimctrl.h"

#include "qdsdatabase.h"
#include "qdstrimalgo.h"
#include "qdstrimbase.h"
#include "qdsexception.h"
#include "qdsfile_writer.h"
#include "qdsgeomline.h"
#include "qdsmessage.h"
#include "qdsreport.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

namespace {

const char* const kAsterisks = "***************************************************";

bool ContainsNoCase(const CsString& text, const char* what)
{
    CsString upper = text;
    CsString key = what;
    return upper.MakeUpper().Find(key.MakeUpper()) >= 0;
}

int FindNoCase(const CsString& text, const char* what)
{
    CsString upper = text;
    CsString key = what;
    return upper.MakeUpper().Find(key.MakeUpper());
}

CsString CurrentDirectory()
{
    const std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
    return cwd ? CsString(cwd.get()) : CsString();
}

void ShowReadBanner()
{
    ShowLine(kAsterisks);
    ShowLine("*                Read Dyna Input Deck             *");
    ShowLine(kAsterisks);
    ShowLine("Reading Begins, please wait...\n");
}

// Two names for one existing file (links and relative spellings included).
bool SameFile(const CsString& a, const CsString& b)
{
    struct stat sa{};
    struct stat sb{};
    if (a.IsEmpty() || b.IsEmpty()) return false;
    if (stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// A closed curve encloses no area when its area is below this share of its length squared
// (a circle has 1 / (4 pi) of it).
constexpr double kNoAreaShare = 1e-6;
// A line shorter than this has no length (its points are one when checked): a lance
// slits nothing, a trim line encloses nothing.
constexpr double kNoLength = 0.01;
// Parts of a 2D line closer than this touch (the cutters snap at this distance).
constexpr double kTouch = 0.005;

// Segment k of a line (0-based) in words, by its points as the deck numbers them; the
// closing segment (-1 for an open line) runs back to point 1.
CsString SegmentText(int k, int closing)
{
    const int to = k == closing ? 1 : k + 2;
    CsString text;
    text.Format("segment %d (points %d to %d)", k + 1, k + 1, to);
    return text;
}

// A cutting line that meets itself, or a trim line that closes around no area, cannot
// tell the cutters which side of it is which: such a line is refused with what is wrong
// and where. A 2D line is judged in its trim plane, a 3D line in the plane it encloses
// most area in (an open one in its best-fit plane), where two segments crossing only
// count when they also pass within the gap of each other.
bool SoundLine(const gmTrmLine& line)
{
    std::vector<gmPnt2D> plane;
    std::function<bool(int, int)> near;
    const int count = line.GetCount();
    const bool lance = line.IsLancing();
    const bool repeats = count > 1 && line.GetFirst().DistTo(line.GetLast()) == 0.0;
    const bool closed = !lance || repeats;
    if (line.IsTrm3DLine()) {
        // A closed curve drawn over a bent sheet is seen best where it encloses most:
        // the plane fitted to a slender loop may stand across the sheet, and its
        // two long sides, apart on the sheet, cross in that plane.
        const std::vector<gmPnt3D>& points = line.GetPntArr();
        plane = geInPlane(points, closed ? geEnclosingPlane(points) : geBestFitPlane(points));
        const double gap = static_cast<const gmCut3DLine&>(line).GetGap();
        near = [&points, count, gap](int a, int b) {
            const auto at = [&points, count](int k) { return points[static_cast<size_t>(k % count)]; };
            return geSegmentDistance(at(a), at(a + 1), at(b), at(b + 1)) <= gap;
        };
    } else {
        for (int i = 0; i < line.GetUcsCount(); ++i) plane.emplace_back(line.GetUcsAt(i).x(), line.GetUcsAt(i).y());
    }
    const int closing = !closed ? -1 : repeats ? count - 2 : count - 1;
    // Two parts of a 2D line nearer each other than the cutters' snapping distance would
    // be cut as one. (A 3D line's plane may bring parts far apart in space together.)
    const gmSelfCrossing crossing = geFindSelfCrossing(plane, closed, near, line.IsTrm3DLine() ? 0.0 : kTouch);
    const double length = gePolylineLength(plane, closed);
    const bool noArea =
        !lance && (length <= kNoLength || std::fabs(gePolygonArea(plane)) <= kNoAreaShare * length * length);
    // A lance shorter than the distance at which its points are one slits nothing.
    const bool noLength = lance && length <= kNoLength;
    const CsString kind = lance ? "Lance curve " : "Trim curve ";
    CsString text;
    if (crossing.Found() && (!crossing.along || !noArea)) {
        text.Format("%s%s is refused: it crosses itself where %s meets %s", kind.c_str(), line.GetExid().c_str(),
                    SegmentText(crossing.first, closing).c_str(), SegmentText(crossing.second, closing).c_str());
    } else if (noArea) {
        text.Format("%s%s is refused: it encloses no area", kind.c_str(), line.GetExid().c_str());
    } else if (noLength) {
        text.Format("%s%s is refused: it has no length", kind.c_str(), line.GetExid().c_str());
    } else {
        return true;
    }
    ShowLine(text);
    return false;
}

// Whether the model still holds an element the dynain would carry.
bool AnyElementLeft()
{
    for (const CsDataElem& elem : dataManage.GetElemArr()) {
        if (!elem.IsToDel() && !elem.IsDeleted()) return true;
    }
    return false;
}

}  // namespace

// ------------------------------------------------------------ banner

CsString qdxGetBulidDate() { return CsString(__DATE__); }

CsString CsHeadMsg::VersionText() const
{
    CsString version;
    version.Format("VEKSLR%2.1f", static_cast<double>(version_));
    return version;
}

CsString CsHeadMsg::Description() const
{
    const CsString version = VersionText();
    CsString box;
    box += "    _________________________________________________________\n";
    box += "    |                                                       |\n";
    box += "    |  Corvexandrilo, A  program  for  Cutting  the  Blank  |\n";
    box += "    |  or Anneal in Sheet Forming Analysis                  |\n";
    box += "    |  Version: " + version + "                 " + "Date: " + qdxGetBulidDate() + " |\n";
    box += "    |                                                       |\n";
    box += "    |  Features enabled in this version:                    |\n";
    box += "    |  * 2D Trim - trim blank using 2-dimensional curves    |\n";
    box += "    |  * 3D Trim - trim blank using local normal            |\n";
    box += "    |  * 2D Lance - lance blank using 2-dimensional curves  |\n";
    box += "    |  * 3D Lance - lance blank using local normal          |\n";
    box += "    |  * Anneal  -  Update the stress of blank              |\n";
    box += "    |_______________________________________________________|\n";
    return box;
}

void CsHeadMsg::HeadMessage() const
{
    const CsString text = "\n" + Description() + "\n\n";
    std::fwrite(text.c_str(), 1, static_cast<size_t>(text.GetLength()), stdout);
    std::fflush(stdout);
}

// ------------------------------------------------------- deck path

CsString MakeAbsolutePath(const CsString& path)
{
    if (path[0] == '/' || path.Left(2) == "./") return path;
    CsString cwd = CurrentDirectory();
    if (cwd.IsEmpty()) return path;
    const char last = cwd[cwd.GetLength() - 1];
    if (last != '/' && last != '\\') cwd += "/";
    return cwd + path;
}

CsDeckArgs ResolveDeckArgs(const std::vector<CsString>& args)
{
    CsDeckArgs result;
    if (args.empty()) return result;
    CsString text = args[0];
    int pos = FindNoCase(text, ".dyn");
    for (size_t next = 1; pos < 0 && next < args.size(); ++next) {
        if (ContainsNoCase(args[next], "memory=")) break;
        text += args[next];
        pos = FindNoCase(text, ".dyn");
    }
    if (pos < 0 || ContainsNoCase(text, ".dynain")) {
        ShowLine("Input File: " + text);
        ShowLine("Not a dyn file (*.dyn)\n");
        ShowLine("*** Error");
    } else {
        text = text.Left(pos + 4);
        text.TrimLeft('=');
        text.TrimLeftSpace();
        result.valid = true;
    }
    result.path = MakeAbsolutePath(text);
    result.path.Replace('\\', '/');
    // A refused name still places the log beside the file that was named.
    if (!result.valid) dataManage.SetCurWorkPath(result.path);
    return result;
}

// ---------------------------------------------------------- controller

CsTrmCtrl::CsTrmCtrl() = default;

CsTrmCtrl::CsTrmCtrl(const CsString& path, int mode) : mode_(mode), reader_(path) {}

CsTrmCtrl::~CsTrmCtrl()
{
    // Reading made the work path the state file's; the message log belongs
    // beside the output, in the deck's directory.
    if (!deckPath_.IsEmpty()) dataManage.SetCurWorkPath(deckPath_);
    trim2D_.clear();
    trim3D_.clear();
    lance2D_.clear();
    lance3D_.clear();
    hashOper.Release();
    dataManage.Release();
}

bool CsTrmCtrl::GetLine(CsString& line)
{
    line.Empty();
    std::string& out = line.str();
    int c = 0;
    bool any = false;
    while ((c = std::getchar()) != EOF) {
        any = true;
        if (c == '\n') break;
        out += static_cast<char>(c);
    }
    return any;
}

bool CsTrmCtrl::DoAnneal() const { return reader_.IsAnneal(); }

bool CsTrmCtrl::RefuseLines()
{
    trim2D_.clear();
    trim3D_.clear();
    lance2D_.clear();
    lance3D_.clear();
    curveRefused_ = true;
    return false;
}

bool CsTrmCtrl::SetTrimLine()
{
    curveRefused_ = false;
    trim2D_.clear();
    trim3D_.clear();
    lance2D_.clear();
    lance3D_.clear();
    const auto& curves = dataManage.GetLineArr();
    if (curves.empty()) return false;
    for (const auto& curve : curves) {
        if (!curve || !curve->IsValid()) continue;
        std::vector<gmPnt3D> points;
        curve->GetPtArr(points);
        CsString id;
        id.Format("%d_%d", curve->GetSetid(), curve->GetExid());
        const bool lance = curve->GetFlag() == 0;
        if (!curve->IsCrv2D()) {
            const auto& c3 = static_cast<const CsTrmCrv3D&>(*curve);
            auto line = std::make_unique<gmCut3DLine>(points, curve->GetFlag());
            line->SetSeed(c3.GetSeed());
            line->SetSeed2(c3.GetSeed2());
            line->SetGap(c3.GetGap());
            line->AutoClose();
            line->SetExid(id);
            if (!SoundLine(*line)) return RefuseLines();
            (lance ? lance3D_ : trim3D_).push_back(std::move(line));
        } else {
            auto line = std::make_unique<gmCut2DLine>(points, curve->GetFlag());
            line->SetRatio(curve->GetRatio());
            gmCrdSys plane;
            static_cast<const CsTrmCrv2D&>(*curve).GetUcs(plane);
            line->SetPntLcs(1);
            line->SetUcs(plane);
            line->SetExid(id);
            if (!SoundLine(*line)) return RefuseLines();
            (lance ? lance2D_ : trim2D_).push_back(std::move(line));
        }
    }
    return !trim2D_.empty() || !trim3D_.empty() || !lance2D_.empty() || !lance3D_.empty();
}

int CsTrmCtrl::Init()
{
    const int read = ReadData();
    if (read) {
        dataManage.UpdateElemNd();
        ShowLine("Success to read the dyna input deck");
        ShowLine(CsString(kAsterisks) + "\n\n");
    } else {
        ShowLine("Fail to read the dyna input deck\n");
        ShowLine("The Solver is terminated\n");
    }
    return read;
}

int CsTrmCtrl::ReadData() { return mode_ == 1 ? ReadDataFromArgs() : ReadDataFromPrompt(); }

int CsTrmCtrl::ReadDataFromArgs()
{
    const CsString name = reader_.GetFileName();
    if (name.Find('/') >= 0 || name.Find('\\') >= 0) dataManage.SetCurWorkPath(name);
    CsMessage msg;
    msg.Set("Input file: " + name);
    msg.Add("\n");
    msg.ShowMessage();
    msg.ShowNewLine(1);
    if (!reader_.OpenFile(CsFile::READ)) {
        ShowLine("Fail to open the file\n");
        return 0;
    }
    deckPath_ = name;
    deckPath_.Replace('\\', '/');
    msg.ShowNewLine(1);
    ShowReadBanner();
    return reader_.ReadFile();
}

int CsTrmCtrl::ReadDataFromPrompt()
{
    CsMessage msg;
    while (true) {
        msg.ShowMessage("  Please input a dyn file:\n");
        msg.ShowMessage(" >");
        CsString entered;
        do {
            // The end of standard input answers like "quit": there is
            // nobody left to ask.
            if (!GetLine(entered)) return 0;
            entered.Trim();
        } while (entered.IsEmpty());
        CsString upper = entered;
        upper.MakeUpper();
        if (upper == "QUIT" || upper == "EXIT") return 0;

        msg.ShowNewLine(1);
        const int pos = entered.Find(".dyn");
        CsString path = pos >= 0 ? entered.Left(pos + 4) : entered;
        path.TrimLeft('=');
        path.TrimLeftSpace();
        const CsString absolute = MakeAbsolutePath(path);
        if (absolute != path) entered = absolute.Left(absolute.GetLength() - path.GetLength()) + entered;
        path = absolute;
        path.Replace('\\', '/');

        if (entered.Find(".dynain") < 0 && reader_.OpenFile(path, CsFile::READ)) {
            msg.Set("Input file: " + path + "\n");
            msg.ShowNewLine(1);
            ShowReadBanner();
            dataManage.SetCurWorkPath(path);
            deckPath_ = path;
            return reader_.ReadFile();
        }
        msg.Set("Input file: " + path + "\n");
        CsTextFile named(path);
        if (!named.IsDynFile()) ShowLine("Not a dyn file (*.dyn)");
        else ShowLine(" Invalid dyn file or path");
        msg.ShowNewLine(1);

        msg.ShowMessage("Continue or not? Y - continue, or - stop: ");
        int answer = std::getchar();
        while (answer == ' ' || answer == '\t' || answer == '\n' || answer == '\r') answer = std::getchar();
        // The rest of the answer's line must not become the next file name.
        for (int c = answer; c != '\n' && c != EOF;) c = std::getchar();
        msg.ShowNewLine(1);
        if (answer == 'y' || answer == 'Y') {
            CsMessage::Free();
            continue;
        }
        dataManage.SetCurWorkPath(entered);
        return 0;
    }
}

int CsTrmCtrl::Run()
{
    int read = 0;
    {
        const CsReportPhase phase(report_, "read");
        read = Init();
    }
    if (!read) return 0;
    if (report_) report_->TakeInput();
    CsMessage msg;
    const bool anneal = DoAnneal();
    if (!anneal) {
        if (!SetTrimLine()) {
            if (!curveRefused_) ShowLine("Fail to Get Line data\n");
            ShowLine("The solver is terminated");
            return 0;
        }
        bool anySucceeded = false;
        // Trimming first, then lancing what is left: 2D before 3D each time.
        for (int kind = 0; kind < 4; ++kind) {
            const CsTrmLineList& lines = kind == 0 ? trim2D_ : kind == 1 ? trim3D_ : kind == 2 ? lance2D_ : lance3D_;
            if (lines.empty()) continue;
            std::unique_ptr<CsAlgoTrm> operation;
            if (kind == 0) operation = std::make_unique<CsToolTrm>(lines);
            else if (kind == 1) operation = std::make_unique<CsLaserTrm>(lines, 0);
            else if (kind == 2) operation = std::make_unique<CsLance2D>(lines);
            else operation = std::make_unique<CsLance3D>(lines);
            static const char* const kNames[] = {"2D trim", "3D trim", "2D lance", "3D lance"};
            int done = 0;
            {
                const CsReportPhase phase(report_, kNames[kind]);
                done = operation->Trimming();
            }
            if (operation->IsAborted()) {
                ShowLine("The solver is terminated");
                return 0;
            }
            if (done) anySucceeded = true;
        }
        // Checked first: a trim-out line removes what lies outside it even where it cut nothing.
        if (!AnyElementLeft()) {
            ShowLine("No element is left after trimming: the trim curves remove the whole blank");
            ShowLine("Fail to trim elements\n");
            ShowLine("The solver is terminated");
            return 0;
        }
        if (!anySucceeded) {
            msg.Set("No intersectant points found");
            ShowLine("Invalid gap or trimming direction");
            msg.ShowNewLine(1);
            ShowLine("Fail to trim elements\n");
            ShowLine("The solver is terminated");
            return 0;
        }
    }
    const CsReportPhase phase(report_, anneal ? "anneal" : "write");
    const int written = WriteDynain();
    if (written && report_) report_->TakeOutput();
    return written;
}

int CsTrmCtrl::WriteDynain()
{
    CsMessage msg;
    const CsString key = reader_.GetKeyID();
    const CsString name = key.IsEmpty() ? CsString("dynain") : SafeFileName(key) + ".dynain";
    // The output goes into the deck's directory, also when the deck includes
    // a state file from somewhere else.
    const int cut = deckPath_.RFind('/');
    const CsString output = (cut < 0 ? CsString(".") : deckPath_.Left(cut)) + "/" + name;

    if (SameFile(output, dataManage.GetDataFileName()) || SameFile(output, reader_.GetFileName())) {
        ShowLine("The output file " + output + " is an input file of this job; it is not overwritten");
        return 0;
    }

    // The output is written beside its final name and renamed onto it only
    // when complete, so a failed run never leaves a partial or clobbered file.
    CsString temporary;
    temporary.Format("%s.%ld.tmp", output.c_str(), static_cast<long>(getpid()));
    CsWrtDynin writer(temporary);
    if (!writer.OpenFile(CsFile::WRITE)) {
        ShowLine("Invalid dynain file path");
        msg.ShowNewLine(1);
        return 0;
    }
    ShowLine(kAsterisks);
    ShowLine("*                Output dynain                    *");
    ShowLine(kAsterisks);
    ShowLine("Outputing Begins, please wait...\n");
    int written = writer.WriteFile();
    if (written && writer.HasWriteError()) written = 0;
    writer.CloseFile();
    if (written && std::rename(temporary.c_str(), output.c_str()) != 0) written = 0;
    if (!written) {
        std::remove(temporary.c_str());
        ShowLine("Fail to output dynain file");
        ShowLine(CsString(kAsterisks) + "\n");
        return 0;
    }
    ShowLine("Success to output dynain file");
    ShowLine(CsString(kAsterisks) + "\n");
    return 1;
}

// --------------------------------------------------------------- entry

namespace {

const char* const kUsage =
    "usage: corvexandrilo [DECK.dyn]\n"
    "\n"
    "Trims, lances or anneals the blank of a keyword deck (*.dyn) whose *INCLUDE\n"
    "names a dynain, and writes the new dynain.\n"
    "\n"
    "  DECK.dyn      the deck; without it the program asks for one at a prompt\n"
    "                (\"quit\" ends)\n"
    "  -h, --help    this text\n"
    "  --version     the program's name, version and build date\n"
    "\n"
    "Written into the deck's directory, named after the deck's job id\n"
    "(*KEYWORD_ID; without one: dynain, messag, report.json):\n"
    "  <job id>.dynain        the new dynain\n"
    "  <job id>.messag        the message log\n"
    "  <job id>.report.json   the JSON run report\n"
    "\n"
    "Exit status: 0 after \"N o r m a l      t e r m i n a t i o n\", 255 otherwise.\n"
    "\n"
    "corvexandrilo-view, built beside this program, draws a dynain to PNG or SVG\n"
    "(corvexandrilo-view --help). Examples: the README's \"Running\" section, and\n"
    "examples/README.md for the bundled jobs.\n";

// The options every console tool answers. They are answered before the
// banner and the message log, so asking leaves no file behind. Returns the
// exit status when an option was found; the first one decides.
std::optional<int> AnswerOption(const std::vector<CsString>& args)
{
    for (const CsString& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            const CsHeadMsg head;
            std::printf("corvexandrilo Version: %s Date: %s\n", head.VersionText().c_str(), qdxGetBulidDate().c_str());
            return 0;
        }
        if (arg.Left(2) == "--") {
            std::fprintf(stderr, "corvexandrilo: unknown option %s (--help lists the options)\n", arg.c_str());
            return -1;
        }
    }
    return std::nullopt;
}

}  // namespace

int SolverMain(int argc, const char* const* argv)
{
    std::vector<CsString> args;
    if (argc > 1) args.assign(argv + 1, argv + argc);
    if (const std::optional<int> answered = AnswerOption(args)) return *answered;

    CsMessage head;
    head.Add("VEK Solver Message\n\n");
    CsHeadMsg().HeadMessage();

    int status = -1;
    CsRunReport report;
    try {
        CsDeckArgs deck;
        const bool fromArguments = !args.empty();
        if (fromArguments) deck = ResolveDeckArgs(args);
        if (!fromArguments || deck.valid) {
            CsTrmCtrl control(deck.path, fromArguments ? 1 : 0);
            control.SetReport(&report);
            if (control.Run()) {
                ShowLine("N o r m a l      t e r m i n a t i o n");
                status = 0;
            } else {
                ShowLine("*** Error");
            }
        }
    } catch (CsException& error) {
        error.ShowMessage();
        error.Set("Exceptional Termination of the Solver");
        error.ShowMessage();
    }
    // The report is taken before the log empties the message list.
    report.SetStatus(status & 0xff);
    report.TakeMessages();
    CsWrtMsg log;
    if (!log.WriteFile()) {
        ShowLine("*** Error");
    } else {
        report.WriteFile();
    }
    CsMessage::Free();
    return status;
}
