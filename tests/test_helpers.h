// Small helpers shared by the tests: scratch directories and files.
#ifndef TEST_HELPERS_H
#define TEST_HELPERS_H

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace testutil {

using sweepio::ReadFile;
using sweepio::RunResult;
using sweepio::ScratchDir;
using sweepio::WriteFile;

// A parameter as a test's name: what is not a letter or digit becomes '_'.
inline std::string TestName(const ::testing::TestParamInfo<std::string>& info)
{
    std::string name = info.param;
    std::replace_if(name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
    return name;
}

inline RunResult RunTool(const ScratchDir& dir, const std::string& exe, const std::string& args,
                         const std::string& input = "")
{
    WriteFile(dir.file(".stdin"), input);
    const std::string command = "cd '" + dir.path().string() + "' && '" + exe + "' " + args + " < .stdin > .stdout 2>&1";
    const int raw = std::system(command.c_str());
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(dir.file(".stdout"));
    std::filesystem::remove(dir.file(".stdin"));
    std::filesystem::remove(dir.file(".stdout"));
    return r;
}

inline RunResult RunProgram(const ScratchDir& dir, const std::string& args, const std::string& input = "")
{
    return RunTool(dir, CORVEX_EXE, args, input);
}

// Copies the files of a bundled example folder into a directory.
inline void CopyExample(const ScratchDir& dir, const std::string& name)
{
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(CORVEX_EXAMPLES) / name))
        std::filesystem::copy(entry.path(), dir.path() / entry.path().filename());
}

// printf's "%W.Pe" text of v with the exponent's leading zero dropped,
// right-justified to W: the form the program writes its fields in.
inline std::string PrintfField(double v, int width, int precision)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*e", precision, v);
    std::string s = text;
    const auto e = s.find('e');
    if (e != std::string::npos && s.size() > e + 2 && s[e + 2] == '0') s.erase(e + 2, 1);
    if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), ' ');
    return s;
}

// The names of the files in a directory, sorted.
inline std::string ListDir(const ScratchDir& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& n : names) out += n + " ";
    return out;
}

// A small generated blank and the decks the generator writes for it, made
// once: the annealing deck, and the cutting deck with its point curve.
struct GeneratedJob {
    std::string blank;
    std::string annealDeck;
    std::string trimDeck;
};

inline const GeneratedJob& SmallGeneratedJob()
{
    static const GeneratedJob job = [] {
        ScratchDir dir("generated-job");
        for (const char* kind : {"anneal", "trim2d"}) {
            const std::string command = "'" CORVEX_GENBLANK "' --shape flat --elements 100 --levels 1 --nthick 3 --deck " +
                                        std::string(kind) + " -o '" + dir.file("blank.dynain") + "' > /dev/null";
            if (std::system(command.c_str()) != 0) std::abort();
        }
        return GeneratedJob{ReadFile(dir.file("blank.dynain")), ReadFile(dir.file("blank_anneal.dyn")),
                            ReadFile(dir.file("blank_trim2d.dyn"))};
    }();
    return job;
}

// The generated cutting deck with its point curve replaced by an IGES file.
inline std::string IgesDeck(const std::string& igesName)
{
    const std::string& deck = SmallGeneratedJob().trimDeck;
    const size_t data = deck.find('\n', deck.find('\n', deck.find("*DEFINE_CURVE_TRIM")) + 1) + 1;
    std::string header = deck.substr(data, deck.find('\n', data) - data);
    // TCTYPE is the second 10-column field: 2 reads the curves from an IGES file.
    header.replace(10, 10, "         2");
    return deck.substr(0, data) + header + "\n" + igesName + "\n" + deck.substr(deck.find("*INCLUDE"));
}

}  // namespace testutil

#endif
