#include "igesdllload.h"

#include <dlfcn.h>

LoadIgesDll::~LoadIgesDll() { FreeDynamicLibrary(); }

int LoadIgesDll::LoadDynamicLibrary(const char* path) {
    if (path == nullptr || *path == '\0') {
        return 0;
    }
    FreeDynamicLibrary();
    m_library = dlopen(path, RTLD_LAZY);
    return m_library != nullptr ? 1 : -1;
}

int LoadIgesDll::GetDynamicProcAddress(const char* name) {
    // A failed lookup must not leave the previous entry point callable under the new name.
    m_procAddress = nullptr;
    if (m_library == nullptr || name == nullptr) {
        return 0;
    }
    m_procAddress = dlsym(m_library, name);
    return m_procAddress != nullptr ? 1 : -1;
}

int LoadIgesDll::FreeDynamicLibrary() {
    m_procAddress = nullptr;
    if (m_library == nullptr) {
        return 0;
    }
    const int closed = dlclose(m_library);
    m_library = nullptr;
    return closed == 0 ? 1 : -1;
}
