#pragma once

#include "platform.h"

#include <string>

namespace seed {

// Deletes a test's key tree without following links, which RegDeleteTreeW would: a link is
// opened as a link and deleted through its handle, whatever it points to.
inline LONG DeleteTreeNoFollow(const std::wstring& path) {
    HKEY key;
    const LONG opened =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | DELETE, &key);
    if (opened != ERROR_SUCCESS) return opened;
    for (;;) {
        WCHAR name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (DeleteTreeNoFollow(path + L"\\" + name) != ERROR_SUCCESS) break;
    }
    const NTSTATUS deleted = NtDeleteKey(key);
    RegCloseKey(key);
    return deleted == STATUS_SUCCESS ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

}  // namespace seed
