#include "igesinterface.h"

#include "igesdllload.h"
#include "qdsmessage.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

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

namespace {

bool WriteAll(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadAll(int fd, void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

constexpr std::size_t kPlane = 500000;
// Real trim-curve files translate in seconds; some malformed conic arcs send the toolkit into a
// loop that never ends, and the run must end all the same.
constexpr unsigned kTranslateSeconds = 120;

// The child's side: the three calls, then the polyline count, the counts and the used part of
// each coordinate plane down the pipe.
void TranslateInChild(LoadIgesDll& library, const char* file, int* counts, float* coords, int maxLines, int fd) {
    alarm(kTranslateSeconds);
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
    std::fflush(stdout);
    lines = std::clamp(lines, 0, std::max(0, maxLines));
    std::size_t points = 0;
    for (int k = 0; k < lines; ++k) points += static_cast<std::size_t>(std::max(counts[k], 0));
    points = std::min(points, kPlane);
    bool sent = WriteAll(fd, &lines, sizeof lines) &&
                WriteAll(fd, counts, sizeof(int) * static_cast<std::size_t>(lines));
    for (std::size_t plane = 0; sent && plane < 3; ++plane) {
        sent = WriteAll(fd, coords + plane * kPlane, sizeof(float) * points);
    }
    _exit(sent ? 0 : 1);
}

}  // namespace

int dyn2igesforbead(const char* file, int* counts, float* coords, int maxLines) {
    LoadIgesDll library;
    const std::string path = IgesLibraryPath();
    if (path.empty() || library.LoadDynamicLibrary(path.c_str()) != 1) {
        ShowLine("No IGES Dll found");
        return 0;
    }
    if (file == nullptr || counts == nullptr || coords == nullptr || maxLines < 1) {
        return 0;
    }

    // The toolkit under the translator trusts the files it parses, and some malformed entities
    // crash it. It reads in a child process, so that such a file costs its curve set, not the run.
    int fds[2];
    if (pipe(fds) != 0) {
        return 0;
    }
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) {
        close(fds[0]);
        close(fds[1]);
        return 0;
    }
    if (child == 0) {
        close(fds[0]);
        TranslateInChild(library, file, counts, coords, maxLines, fds[1]);
    }
    close(fds[1]);
    int lines = 0;
    bool received = ReadAll(fds[0], &lines, sizeof lines) && lines >= 0 && lines <= maxLines &&
                    ReadAll(fds[0], counts, sizeof(int) * static_cast<std::size_t>(lines));
    std::size_t points = 0;
    for (int k = 0; received && k < lines; ++k) points += static_cast<std::size_t>(std::max(counts[k], 0));
    received = received && points <= kPlane;
    for (std::size_t plane = 0; received && plane < 3; ++plane) {
        received = ReadAll(fds[0], coords + plane * kPlane, sizeof(float) * points);
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    library.FreeDynamicLibrary();
    if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ShowLine(CsString("The IGES translator failed on the file: ") + file);
        return 0;
    }
    return lines;
}
