// What tests use to arrange and inspect the simulated platform.
#pragma once

#include "platform.h"

#include <functional>
#include <string>
#include <vector>

namespace sim {

// DeleteKey is RegDeleteKeyW; NtDeleteKey deletes through a handle.
enum class Op { DeleteKey, OpenKey, EnumKey, CloseKey, NtDeleteKey };

struct RegistryCall {
    Op op;
    // Full path under HKEY_LOCAL_MACHINE as the caller named it: a relative open's is the path of
    // the handle it was opened from and the name below it; a handle call's is the handle's path.
    std::wstring path;
    LONG status;        // a Win32 error, or for NtDeleteKey an NTSTATUS
    DWORD options = 0;  // opens only
    REGSAM access = 0;  // opens only
    std::wstring reached;  // successful opens only: where the key opened stood at that moment
};

// Clears the whole simulated machine: registry, handles, faults, logs, environment, commands.
void Reset();

// Registry arrangement. Paths are relative to HKEY_LOCAL_MACHINE.
// Links on the way are followed, as RegCreateKeyExW does.
bool CreateKey(const std::wstring& path);  // with every missing parent; false on a bad name
// A symbolic link at `path` (parents created) to the key `target` names; false if path exists.
bool CreateLink(const std::wstring& path, const std::wstring& target);
bool KeyExists(const std::wstring& path);  // the key itself: a link at the end is not followed
// The key itself under a new name in the same parent, as RegRenameKey does: handles stay on it.
// False when it is absent, is the root, or a sibling has the name.
bool RenameKey(const std::wstring& path, const std::wstring& newName);
// The key itself and everything below it; handles to them answer as to deleted keys.
bool DeleteTree(const std::wstring& path);
// Every key, sorted, one "path" or "path -> target" line each, links not followed.
std::vector<std::wstring> KeyListing();
// The key's own security (a link's own, not its target's) refuses opens that ask for `access`.
void DenyAccess(const std::wstring& path, REGSAM access);
// From now on every call of `op` on `path` (compared case-insensitively) answers `status`.
void FailCall(Op op, const std::wstring& path, LONG status);

// Another process: `turn` runs before each of the program's registry calls. What it does
// through the arrangement functions above is no call of the program's and is not logged.
void SetOtherProcess(std::function<void()> turn);

const std::vector<RegistryCall>& RegistryCalls();
int OpenHandleCount();

// Runtime arrangement.
void SetEnv(const std::string& name, const std::string& value);
void FailEnvLookup(const std::string& name, errno_t error);
int LiveEnvCopies();  // copies handed out by _dupenv_s and not yet freed

void SetSystemResult(int result);
void OnSystem(std::function<void(const char* command)> observer);
const std::vector<std::string>& Commands();
// The current directory when each command ran, in the same order as Commands().
const std::vector<std::wstring>& CommandDirectories();

// The process starts in StartDirectory; GetSystemDirectoryW answers SystemDirectory unless
// told otherwise. An empty directory makes GetSystemDirectoryW fail.
extern const wchar_t StartDirectory[];
extern const wchar_t SystemDirectory[];
void SetSystemDirectory(const std::wstring& directory);
void FailSetCurrentDirectory();
std::wstring CurrentDirectory();

// Calls that a real machine would not survive (a bounded copy past its capacity) or that the
// simulation does not model (other roots, options, access rights, handles not open). Each is
// also written to stderr when it happens.
const std::vector<std::string>& Violations();
void ReportViolation(const std::string& what);

}  // namespace sim
