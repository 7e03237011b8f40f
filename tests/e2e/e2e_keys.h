// The keys of the end-to-end runs: the catalogue's rows, siblings that must survive them, the
// victim trees links point to, and the behaviour tests' scratch key.
#pragma once

#include "cleanup/catalogue.h"
#include "tests/platform/win32/registry_links.h"

#include <set>
#include <string>
#include <vector>

namespace e2e {

inline std::wstring Row(int row) { return CleanupCatalogue::RegistryKeys[row - 1]; }

// Siblings whose names differ from a catalogue name in one character or extend it.
inline std::vector<std::wstring> Siblings() {
    std::set<std::wstring> keys;
    for (const WCHAR* key : CleanupCatalogue::RegistryKeys) {
        std::wstring changed = key;
        wchar_t& c = changed[changed.size() - 2];
        c = (c == L'0') ? L'1' : L'0';
        keys.insert(changed);
        keys.insert(std::wstring(key) + L"0");
    }
    return {keys.begin(), keys.end()};
}

// Every key above a catalogue key, each before its subkeys.
inline std::vector<std::wstring> Ancestors() {
    std::set<std::wstring> keys;
    for (const WCHAR* key : CleanupCatalogue::RegistryKeys)
        for (std::wstring path = key; path.rfind(L'\\') != std::wstring::npos;) keys.insert(path = path.substr(0, path.rfind(L'\\')));
    return {keys.begin(), keys.end()};
}

inline const std::wstring Victims = L"SOFTWARE\\ProductCleanupVictims";
inline const std::wstring BehaviourScratch = L"SOFTWARE\\ProductCleanupTests";  // tests/platform/win32/registry_seed.cpp

// The key itself, a link not followed; one that refuses reading is there all the same.
inline bool Exists(const std::wstring& path) {
    HKEY key;
    const LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &key);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status == ERROR_SUCCESS || status == ERROR_ACCESS_DENIED;
}

// The names of a key's subkeys, a link not followed; none when it cannot be read.
inline std::vector<std::wstring> Subkeys(const std::wstring& path) {
    std::vector<std::wstring> names;
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &key) != ERROR_SUCCESS) return names;
    WCHAR name[256];
    for (DWORD index = 0, length = 256;
         RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++index, length = 256)
        names.emplace_back(name);
    RegCloseKey(key);
    return names;
}

}  // namespace e2e
