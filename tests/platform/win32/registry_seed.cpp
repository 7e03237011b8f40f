#include "tests/platform/registry_seed.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace seed {

const wchar_t ScratchKey[] = L"SOFTWARE\\ProductCleanupTests";

void BeginRegistryTest() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, ScratchKey);
    ASSERT_TRUE(CreateKey(ScratchKey));
}

void EndRegistryTest() { EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, ScratchKey), ERROR_SUCCESS); }

bool CreateKey(const std::wstring& path) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool KeyExists(const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

}  // namespace seed
