// The run report beside the message log: checked against the input and
// output files read here, not against the program's own counters.
#include "test_trimcheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testutil::ReadFile;
using testutil::RunProgram;
using testutil::ScratchDir;

// ---- a tiny JSON parser: enough to reject malformed text and read values

struct Json {
    enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
    double number = 0;
    bool boolean = false;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> fields;

    const Json& operator[](const std::string& key) const
    {
        static const Json missing;
        const auto it = fields.find(key);
        return it == fields.end() ? missing : it->second;
    }
};

class JsonParser {
public:
    explicit JsonParser(const std::string& s) : s_(s) {}

    // False unless the whole text is one valid value.
    bool Parse(Json& out)
    {
        if (!Value(out)) return false;
        Space();
        return i_ == s_.size();
    }

private:
    void Space()
    {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
    }
    // Takes c after white space, if it stands there.
    bool Take(char c)
    {
        Space();
        if (i_ >= s_.size() || s_[i_] != c) return false;
        ++i_;
        return true;
    }
    bool String(std::string& out)
    {
        if (!Take('"')) return false;
        static const std::string escaped = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            const size_t e = i_ < s_.size() ? escaped.find(s_[i_++]) : std::string::npos;
            if (e != std::string::npos) {
                out += meant[e];
                continue;
            }
            // \u and four hex digits, of ASCII only: enough for these reports.
            if (s_[i_ - 1] != 'u' || i_ + 4 > s_.size()) return false;
            const std::string hex = s_.substr(i_, 4);
            if (!std::all_of(hex.begin(), hex.end(), [](unsigned char h) { return std::isxdigit(h); })) return false;
            const unsigned long code = std::stoul(hex, nullptr, 16);
            if (code >= 0x80) return false;
            out += static_cast<char>(code);
            i_ += 4;
        }
        return false;
    }
    bool Value(Json& out)
    {
        if (Take('{')) {
            out.kind = Json::kObject;
            if (Take('}')) return true;
            do {
                std::string key;
                if (!String(key) || !Take(':') || out.fields.count(key) || !Value(out.fields[key])) return false;
            } while (Take(','));
            return Take('}');
        }
        if (Take('[')) {
            out.kind = Json::kArray;
            if (Take(']')) return true;
            do {
                out.items.emplace_back();
                if (!Value(out.items.back())) return false;
            } while (Take(','));
            return Take(']');
        }
        if (i_ < s_.size() && s_[i_] == '"') {
            out.kind = Json::kString;
            return String(out.text);
        }
        for (const std::string word : {"null", "true", "false"}) {
            if (s_.compare(i_, word.size(), word) != 0) continue;
            i_ += word.size();
            out.kind = word == "null" ? Json::kNull : Json::kBool;
            out.boolean = word == "true";
            return true;
        }
        const size_t start = i_;
        while (i_ < s_.size() && std::string("0123456789+-.eE").find(s_[i_]) != std::string::npos) ++i_;
        if (i_ == start) return false;
        out.kind = Json::kNumber;
        size_t used = 0;
        try {
            out.number = std::stod(s_.substr(start, i_ - start), &used);
        } catch (...) {
            return false;
        }
        return used == i_ - start;
    }

    const std::string& s_;
    size_t i_ = 0;
};

Json ParseReport(const std::string& path)
{
    const std::string text = ReadFile(path);
    Json out;
    EXPECT_FALSE(text.empty()) << path;
    EXPECT_TRUE(JsonParser(text).Parse(out)) << text;
    return out;
}

// ---- the state files, read by the independent reader of the trim checks

using trimcheck::Dynain;

std::map<int, double> AreasByPart(const Dynain& mesh)
{
    std::map<int, double> areas;
    for (const trimcheck::Shell& e : mesh.shells) {
        const trimcheck::P3& p = mesh.nodes.at(e.nodes[0]);
        for (size_t k = 1; k + 1 < e.nodes.size(); ++k) {
            const trimcheck::P3& q = mesh.nodes.at(e.nodes[k]);
            const trimcheck::P3& r = mesh.nodes.at(e.nodes[k + 1]);
            const double u[3] = {q[0] - p[0], q[1] - p[1], q[2] - p[2]};
            const double v[3] = {r[0] - p[0], r[1] - p[1], r[2] - p[2]};
            areas[e.pid] += 0.5 * std::hypot(u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]);
        }
    }
    return areas;
}

void ExpectAreas(const Json& reported, const std::map<int, double>& expected, const char* what)
{
    ASSERT_EQ(reported.kind, Json::kObject) << what;
    EXPECT_EQ(reported.fields.size(), expected.size()) << what;
    for (const auto& [part, area] : expected) {
        const Json& value = reported[std::to_string(part)];
        ASSERT_EQ(value.kind, Json::kNumber) << what << " part " << part;
        EXPECT_NEAR(value.number, area, 1e-6 * std::max(1.0, area)) << what << " part " << part;
    }
}

std::vector<std::string> PhaseNames(const Json& report)
{
    std::vector<std::string> names;
    for (const Json& phase : report["phases"].items) {
        names.push_back(phase["name"].text);
        EXPECT_EQ(phase["seconds"].kind, Json::kNumber);
        EXPECT_GE(phase["seconds"].number, 0.0);
    }
    return names;
}

}  // namespace

TEST(RunReport, TrimCountsAndAreasMatchTheFiles)
{
    const ScratchDir dir("report-trim");
    testutil::CopyExample(dir, "trim2d-out");
    // A key id with a quote and a backslash: escaped in the report, made safe in file names.
    std::string deck = ReadFile(dir.file("trim2d-out.dyn"));
    const size_t at = deck.find("trim2d_out");
    ASSERT_NE(at, std::string::npos);
    deck.replace(at, 10, "a\"b\\c");
    testutil::WriteFile(dir.file("trim2d-out.dyn"), deck);
    const auto run = RunProgram(dir, "trim2d-out.dyn");
    ASSERT_EQ(run.status, 0) << run.out;
    const Dynain before = trimcheck::ParseFile(dir.file("blank.dynain"));
    const Dynain after = trimcheck::ParseFile(dir.file("a\"b_c.dynain"));
    ASSERT_FALSE(before.shells.empty());
    ASSERT_FALSE(after.shells.empty());
    ASSERT_LT(after.shells.size(), before.shells.size());

    const Json report = ParseReport(dir.file("a\"b_c.report.json"));
    EXPECT_EQ(report["status"].number, 0);
    EXPECT_EQ(report["key_id"].text, "a\"b\\c");
    EXPECT_EQ(report["input"]["nodes"].number, static_cast<double>(before.nodes.size()));
    EXPECT_EQ(report["input"]["elements"].number, static_cast<double>(before.shells.size()));
    EXPECT_EQ(report["input"]["adaptive_constraints"].number, static_cast<double>(before.adaptive.size()));
    EXPECT_EQ(report["output"]["nodes"].number, static_cast<double>(after.nodes.size()));
    EXPECT_EQ(report["output"]["elements"].number, static_cast<double>(after.shells.size()));
    EXPECT_EQ(report["output"]["adaptive_constraints"].number, static_cast<double>(after.adaptive.size()));

    // New ids are numbered above every id read; removed ones are the rest.
    const int maxNode = before.nodes.rbegin()->first;
    long long newNodes = 0;
    for (const auto& entry : after.nodes) newNodes += entry.first > maxNode ? 1 : 0;
    EXPECT_GT(newNodes, 0);
    EXPECT_GE(report["output"]["new_nodes"].number, static_cast<double>(newNodes));
    const double made = report["output"]["new_elements"].number;
    const double removed = report["output"]["removed_elements"].number;
    EXPECT_GT(made, 0);
    EXPECT_EQ(static_cast<double>(before.shells.size()) + made - removed, static_cast<double>(after.shells.size()));

    ExpectAreas(report["area_before"], AreasByPart(before), "before");
    ExpectAreas(report["area_after"], AreasByPart(after), "after");

    EXPECT_EQ(PhaseNames(report), (std::vector<std::string>{"read", "2D trim", "write"}));
    EXPECT_GT(report["peak_memory_kib"].number, 0);
    EXPECT_GT(report["messages"].number, 0);
    EXPECT_EQ(report["failure"].text, "");
    EXPECT_EQ(report["warnings"].kind, Json::kArray);
}

TEST(RunReport, AnnealKeepsTheMesh)
{
    const ScratchDir dir("report-anneal");
    testutil::CopyExample(dir, "anneal");
    const auto run = RunProgram(dir, "anneal.dyn");
    ASSERT_EQ(run.status, 0) << run.out;
    const Dynain before = trimcheck::ParseFile(dir.file("blank.dynain"));
    const Json json = ParseReport(dir.file("anneal_demo.report.json"));
    EXPECT_EQ(json["output"]["nodes"].number, static_cast<double>(before.nodes.size()));
    EXPECT_EQ(json["output"]["elements"].number, static_cast<double>(before.shells.size()));
    EXPECT_EQ(json["output"]["removed_elements"].number, 0);
    EXPECT_EQ(json["output"]["new_nodes"].number, 0);
    EXPECT_EQ(json["output"]["new_elements"].number, 0);
    ExpectAreas(json["area_after"], AreasByPart(before), "after");
    EXPECT_EQ(PhaseNames(json), (std::vector<std::string>{"read", "anneal"}));
}

TEST(RunReport, FailingRunReportsStatusAndFailure)
{
    ScratchDir dir("report-fail");
    testutil::WriteFile(dir.file("bad.dyn"), "*KEYWORD\n*INCLUDE\nmissing.dynain\n*END\n");
    const auto run = RunProgram(dir, "bad.dyn");
    ASSERT_NE(run.status, 0);
    ASSERT_TRUE(fs::exists(dir.file("messag"))) << testutil::ListDir(dir);
    const Json report = ParseReport(dir.file("report.json"));
    EXPECT_EQ(report["status"].number, run.status);
    EXPECT_EQ(report["failure"].text, "Fail to read the dyna input deck");
    EXPECT_NE(ReadFile(dir.file("messag")).find(report["failure"].text), std::string::npos);
    EXPECT_EQ(report["output"]["elements"].number, 0);
    EXPECT_EQ(PhaseNames(report), (std::vector<std::string>{"read"}));
}
