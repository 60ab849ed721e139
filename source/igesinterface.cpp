#include "igesinterface.h"

#include "igesdllload.h"
#include "qdsmessage.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using IgesUnitProc = void (*)(int*, const char*, int);
using IgesTranslateProc = void (*)(int*, int*, int*, const char*, int, int);
using IgesOnlyLinProc = void (*)(int*, int*, float*, int);

constexpr const char* kIgesLibraryName = "libigesdll.so";

// The library ships beside the program; the current directory is wherever the user happens to
// be, and a library found there would run someone else's code.
std::string IgesLibraryPath() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return {};
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            const std::string exe(buffer.data(), static_cast<std::size_t>(length));
            const std::size_t slash = exe.rfind('/');
            return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1) + kIgesLibraryName;
        }
        buffer.resize(buffer.size() * 2);
    }
}

template <typename Proc>
Proc FindProc(LoadIgesDll& library, const char* name) {
    if (library.GetDynamicProcAddress(name) != 1) {
        return nullptr;
    }
    // The library's entry points are plain C functions; dlsym can only hand them over as data.
    Proc proc = nullptr;
    void* const address = library.ProcAddress();
    static_assert(sizeof(proc) == sizeof(address));
    std::memcpy(&proc, &address, sizeof(proc));
    return proc;
}

}  // namespace

int dyn2igesforbead(const char* file, int* counts, float* coords, int maxLines) {
    LoadIgesDll library;
    const std::string path = IgesLibraryPath();
    if (path.empty() || library.LoadDynamicLibrary(path.c_str()) != 1) {
        ShowLine("No IGES Dll found");
        return 0;
    }

    int unit = 0;
    if (const auto igesUnit = FindProc<IgesUnitProc>(library, "igesUnit")) {
        igesUnit(&unit, file, 0);
    }
    if (const auto igestranslate = FindProc<IgesTranslateProc>(library, "igestranslate")) {
        int status = 0;
        int ten = 10;
        igestranslate(&status, &unit, &ten, file, 0, 0);
    }
    int lines = 0;
    if (const auto getigesonlylin = FindProc<IgesOnlyLinProc>(library, "getigesonlylin")) {
        getigesonlylin(&lines, counts, coords, maxLines);
    }
    library.FreeDynamicLibrary();
    // A count outside the caller's arrays would send the caller reading past them.
    return std::clamp(lines, 0, std::max(0, maxLines));
}
