// Small helpers shared by the tests: scratch directories and files.
#ifndef TEST_HELPERS_H
#define TEST_HELPERS_H

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace testutil {

// A fresh directory under the system's temporary folder, removed at the end.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& tag)
    {
        path_ = std::filesystem::temp_directory_path() /
                ("corvex-" + tag + "-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() { std::error_code ec; std::filesystem::remove_all(path_, ec); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    static inline int counter_ = 0;
    std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the program in a directory with the given arguments and standard
// input; its exit status and everything it printed.
struct RunResult {
    int status = -1;
    std::string out;
};

inline RunResult RunProgram(const ScratchDir& dir, const std::string& args, const std::string& input = "")
{
    WriteFile(dir.file(".stdin"), input);
    const std::string command = "cd '" + dir.path().string() + "' && '" CORVEX_EXE "' " + args +
                                " < .stdin > .stdout 2>&1";
    const int raw = std::system(command.c_str());
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(dir.file(".stdout"));
    std::filesystem::remove(dir.file(".stdin"));
    std::filesystem::remove(dir.file(".stdout"));
    return r;
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

}  // namespace testutil

#endif
