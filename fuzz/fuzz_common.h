// What every fuzz target shares: a private scratch directory, a quiet
// console, and a model that starts empty for every input.
#ifndef FUZZ_COMMON_H
#define FUZZ_COMMON_H

#include "qdsdatabase.h"
#include "qdsmessage.h"
#include "qdstrimbase.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzutil {

// One directory per process, so that two fuzzers never share a file; libFuzzer
// reports on stderr, so the program's own console lines can go.
inline const std::string& ScratchDir()
{
    static const std::string dir = [] {
        std::string path = "/tmp/corvex-fuzz-" + std::to_string(getpid());
        std::string command = "mkdir -p '" + path + "'";
        if (std::system(command.c_str()) != 0) std::abort();
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            std::fflush(stdout);
            dup2(null, STDOUT_FILENO);
            close(null);
        }
        return path;
    }();
    return dir;
}

inline std::string ScratchFile(const char* name) { return ScratchDir() + "/" + name; }

inline void WriteBytes(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, out) != size) std::abort();
    std::fclose(out);
}

// The global model and message list as a fresh process has them.
inline void ResetModel()
{
    hashOper.Release();
    dataManage.Release();
    CsMessage::Free();
}

}  // namespace fuzzutil

#endif
