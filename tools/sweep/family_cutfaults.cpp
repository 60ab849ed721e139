// Named regression cases: small jobs that were once cut wrongly, each kept
// with its blank, its deck and its curve file under tests/data/cutfaults/
// (the folder's README says what each caught) and judged by the sweeps'
// judge. They form the family "cutfaults" of the sweep report, one seed each.
#include "sweeprun.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace sweep {
namespace {

namespace fs = std::filesystem;

fs::path CaseDir(const std::string& name)
{
    return fs::path(CORVEX_TEST_DATA) / "cutfaults" / name;
}

// The fields of a card line: commas, or fixed ten-column fields.
std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    if (line.find(',') != std::string::npos) {
        std::istringstream in(line);
        for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
    } else {
        for (size_t at = 0; at < line.size(); at += 10) fields.push_back(line.substr(at, 10));
    }
    return fields;
}

std::vector<double> Numbers(const std::string& line)
{
    std::vector<double> values;
    std::istringstream in(line);
    for (double v; in >> v;) values.push_back(v);
    return values;
}

// The polylines of an IGES file (entity 106, copious data), read from its
// parameter section: its own reader, so the judge does not trust the
// program's translator.
std::vector<std::vector<P3>> IgesPolylines(const std::string& path)
{
    std::string data;
    std::istringstream in(sweepio::ReadFile(path));
    for (std::string line; std::getline(in, line);)
        if (line.size() >= 73 && line[72] == 'P') data += line.substr(0, 64);
    std::vector<std::vector<P3>> lines;
    std::istringstream records(data);
    for (std::string record; std::getline(records, record, ';');) {
        std::vector<double> v;
        std::istringstream fields(record);
        for (std::string f; std::getline(fields, f, ',');) v.push_back(std::atof(f.c_str()));
        if (v.size() < 3 || static_cast<int>(v[0]) != 106) continue;
        const int form = static_cast<int>(v[1]);
        const size_t n = static_cast<size_t>(v[2]);
        std::vector<P3> points;
        for (size_t k = 0; k < n; ++k) {
            if (form == 1 && 4 + 2 * k + 1 < v.size())
                points.push_back({v[4 + 2 * k], v[4 + 2 * k + 1], v[3]});
            const size_t stride = form == 3 ? 6 : 3;
            if (form != 1 && 3 + stride * k + 2 < v.size())
                points.push_back({v[3 + stride * k], v[3 + stride * k + 1], v[3 + stride * k + 2]});
        }
        lines.push_back(points);
    }
    return lines;
}

// The curves of a deck, read on their own: 2D cards with their points (seen
// along z, which every stored deck uses), 3D cards with their points or IGES file.
cutjudge::Job JobOf(const fs::path& dir, const std::string& deck)
{
    std::vector<std::string> lines;
    std::istringstream in(deck);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] != '$') lines.push_back(line);
    }
    cutjudge::Job job;
    for (size_t k = 0; k < lines.size(); ++k) {
        const bool flat = lines[k].rfind("*DEFINE_CURVE_TRIM", 0) == 0 &&
                          lines[k].find("_3D") == std::string::npos &&
                          lines[k].find("_NEW") == std::string::npos;
        const bool space = lines[k].rfind("*DEFINE_CURVE_TRIM_3D", 0) == 0 ||
                           lines[k].rfind("*DEFINE_CURVE_TRIM_NEW", 0) == 0;
        if ((!flat && !space) || k + 1 >= lines.size()) continue;
        const std::vector<std::string> head = Fields(lines[++k]);
        const int type = head.size() > 1 ? std::atoi(head[1].c_str()) : 0;
        const int flag = head.size() > 2 ? std::atoi(head[2].c_str()) : 0;
        const int seed = head.size() > 6 ? std::abs(std::atoi(head[6].c_str())) : 0;
        Curve c;
        c.op = flat ? (flag == 0 ? Op::kLance2D : Op::kTrim2D) : (seed == 0 ? Op::kLance3D : Op::kTrim3D);
        c.flag = flag;
        c.seed = seed;
        std::vector<std::vector<P3>> polylines;
        if (type == 2 && k + 1 < lines.size()) {
            std::string file = lines[++k];
            file.erase(file.find_last_not_of(" \t") + 1);
            file.erase(0, file.find_first_not_of(" \t"));
            polylines = IgesPolylines((dir / file).string());
        } else {
            polylines.emplace_back();
            while (k + 1 < lines.size() && lines[k + 1][0] != '*') {
                const std::vector<double> v = Numbers(lines[++k]);
                if (v.size() >= 2)
                    polylines.back().push_back({v[0], v[1], v.size() > 2 && space ? v[2] : 0.0});
            }
        }
        for (const auto& points : polylines) {
            c.points = points;
            job.curves.push_back(c);
        }
    }
    return job;
}

Config Make(const std::string& name, int)
{
    Config c;
    const fs::path dir = CaseDir(name);
    c.blank = (dir / "blank.dynain").string();
    c.deck = sweepio::ReadFile((dir / "job.dyn").string());
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string file = entry.path().filename().string();
        if (file != "blank.dynain" && file != "job.dyn" && file != "README.md")
            c.extraFiles.push_back(entry.path().string());
    }
    std::sort(c.extraFiles.begin(), c.extraFiles.end());
    c.job = JobOf(dir, c.deck);
    return c;
}

std::vector<std::string> Cases()
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(fs::path(CORVEX_TEST_DATA) / "cutfaults"))
        if (entry.is_directory()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

Family CutFaultsFamily()
{
    return {"cutfaults", Make, Cases(), 0, 1};
}

}  // namespace sweep
