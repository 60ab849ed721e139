// Run-time loading of a shared library and lookup of its entry points.
#ifndef IGESDLLLOAD_H
#define IGESDLLLOAD_H

class LoadIgesDll {
public:
    LoadIgesDll() = default;
    ~LoadIgesDll();
    LoadIgesDll(const LoadIgesDll&) = delete;
    LoadIgesDll& operator=(const LoadIgesDll&) = delete;

    // Each returns 1 on success, -1 when the system call fails and 0 when there is nothing to
    // work on (no name, no library loaded).
    int LoadDynamicLibrary(const char* path);
    int GetDynamicProcAddress(const char* name);
    int FreeDynamicLibrary();

    // The address found by the last GetDynamicProcAddress; null when that lookup failed.
    void* ProcAddress() const { return m_procAddress; }

private:
    void* m_library = nullptr;
    void* m_procAddress = nullptr;
};

#endif
