// What tests use to arrange and inspect the simulated platform.
#pragma once

#include "platform.h"

#include <functional>
#include <string>
#include <vector>

namespace sim {

// DeleteKey is RegDeleteKeyW; NtDeleteKey deletes through a handle; GetValue is RegGetValueW.
enum class Op { DeleteKey, OpenKey, EnumKey, CloseKey, NtDeleteKey, GetValue };

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

// A fresh simulated machine: its registry holds only its folders (SetMachineFolders); no
// handles, faults, logs, environment or commands.
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
// A value of the key (created with its parents); string types only, and REG_DWORD to be refused.
bool SetValue(const std::wstring& path, const std::wstring& name, DWORD type, const std::wstring& data);
// The key's own security (a link's own, not its target's) refuses opens that ask for `access`,
// and from now on only those: 0 gives every right back.
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

// A process the program started: the program, its command line, the current directory it
// started in, whether it inherited handles, and whether the program waited for it to end.
struct ProcessStart {
    std::string application;
    std::string commandLine;
    std::wstring directory;
    bool inheritedHandles;
    ULONGLONG startedAt;  // on the simulated clock
    DWORD exitCode;
    bool waitedFor = false;
};
const std::vector<ProcessStart>& Processes();
// Every started process ends with this exit status, once waited for; before, it is still active.
void SetExitCode(DWORD status);
// Each start of the program at this path ends with the next of these statuses instead; once
// they run out, the last one repeats.
void SetExitCodes(const std::string& application, std::vector<DWORD> statuses);
// Every started process takes this long, on the simulated clock, until its end is waited for.
void SetRunTime(DWORD milliseconds);
void FailProcessStart();  // CreateProcessA answers FALSE
void OnProcessStart(std::function<void(const char* commandLine)> observer);
int OpenProcessHandleCount();
// The command lines and their current directories, in the order the processes started.
std::vector<std::string> Commands();
std::vector<std::wstring> CommandDirectories();

// The machine's folders in HKLM; after Reset, "C:\Program Files" and Windows' own
// "%SystemDrive%\ProgramData". The environment holds neither until a test sets it.
void SetMachineFolders(const std::wstring& programFiles, const std::wstring& programData);

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
