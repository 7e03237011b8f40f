#include "commands/system_directory.h"

bool EnterSystemDirectory() {
    WCHAR directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    // 0 is a failure; MAX_PATH or more is the size a larger buffer would need.
    if (length == 0 || length >= MAX_PATH) return false;
    return SetCurrentDirectoryW(directory) != 0;
}

bool SystemProgramPath(const char* name, char* path, size_t capacity) {
    const UINT length = GetSystemDirectoryA(path, static_cast<UINT>(capacity));
    if (length == 0 || length + 1 + strlen(name) >= capacity) return false;
    return strcat_s(path, capacity, "\\") == 0 && strcat_s(path, capacity, name) == 0;
}
