#include "tests/platform/registry_seed.h"

#include "tests/platform/win32/registry_links.h"

#include <gtest/gtest.h>

namespace seed {

const wchar_t ScratchKey[] = L"SOFTWARE\\ProductCleanupTests";

void BeginRegistryTest() {
    DeleteTreeNoFollow(ScratchKey);
    ASSERT_TRUE(CreateKey(ScratchKey));
}

void EndRegistryTest() { EXPECT_EQ(DeleteTreeNoFollow(ScratchKey), ERROR_SUCCESS); }

bool CreateKey(const std::wstring& path) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool CreateLink(const std::wstring& path, const std::wstring& target) {
    return CreateRegistryLink(path, target) == ERROR_SUCCESS;
}

bool KeyExists(const std::wstring& path) { return KeyItselfExists(path); }

bool SetValue(const std::wstring& path, const std::wstring& name, unsigned long type, const std::wstring& text) {
    const DWORD zero = 0;
    const bool number = type == REG_DWORD;
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, path.c_str(), name.c_str(), type,
                           number ? static_cast<const void*>(&zero) : text.c_str(),
                           number ? sizeof zero : static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))) ==
           ERROR_SUCCESS;
}

bool RenameKey(const std::wstring& path, const std::wstring& newName) {
    return RegRenameKey(HKEY_LOCAL_MACHINE, path.c_str(), newName.c_str()) == ERROR_SUCCESS;
}

}  // namespace seed
