// What tests use to arrange and inspect the simulated platform.
#pragma once

#include "platform.h"

#include <functional>
#include <string>
#include <vector>

namespace sim {

enum class Op { DeleteKey, OpenKey, EnumKey, CloseKey };

struct RegistryCall {
    Op op;
    std::wstring path;  // full path under HKEY_LOCAL_MACHINE; for handle calls, the handle's key
    LONG status;
};

// Clears the whole simulated machine: registry, handles, faults, logs, environment, commands.
void Reset();

// Registry arrangement. Paths are relative to HKEY_LOCAL_MACHINE.
bool CreateKey(const std::wstring& path);  // with every missing parent; false on a bad name
bool KeyExists(const std::wstring& path);
// From now on every call of `op` on `path` (compared case-insensitively) answers `status`.
void FailCall(Op op, const std::wstring& path, LONG status);

const std::vector<RegistryCall>& RegistryCalls();
int OpenHandleCount();

// Runtime arrangement.
void SetEnv(const std::string& name, const std::string& value);
void FailEnvLookup(const std::string& name, errno_t error);
int LiveEnvCopies();  // copies handed out by _dupenv_s and not yet freed

void SetSystemResult(int result);
void OnSystem(std::function<void(const char* command)> observer);
const std::vector<std::string>& Commands();

// Calls that a real machine would not survive (a bounded copy past its capacity) or that the
// simulation does not model (other roots, options, access rights, stale handles). Each is
// also written to stderr when it happens.
const std::vector<std::string>& Violations();
void ReportViolation(const std::string& what);

}  // namespace sim
