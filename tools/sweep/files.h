// Scratch directories and whole-file reads and writes, shared by the sweep
// harness and the tests.
#ifndef SWEEP_FILES_H
#define SWEEP_FILES_H

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace sweepio {

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
    // CORVEX_KEEP_SCRATCH keeps the directories, to run a failing job by hand.
    ~ScratchDir()
    {
        if (std::getenv("CORVEX_KEEP_SCRATCH")) return;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
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

// What a run of a program left: its exit status and everything it printed.
struct RunResult {
    int status = -1;
    std::string out;
};

}  // namespace sweepio

#endif
