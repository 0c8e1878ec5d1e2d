// The POSIX calls that the shared test helpers (tests/common/TestFiles.h) use, on top of
// the Windows C runtime, so their tests compile for Windows unchanged.
#pragma once
#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#include <stdlib.h>

#include <cstring>
#include <string>

inline int setenv(const char* name, const char* value, int) {
    return _putenv_s(name, value);
}
inline int unsetenv(const char* name) {
    return _putenv_s(name, "");  // an empty value removes the variable
}
inline char* mkdtemp(char* pattern) {
    // "/dev/shm" does not exist on Windows: refused, as on a system without it.
    if (std::string(pattern).rfind("/dev/", 0) == 0 ||
        _mktemp_s(pattern, std::strlen(pattern) + 1) != 0) {
        return nullptr;
    }
    return _mkdir(pattern) == 0 ? pattern : nullptr;
}
#endif
