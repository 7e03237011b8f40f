#pragma once

#include <string>

// Arranging a machine for the behaviour tests, on whichever platform the tests link against.
// Registry paths are relative to HKEY_LOCAL_MACHINE.
namespace seed {

extern const wchar_t ScratchKey[];

void BeginRegistryTest();  // an empty scratch key, and the environment a new process gets
void EndRegistryTest();    // the scratch key removed
bool CreateKey(const std::wstring& path);
bool CreateLink(const std::wstring& path, const std::wstring& target);  // a symbolic link
bool KeyExists(const std::wstring& path);  // the key itself: a link at the end is not followed
// A value, its key created as needed: a string of that type, or for REG_DWORD a zero.
bool SetValue(const std::wstring& path, const std::wstring& name, unsigned long type, const std::wstring& text);
bool RenameKey(const std::wstring& path, const std::wstring& newName);  // as RegRenameKey
// The key's own security (a link's own) refuses opens that ask for any right in `access`, and
// only those: 0 refuses nothing. Whatever a test refused is given back before the scratch key goes.
bool DenyAccess(const std::wstring& path, unsigned long access);
// The current directory that a program started as the run starts its commands begins in.
std::wstring StartedProgramDirectory();

}  // namespace seed
