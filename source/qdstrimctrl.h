// The start banner and the run controller: read the deck, build the trim
// lines, run the operations (or let annealing through), write the dynain.
#ifndef QDSTRIMCTRL_H
#define QDSTRIMCTRL_H

#include "qdsfile_deck.h"
#include "qdxstring.h"

#include <memory>
#include <vector>

class gmTrmLine;
class gmCrdSys;
class CsTrmCrv2D;
class CsRunReport;

CsString qdxGetBulidDate();

class CsHeadMsg {
public:
    CsHeadMsg() : version_(1.2f) {}
    void HeadMessage() const;
    CsString Description() const;
    // The version as the banner shows it ("VEKSLR1.2").
    CsString VersionText() const;

private:
    float version_;
};

// The deck path named by the command line (arguments after the program name).
struct CsDeckArgs {
    CsString path;   // absolute unless it started with "./"; '/' separators
    bool valid = false;
};
CsDeckArgs ResolveDeckArgs(const std::vector<CsString>& args);

// Puts the current directory in front of a relative path. A path that starts
// with '/' or with "./" is kept as it stands.
CsString MakeAbsolutePath(const CsString& path);

// The entry's whole work: banner, deck path, run, log; the exit status.
int SolverMain(int argc, const char* const* argv);

using CsTrmLineList = std::vector<std::unique_ptr<gmTrmLine>>;

class CsTrmCtrl {
public:
    CsTrmCtrl();
    CsTrmCtrl(const CsString& path, int mode);
    ~CsTrmCtrl();
    CsTrmCtrl(const CsTrmCtrl&) = delete;
    CsTrmCtrl& operator=(const CsTrmCtrl&) = delete;

    // The whole job: 1 when the dynain was written.
    int Run();
    int Init();
    int ReadData();
    bool DoAnneal() const;
    // Turns every valid trim curve of the model into a trim line of one of the four lists;
    // false when all four stay empty. A curve that meets itself, or a trim curve that
    // encloses no area, is refused with a message: then all four lists stay empty.
    bool SetTrimLine();
    // SetTrimLine refused a curve.
    bool IsCurveRefused() const { return curveRefused_; }
    const CsTrmLineList& GetTrim2D() const { return trim2D_; }
    const CsTrmLineList& GetTrim3D() const { return trim3D_; }
    const CsTrmLineList& GetLance2D() const { return lance2D_; }
    const CsTrmLineList& GetLance3D() const { return lance3D_; }
    // The run's report collector; may stay unset.
    void SetReport(CsRunReport* report) { report_ = report; }
    // One line of standard input; false at its end.
    static bool GetLine(CsString& line);

private:
    int ReadDataFromArgs();
    int ReadDataFromPrompt();
    int WriteDynain();
    // Empties the four lists after a refused curve; false.
    bool RefuseLines();

    int mode_ = 0;
    CsReadDyna reader_;
    CsString deckPath_;  // the deck that was opened, '/' separators
    CsTrmLineList trim2D_;
    CsTrmLineList trim3D_;
    CsTrmLineList lance2D_;
    CsTrmLineList lance3D_;
    CsRunReport* report_ = nullptr;
    bool curveRefused_ = false;
};

#endif
