#pragma once

#include <string>

// Arranging a registry for the behaviour tests, on whichever platform the tests link against.
// Paths are relative to HKEY_LOCAL_MACHINE.
namespace seed {

extern const wchar_t ScratchKey[];

void BeginRegistryTest();  // an empty scratch key
void EndRegistryTest();    // the scratch key removed
bool CreateKey(const std::wstring& path);
bool CreateLink(const std::wstring& path, const std::wstring& target);  // a symbolic link
bool KeyExists(const std::wstring& path);  // the key itself: a link at the end is not followed
// A value, its key created as needed: a string of that type, or for REG_DWORD a zero.
bool SetValue(const std::wstring& path, const std::wstring& name, unsigned long type, const std::wstring& text);
bool RenameKey(const std::wstring& path, const std::wstring& newName);  // as RegRenameKey

}  // namespace seed
