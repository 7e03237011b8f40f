#pragma once

#include "platform.h"

#include <cstdio>
#include <cwchar>
#include <string>

// Registry links for the Windows-side tests: making one, telling whether a key itself exists,
// and deleting a tree that may hold some; keys that carry a "Trace" value to check later; and a
// key's own security set to refuse rights.
namespace seed {

// A key, with every missing parent, holding the "Trace" value trace (none when trace is null).
inline bool CreateTracedKey(const std::wstring& path, const wchar_t* trace) {
    HKEY key;
    const LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                        &key, nullptr);
    if (status != ERROR_SUCCESS) {
        std::fprintf(stderr, "create %ls: %ld\n", path.c_str(), status);
        return false;
    }
    if (trace != nullptr)
        RegSetValueExW(key, L"Trace", 0, REG_SZ, reinterpret_cast<const BYTE*>(trace),
                       static_cast<DWORD>((std::wcslen(trace) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return true;
}

// Whether the key still holds the "Trace" value trace; else the status that says why not.
inline LONG CheckTrace(const std::wstring& path, const wchar_t* trace) {
    wchar_t data[32] = L"";
    DWORD size = sizeof data;
    const LONG status = RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), L"Trace", RRF_RT_REG_SZ, nullptr, data, &size);
    if (status != ERROR_SUCCESS) return status;
    return std::wstring(data) == trace ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

// The key itself, a link at the end not followed.
inline bool KeyItselfExists(const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// A symbolic link at path (under HKEY_LOCAL_MACHINE) to the key target names.
inline LONG CreateRegistryLink(const std::wstring& path, const std::wstring& target) {
    HKEY key;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                  KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    // An absolute name, without a terminator.
    const std::wstring absolute = L"\\Registry\\Machine\\" + target;
    status = RegSetValueExW(key, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(absolute.data()),
                            static_cast<DWORD>(absolute.size() * sizeof(wchar_t)));
    RegCloseKey(key);
    return status;
}

// The key itself (a link's own) refuses Everyone the rights in access and grants all the others;
// 0 refuses nothing. Its owner, who made it, can always change this again, on Windows and Wine.
inline LONG RefuseToEveryone(const std::wstring& path, DWORD access) {
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof everyone;
    if (!CreateWellKnownSid(WinWorldSid, nullptr, everyone, &sidSize)) return static_cast<LONG>(GetLastError());
    alignas(DWORD) BYTE aclBuffer[256];
    auto* acl = reinterpret_cast<PACL>(aclBuffer);
    if (!InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION) ||
        (access != 0 && !AddAccessDeniedAce(acl, ACL_REVISION, access, everyone)) ||
        !AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, everyone))
        return static_cast<LONG>(GetLastError());
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
    HKEY key;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, WRITE_DAC, &key);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
    RegCloseKey(key);
    return status;
}

// Deletes a test's key tree without following links, which RegDeleteTreeW would: a link is
// opened as a link and deleted through its handle, whatever it points to. A key a test set to
// refuse everyone gets its rights back first, which its owner may always do.
inline LONG DeleteTreeNoFollow(const std::wstring& path) {
    HKEY key;
    const auto open = [&] { return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | DELETE, &key); };
    LONG opened = open();
    if (opened == ERROR_ACCESS_DENIED && RefuseToEveryone(path, 0) == ERROR_SUCCESS) opened = open();
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
