#pragma once

#include <string>

// Arranging a registry for the behaviour tests, on whichever platform the tests link against.
// Paths are relative to HKEY_LOCAL_MACHINE.
namespace seed {

extern const wchar_t ScratchKey[];

void BeginRegistryTest();  // an empty scratch key
void EndRegistryTest();    // the scratch key removed
bool CreateKey(const std::wstring& path);
bool KeyExists(const std::wstring& path);

}  // namespace seed
