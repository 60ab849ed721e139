// A machine-readable summary of one run, written beside the message log as
// "<key id>.report.json" ("report.json" without a key id).
//
// Fields:
//   status              the process exit status (0 on normal termination)
//   key_id              the job's key id, "" without one
//   input / output      counts: nodes, elements, adaptive constraints; the
//                       output ones are those of the dynain that was written
//                       (all zero when none was); output also carries
//                       removed_elements (marked for removal), new_nodes and
//                       new_elements (created by the run)
//   area_before/after   shell surface area per part id (triangles by the cross
//                       product, quadrilaterals as two triangles 0-1-2, 0-2-3);
//                       "after" over the elements written (not marked for removal)
//   phases              wall time in seconds of each phase that ran, in order:
//                       "read", "2D trim", "3D trim", "2D lance", "3D lance",
//                       then "write" (trim jobs) or "anneal" (anneal jobs)
//   peak_memory_kib     getrusage ru_maxrss of the process
//   messages            the number of entries recorded in the message log
//   warnings            the recorded entries that report a problem (failures,
//                       errors, invalid data, discarded curve sets, refusals)
//   failure             on a failing run the last of those warnings that is
//                       more than the generic closing line; "" otherwise
#ifndef QDSREPORT_H
#define QDSREPORT_H

#include "qdxstring.h"

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Escapes a string for a JSON string literal (without the quotes).
std::string JsonEscape(const std::string& text);

class CsRunReport {
public:
    struct Counts {
        long long nodes = 0;
        long long elements = 0;
        long long adaptive = 0;
        long long removedElements = 0;
        long long newNodes = 0;
        long long newElements = 0;
    };

    // Takes the model as read (call once the deck was read).
    void TakeInput();
    // Takes what the written dynain holds (call while the model is alive).
    void TakeOutput();
    void AddPhase(const std::string& name, double seconds) { phases_.emplace_back(name, seconds); }
    // Takes the message list; call before the log empties it.
    void TakeMessages();
    void SetStatus(int status) { status_ = status; }

    std::string ToJson() const;
    // Writes the file beside the message log: a temporary file renamed onto
    // it, so a reader never sees a partial report. 1 on success.
    int WriteFile() const;

    const Counts& Input() const { return input_; }
    const Counts& Output() const { return output_; }

private:
    using PartAreas = std::map<int, double>;
    static PartAreas ShellAreas(bool writtenOnly);

    bool haveInput_ = false;
    int status_ = 0;
    Counts input_;
    Counts output_;
    PartAreas areaBefore_;
    PartAreas areaAfter_;
    std::vector<std::pair<std::string, double>> phases_;
    std::vector<std::string> warnings_;
    std::string failure_;
    long long messages_ = 0;
};

// Times one phase from construction to destruction; no-op without a report.
class CsReportPhase {
public:
    CsReportPhase(CsRunReport* report, std::string name)
        : report_(report), name_(std::move(name)), start_(std::chrono::steady_clock::now())
    {
    }
    ~CsReportPhase()
    {
        if (!report_) return;
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start_;
        report_->AddPhase(name_, spent.count());
    }
    CsReportPhase(const CsReportPhase&) = delete;
    CsReportPhase& operator=(const CsReportPhase&) = delete;

private:
    CsRunReport* report_;
    std::string name_;
    std::chrono::steady_clock::time_point start_;
};

#endif
