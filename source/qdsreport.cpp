#include "qdsreport.h"

#include "qdsdatabase.h"
#include "qdsfile.h"
#include "qdsmessage.h"
#include "qdstrimalgo_verify.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <memory>

namespace {

double TriangleArea(const gmPnt3D& a, const gmPnt3D& b, const gmPnt3D& c)
{
    const double ux = b.x() - a.x(), uy = b.y() - a.y(), uz = b.z() - a.z();
    const double vx = c.x() - a.x(), vy = c.y() - a.y(), vz = c.z() - a.z();
    const double cx = uy * vz - uz * vy, cy = uz * vx - ux * vz, cz = ux * vy - uy * vx;
    return 0.5 * std::sqrt(cx * cx + cy * cy + cz * cz);
}

std::string Lower(const std::string& text)
{
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool IsWarning(const std::string& text)
{
    const std::string low = Lower(text);
    for (const char* key : {"fail", "error", "invalid", "discard", "refus", "exception", "no element",
                            "no intersect", "not overwritten", "not a dyn", " stopped: "}) {
        if (low.find(key) != std::string::npos) return true;
    }
    return false;
}

// The closing lines every failing run shares say nothing about the cause.
bool IsGeneric(const std::string& text)
{
    const std::string low = Lower(text);
    return low.find("*** error") != std::string::npos || low.find("terminat") != std::string::npos;
}

std::string Trimmed(const std::string& text)
{
    size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
}

std::string Number(double value)
{
    if (!std::isfinite(value)) return "null";
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string Quoted(const std::string& text) { return "\"" + JsonEscape(text) + "\""; }

void PutCounts(std::string& out, const char* name, const CsRunReport::Counts& c, bool output)
{
    out += "  " + Quoted(name) + ": {\"nodes\": " + std::to_string(c.nodes) +
           ", \"elements\": " + std::to_string(c.elements) + ", \"adaptive_constraints\": " +
           std::to_string(c.adaptive);
    if (output) {
        out += ", \"removed_elements\": " + std::to_string(c.removedElements) +
               ", \"new_nodes\": " + std::to_string(c.newNodes) +
               ", \"new_elements\": " + std::to_string(c.newElements);
    }
    out += "},\n";
}

void PutAreas(std::string& out, const char* name, const std::map<int, double>& areas)
{
    out += "  " + Quoted(name) + ": {";
    bool first = true;
    for (const auto& [part, area] : areas) {
        out += first ? "" : ", ";
        out += Quoted(std::to_string(part)) + ": " + Number(area);
        first = false;
    }
    out += "},\n";
}

}  // namespace

std::string JsonEscape(const std::string& text)
{
    std::string out;
    for (const char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char code[8];
                    std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
                    out += code;
                } else {
                    out += ch;
                }
        }
    }
    return out;
}

CsRunReport::PartAreas CsRunReport::ShellAreas(bool writtenOnly)
{
    PartAreas areas;
    const int nodeCount = dataManage.GetNodeNumber();
    for (const CsDataElem& elem : dataManage.GetElemArr()) {
        if (!elem.IsShell() || elem.IsDeleted()) continue;
        if (writtenOnly && elem.IsToDel()) continue;
        const int n = elem.GetNodeNum();
        if (n != 3 && n != 4) continue;
        bool valid = true;
        for (int k = 0; k < n; ++k) valid = valid && elem[k] >= 1 && elem[k] <= nodeCount;
        if (!valid) continue;
        const auto point = [&elem](int k) { return dataManage.GetNode(elem[k]).GetPoint(); };
        double area = TriangleArea(point(0), point(1), point(2));
        if (n == 4) area += TriangleArea(point(0), point(2), point(3));
        areas[elem.GetPrtid()] += area;
    }
    return areas;
}

void CsRunReport::TakeInput()
{
    input_ = Counts();
    input_.nodes = dataManage.GetNodeNumber();
    input_.elements = dataManage.GetElemNumber();
    input_.adaptive = dataManage.GetAdpvNumber();
    areaBefore_ = ShellAreas(false);
    haveInput_ = true;
}

void CsRunReport::TakeOutput()
{
    // The same selection the dynain writer makes: nodes of elements kept,
    // constraints whose three nodes are all written.
    output_ = Counts();
    const int nodeCount = dataManage.GetNodeNumber();
    std::vector<char> used(static_cast<size_t>(nodeCount) + 1, 0);
    for (const CsDataElem& elem : dataManage.GetElemArr()) {
        if (elem.IsToDel()) {
            ++output_.removedElements;
            continue;
        }
        ++output_.elements;
        if (elem.IsDeleted()) continue;
        for (int k = 0; k < elem.GetNodeNum(); ++k) {
            const int node = elem[k];
            if (node >= 1 && node <= nodeCount) used[static_cast<size_t>(node)] = 1;
        }
    }
    for (int i = 1; i <= nodeCount; ++i) output_.nodes += used[static_cast<size_t>(i)];
    const auto written = [&used](int exid) {
        const int index = dataManage.GetNdidFromExid(exid);
        return index > 0 && used[static_cast<size_t>(index)];
    };
    for (const CsDataAdpv& adpv : dataManage.GetAdpvArr()) {
        if (written(adpv.GetNode()) && written(adpv.GetN1()) && written(adpv.GetN2())) ++output_.adaptive;
    }
    if (haveInput_) {
        output_.newNodes = nodeCount - input_.nodes;
        output_.newElements = dataManage.GetElemNumber() - input_.elements;
    }
    areaAfter_ = ShellAreas(true);
}

void CsRunReport::TakeMessages()
{
    warnings_.clear();
    failure_.clear();
    CsMessage reader;
    const std::vector<CsString>& list = reader.GetMsgArr();
    messages_ = static_cast<long long>(list.size());
    // A cut the check refused, or one a cutter stopped, fails for the first
    // finding or reason given, whatever the operation says after it.
    std::string refusal;
    for (const CsString& entry : list) {
        const std::string text = Trimmed(entry.str());
        if (text.empty() || !IsWarning(text)) continue;
        warnings_.push_back(text);
        if (!IsGeneric(text)) failure_ = text;
        const bool cause = text.rfind(kCsCutRefusalHead, 0) == 0 || text.find(" stopped: ") != std::string::npos;
        if (refusal.empty() && cause) refusal = text;
    }
    if (!refusal.empty()) failure_ = refusal;
}

std::string CsRunReport::ToJson() const
{
    std::string out = "{\n";
    out += "  \"status\": " + std::to_string(status_) + ",\n";
    out += "  \"key_id\": " + Quoted(dataManage.GetStrKeyID().str()) + ",\n";
    PutCounts(out, "input", input_, false);
    PutCounts(out, "output", output_, true);
    PutAreas(out, "area_before", areaBefore_);
    PutAreas(out, "area_after", areaAfter_);
    out += "  \"phases\": [";
    for (size_t i = 0; i < phases_.size(); ++i) {
        out += i ? ", " : "";
        out += "{\"name\": " + Quoted(phases_[i].first) + ", \"seconds\": " + Number(phases_[i].second) + "}";
    }
    out += "],\n";
    struct rusage usage{};
    const long long peak = getrusage(RUSAGE_SELF, &usage) == 0 ? static_cast<long long>(usage.ru_maxrss) : 0;
    out += "  \"peak_memory_kib\": " + std::to_string(peak) + ",\n";
    out += "  \"messages\": " + std::to_string(messages_) + ",\n";
    out += "  \"warnings\": [";
    for (size_t i = 0; i < warnings_.size(); ++i) {
        out += i ? ", " : "";
        out += Quoted(warnings_[i]);
    }
    out += "],\n";
    out += "  \"failure\": " + Quoted(status_ != 0 ? failure_ : std::string()) + "\n";
    out += "}\n";
    return out;
}

int CsRunReport::WriteFile() const
{
    const CsString key = dataManage.GetStrKeyID();
    const CsString name = key.IsEmpty() ? CsString("report.json") : SafeFileName(key) + ".report.json";
    CsString path = dataManage.GetCurWorkPath();
    if (!path.IsEmpty()) path += "/";
    path += name;
    CsString temporary;
    temporary.Format("%s.%ld.tmp", path.c_str(), static_cast<long>(getpid()));

    const std::string text = ToJson();
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(temporary.c_str(), "wb"), &std::fclose);
    if (!file) return 0;
    bool ok = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    // A full disk may show only when the file is closed.
    ok = std::fclose(file.release()) == 0 && ok;
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return 0;
    }
    return 1;
}
