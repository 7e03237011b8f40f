// The runtime calls of the program, simulated: an environment the tests control, a current
// directory, process starts that are recorded instead of run, and the bounded string functions
// with the runtime's contract. On Windows a bounded copy past its capacity ends the process;
// here it is recorded as a violation so that the test fails with a message instead of a crash.
#include "sim_control.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>

namespace sim {
void ResetRegistry();
const wchar_t StartDirectory[] = L"C:\\Users\\Public\\Downloads";
const wchar_t SystemDirectory[] = L"C:\\Windows\\system32";
const wchar_t WindowsDirectory[] = L"C:\\Windows";
}

extern "C" void __real_free(void* pointer);  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the name the linker's --wrap=free gives the real free

namespace {

struct Runtime {
    std::map<std::string, std::string> env;
    std::map<std::string, errno_t> failingLookups;
    std::set<void*> liveCopies;
    DWORD exitCode = 0;
    std::map<std::string, std::vector<DWORD>> exitCodes;  // per program, the next first
    DWORD runTime = 0;
    ULONGLONG clock = 0;
    bool failProcessStart = false;
    std::function<void(const char*)> onProcessStart;
    std::vector<sim::ProcessStart> processes;
    // Open process and thread handles, each naming its index in processes.
    std::map<std::uintptr_t, std::size_t> processHandles;
    std::uintptr_t nextHandle = 0x80000;
    std::wstring currentDirectory = sim::StartDirectory;
    std::wstring systemDirectory = sim::SystemDirectory;
    bool failSetCurrentDirectory = false;
    std::vector<std::string> violations;
};

Runtime& State() {
    static Runtime runtime;
    return runtime;
}

// Checks shared by the bounded functions: pointers set and a capacity to write in.
template <typename Char>
bool UsableArguments(const char* function, Char* destination, rsize_t capacity, const Char* source) {
    if (destination && capacity != 0 && source) return true;
    sim::ReportViolation(std::string(function) + ": null pointer or zero capacity");
    if (destination && capacity) destination[0] = 0;
    return false;
}

// For appends, also a destination terminated within its capacity; length receives its length.
template <typename Char>
bool UsableDestination(const char* function, Char* destination, rsize_t capacity,
                       const Char* source, std::size_t& length) {
    if (!UsableArguments(function, destination, capacity, source)) return false;
    length = 0;
    while (length < capacity && destination[length] != 0) ++length;
    if (length < capacity) return true;
    sim::ReportViolation(std::string(function) + ": destination not terminated");
    destination[0] = 0;
    return false;
}

template <typename Char>
errno_t BoundedAppend(const char* function, Char* destination, rsize_t capacity,
                      std::size_t start, const Char* source, std::size_t count) {
    std::size_t length = 0;
    while (length < count && source[length] != 0) ++length;
    if (start + length >= capacity) {
        sim::ReportViolation(std::string(function) + ": result exceeds capacity " +
                             std::to_string(capacity));
        destination[0] = 0;
        return ERANGE;
    }
    for (std::size_t i = 0; i < length; ++i) destination[start + i] = source[i];
    destination[start + length] = 0;
    return 0;
}

}  // namespace

namespace sim {

void Reset() {
    ResetRegistry();
    for (void* copy : State().liveCopies) __real_free(copy);
    State() = Runtime{};
    // As Windows keeps them; Wine stores ProgramData as a literal C:\ProgramData instead.
    SetMachineFolders(L"C:\\Program Files", L"%SystemDrive%\\ProgramData");
}

void SetEnv(const std::string& name, const std::string& value) { State().env[name] = value; }

void FailEnvLookup(const std::string& name, errno_t error) { State().failingLookups[name] = error; }

int LiveEnvCopies() { return static_cast<int>(State().liveCopies.size()); }

const std::vector<ProcessStart>& Processes() { return State().processes; }

void SetExitCode(DWORD status) { State().exitCode = status; }

void SetExitCodes(const std::string& application, std::vector<DWORD> statuses) {
    State().exitCodes[application] = std::move(statuses);
}

void SetRunTime(DWORD milliseconds) { State().runTime = milliseconds; }

ULONGLONG Now() { return State().clock; }

void FailProcessStart() { State().failProcessStart = true; }

void OnProcessStart(std::function<void(const char*)> observer) { State().onProcessStart = std::move(observer); }

int OpenProcessHandleCount() { return static_cast<int>(State().processHandles.size()); }

std::vector<std::string> Commands() {
    std::vector<std::string> lines(State().processes.size());
    std::transform(State().processes.begin(), State().processes.end(), lines.begin(),
                   [](const ProcessStart& process) { return process.commandLine; });
    return lines;
}

std::vector<std::wstring> CommandDirectories() {
    std::vector<std::wstring> directories(State().processes.size());
    std::transform(State().processes.begin(), State().processes.end(), directories.begin(),
                   [](const ProcessStart& process) { return process.directory; });
    return directories;
}

void SetMachineFolders(const std::wstring& programFiles, const std::wstring& programData) {
    SetValue(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir", REG_SZ, programFiles);
    SetValue(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", L"ProgramData", REG_EXPAND_SZ,
             programData);
}

void SetSystemDirectory(const std::wstring& directory) { State().systemDirectory = directory; }

void FailSetCurrentDirectory() { State().failSetCurrentDirectory = true; }

std::wstring CurrentDirectory() { return State().currentDirectory; }

const std::vector<std::string>& Violations() { return State().violations; }

void ReportViolation(const std::string& what) {
    (void)std::fprintf(stderr, "simulated platform: %s\n", what.c_str());
    State().violations.push_back(what);
}

}  // namespace sim

extern "C" {

errno_t _dupenv_s(char** buffer, std::size_t* size, const char* name) {
    if (!buffer || !name) {
        sim::ReportViolation("_dupenv_s: null buffer or name");
        return EINVAL;
    }
    *buffer = nullptr;
    if (size) *size = 0;
    auto failing = State().failingLookups.find(name);
    if (failing != State().failingLookups.end()) return failing->second;
    auto it = State().env.find(name);
    if (it == State().env.end()) return 0;
    const std::size_t bytes = it->second.size() + 1;
    char* copy = static_cast<char*>(std::malloc(bytes));
    if (!copy) return ENOMEM;
    std::memcpy(copy, it->second.c_str(), bytes);
    State().liveCopies.insert(copy);
    *buffer = copy;
    if (size) *size = bytes;
    return 0;
}

// The test executable links with --wrap=free, so every free() of the program passes here.
void __wrap_free(void* pointer) {  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the name --wrap=free routes free() to
    State().liveCopies.erase(pointer);
    __real_free(pointer);
}

// The command processor takes its name from COMSPEC and runs what the user's AutoRun says:
// the program never goes through it.
int system(const char* /*command*/) {
    sim::ReportViolation("system: the command processor is never to be used");
    return -1;
}

// Only what the program asks for is modelled: an absolute program name, never looked up, with
// handles, environment and current directory inherited and default startup information.
// NOLINTBEGIN(bugprone-easily-swappable-parameters): the Windows signature
// cppcheck-suppress constParameter ; the Windows signature
BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES process,
                           // cppcheck-suppress constParameter ; the Windows signature
                           LPSECURITY_ATTRIBUTES thread, BOOL inheritHandles, DWORD flags,
                           // cppcheck-suppress constParameter ; the Windows signature
                           LPVOID environment, LPCSTR directory, LPSTARTUPINFOA startup,
                           LPPROCESS_INFORMATION information) {
    const bool absolute = application && std::isalpha(static_cast<unsigned char>(application[0])) &&
                          application[1] == ':' && application[2] == '\\';
    if (!absolute || !commandLine || process || thread || flags != 0 || environment || directory ||
        !startup || startup->cb != sizeof(STARTUPINFOA) || startup->dwFlags != 0 || !information) {
        sim::ReportViolation("CreateProcessA: arguments not modelled");
        return FALSE;
    }
    if (State().failProcessStart) return FALSE;
    DWORD exitCode = State().exitCode;
    auto codes = State().exitCodes.find(application);
    if (codes != State().exitCodes.end() && !codes->second.empty()) {
        exitCode = codes->second.front();
        if (codes->second.size() > 1) codes->second.erase(codes->second.begin());
    }
    State().processes.push_back(
        {application, commandLine, State().currentDirectory, inheritHandles != 0, State().clock, exitCode});
    const std::size_t index = State().processes.size() - 1;
    const auto processHandle = State().nextHandle++;
    const auto threadHandle = State().nextHandle++;
    State().processHandles[processHandle] = index;
    State().processHandles[threadHandle] = index;
    // NOLINTBEGIN(performance-no-int-to-ptr): a handle is an opaque number, as on Windows
    information->hProcess = reinterpret_cast<HANDLE>(processHandle);
    information->hThread = reinterpret_cast<HANDLE>(threadHandle);
    // NOLINTEND(performance-no-int-to-ptr)
    information->dwProcessId = static_cast<DWORD>(processHandle);
    information->dwThreadId = static_cast<DWORD>(threadHandle);
    if (State().onProcessStart) State().onProcessStart(commandLine);
    return TRUE;
}
// NOLINTEND(bugprone-easily-swappable-parameters)

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    auto it = State().processHandles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == State().processHandles.end() || milliseconds != INFINITE) {
        sim::ReportViolation("WaitForSingleObject: only an endless wait on a process is modelled");
        return WAIT_FAILED;
    }
    if (!State().processes[it->second].waitedFor) State().clock += State().runTime;
    State().processes[it->second].waitedFor = true;
    return WAIT_OBJECT_0;
}

BOOL WINAPI GetExitCodeProcess(HANDLE handle, LPDWORD status) {
    auto it = State().processHandles.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == State().processHandles.end() || !status) {
        sim::ReportViolation("GetExitCodeProcess: handle not open");
        return FALSE;
    }
    *status = State().processes[it->second].waitedFor ? State().processes[it->second].exitCode : STILL_ACTIVE;
    return TRUE;
}

ULONGLONG WINAPI GetTickCount64() { return State().clock; }

// A wait that never ends would hold the suite until its time-out: stopped at once, named.
void WINAPI Sleep(DWORD milliseconds) {
    if (milliseconds == INFINITE) sim::ReportViolation("Sleep: an endless sleep never returns");
    else if ((State().clock += milliseconds) > 24ULL * 60 * 60 * 1000) {
        sim::ReportViolation("Sleep: the simulated clock passed a day, a wait that never ends");
        std::abort();
    }
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    if (State().processHandles.erase(reinterpret_cast<std::uintptr_t>(handle)) == 0) {
        sim::ReportViolation("CloseHandle: handle not open");
        return FALSE;
    }
    return TRUE;
}

// The same directory in the ANSI code page, modelled for ASCII only.
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    const std::wstring& directory = State().systemDirectory;
    if (directory.empty()) return 0;
    if (!buffer || directory.size() >= size) return static_cast<UINT>(directory.size() + 1);
    for (std::size_t i = 0; i < directory.size(); ++i) {
        if (directory[i] >= 0x80) sim::ReportViolation("GetSystemDirectoryA: non-ASCII directory not modelled");
        buffer[i] = static_cast<char>(directory[i]);
    }
    buffer[directory.size()] = '\0';
    return static_cast<UINT>(directory.size());
}

UINT WINAPI GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size) {
    const std::size_t length = std::wcslen(sim::WindowsDirectory);
    if (!buffer || length >= size) return static_cast<UINT>(length + 1);
    std::wmemcpy(buffer, sim::WindowsDirectory, length + 1);
    return static_cast<UINT>(length);
}

// The ANSI code page for ASCII text only: other bytes depend on the machine's code page.
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide, int capacity) {
    if (codePage != CP_ACP || (flags & ~MB_ERR_INVALID_CHARS) || !text || length != -1 || !wide || capacity <= 0) {
        sim::ReportViolation("MultiByteToWideChar: arguments not modelled");
        return 0;
    }
    const std::size_t count = std::strlen(text) + 1;
    for (std::size_t i = 0; i < count; ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) {
            sim::ReportViolation("MultiByteToWideChar: non-ASCII text not modelled");
            return 0;
        }
    }
    if (count > static_cast<std::size_t>(capacity)) return 0;  // ERROR_INSUFFICIENT_BUFFER
    for (std::size_t i = 0; i < count; ++i) wide[i] = static_cast<WCHAR>(text[i]);
    return static_cast<int>(count);
}

// Ordinal, upper-casing both sides when asked, as file names compare; ASCII letters only.
int WINAPI CompareStringOrdinal(LPCWSTR first, int firstLength, LPCWSTR second, int secondLength, BOOL ignoreCase) {  // NOLINT(bugprone-easily-swappable-parameters): the Windows signature
    if (!first || !second || firstLength < -1 || secondLength < -1) {
        sim::ReportViolation("CompareStringOrdinal: arguments not modelled");
        return 0;
    }
    const std::size_t a = firstLength == -1 ? std::wcslen(first) : static_cast<std::size_t>(firstLength);
    const std::size_t b = secondLength == -1 ? std::wcslen(second) : static_cast<std::size_t>(secondLength);
    const auto fold = [&](WCHAR c) {
        if (c >= 0x80) sim::ReportViolation("CompareStringOrdinal: non-ASCII text not modelled");
        return ignoreCase && c >= L'a' && c <= L'z' ? static_cast<WCHAR>(c - L'a' + L'A') : c;
    };
    for (std::size_t i = 0; i < a && i < b; ++i) {
        const WCHAR x = fold(first[i]);
        const WCHAR y = fold(second[i]);
        if (x != y) return x < y ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
    }
    return a == b ? CSTR_EQUAL : (a < b ? CSTR_LESS_THAN : CSTR_GREATER_THAN);
}

// As documented: the length without the terminator, or when the buffer is too small the size
// it needs with the terminator, or 0 on failure.
UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size) {
    const std::wstring& directory = State().systemDirectory;
    if (directory.empty()) return 0;
    if (!buffer && size != 0) {
        sim::ReportViolation("GetSystemDirectoryW: null buffer with a size");
        return 0;
    }
    if (directory.size() >= size) return static_cast<UINT>(directory.size() + 1);
    std::wmemcpy(buffer, directory.c_str(), directory.size() + 1);
    return static_cast<UINT>(directory.size());
}

BOOL WINAPI SetCurrentDirectoryW(LPCWSTR path) {
    if (!path || !*path) {
        sim::ReportViolation("SetCurrentDirectoryW: null or empty path");
        return 0;
    }
    if (State().failSetCurrentDirectory) return 0;
    State().currentDirectory = path;
    return 1;
}

errno_t strcat_s(char* destination, rsize_t capacity, const char* source) {
    std::size_t length;
    if (!UsableDestination("strcat_s", destination, capacity, source, length)) return EINVAL;
    return BoundedAppend("strcat_s", destination, capacity, length, source, SIZE_MAX);
}

errno_t wcscpy_s(wchar_t* destination, rsize_t capacity, const wchar_t* source) {
    if (!UsableArguments("wcscpy_s", destination, capacity, source)) return EINVAL;
    return BoundedAppend("wcscpy_s", destination, capacity, 0, source, SIZE_MAX);
}

errno_t wcsncat_s(wchar_t* destination, rsize_t capacity, const wchar_t* source, rsize_t count) {
    std::size_t length;
    if (!UsableDestination("wcsncat_s", destination, capacity, source, length)) return EINVAL;
    return BoundedAppend("wcsncat_s", destination, capacity, length, source, count);
}

}  // extern "C"
