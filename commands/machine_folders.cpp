#include "commands/machine_folders.h"

namespace {

// Wide characters, terminator included: a longer folder could not fit a command either.
constexpr size_t FolderCapacity = 1024;

bool HoldsCommandSyntax(const char* value) {
    for (const char* c = value; *c; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte < 0x20 || byte == 0x7F || strchr("\"&|<>^%", byte)) return true;
    }
    return false;
}

// The folder as Windows keeps it, a leading %SystemDrive% taken from the Windows directory and
// never from the environment. Any other variable stays as text, which no accepted value matches.
bool ReadMachineFolder(MachineFolder which, WCHAR* folder) {
    const bool files = which == MachineFolder::ProgramFiles;
    const WCHAR* const key = files ? L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
                                   : L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    WCHAR stored[FolderCapacity];
    DWORD size = sizeof stored;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, files ? L"ProgramFilesDir" : L"ProgramData",
                     RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, stored, &size) != ERROR_SUCCESS)
        return false;

    const WCHAR systemDrive[] = L"%SystemDrive%";
    const int driveLength = lstrlenW(systemDrive);
    const WCHAR* rest = stored;
    folder[0] = 0;
    if (lstrlenW(stored) >= driveLength &&
        CompareStringOrdinal(stored, driveLength, systemDrive, driveLength, TRUE) == CSTR_EQUAL) {
        WCHAR windows[MAX_PATH];
        const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
        if (length < 2 || length >= MAX_PATH || windows[1] != L':') return false;
        wcsncat_s(folder, FolderCapacity, windows, 2);
        rest += driveLength;
    }
    // Fits: the stored value fitted, and a drive is shorter than the variable it replaces.
    return wcsncat_s(folder, FolderCapacity, rest, FolderCapacity) == 0;
}

}  // namespace

bool IsMachineFolder(const char* value, MachineFolder folder) {
    if (HoldsCommandSyntax(value)) return false;
    WCHAR machine[FolderCapacity];
    WCHAR wide[FolderCapacity];
    return ReadMachineFolder(folder, machine) &&
           MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, value, -1, wide, static_cast<int>(FolderCapacity)) != 0 &&
           CompareStringOrdinal(wide, -1, machine, -1, TRUE) == CSTR_EQUAL;
}
