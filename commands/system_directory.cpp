#include "commands/system_directory.h"

bool EnterSystemDirectory() {
    WCHAR directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    // 0 is a failure; MAX_PATH or more is the size a larger buffer would need.
    if (length == 0 || length >= MAX_PATH) return false;
    return SetCurrentDirectoryW(directory) != 0;
}
