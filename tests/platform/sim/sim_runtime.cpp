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
    ULONGLONG clock = 0;  // milliseconds from Reset; only Sleep and waited-for processes advance it
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

Runtime& State() { static Runtime runtime; return runtime; }

// A call the simulation does not model, or that Windows would not survive: named, then failed.
template <typename Answer>
Answer Refuse(const std::string& what, Answer answer) {
    sim::ReportViolation(what);
    return answer;
}

// The open process or thread handle's process, or null.
sim::ProcessStart* ProcessOf(HANDLE handle) {
    const auto it = State().processHandles.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == State().processHandles.end() ? nullptr : &State().processes[it->second];
}

// The length of text up to its terminator, looking at no more than limit characters.
template <typename Char>
std::size_t BoundedLength(const Char* text, std::size_t limit) {
    std::size_t length = 0;
    while (length < limit && text[length] != 0) ++length;
    return length;
}

// The directory the Get*DirectoryW/A calls answer: its length, or the size a buffer needs.
template <typename Char>
UINT CopyDirectory(const std::wstring& directory, Char* buffer, UINT size) {
    if (!buffer || directory.size() >= size) return static_cast<UINT>(directory.size() + 1);
    std::transform(directory.c_str(), directory.c_str() + directory.size() + 1, buffer,
                   [](wchar_t c) { return static_cast<Char>(c); });
    return static_cast<UINT>(directory.size());
}

// The runtime's bounded copy and appends: pointers set, a capacity to write in, an append's
// destination terminated within it, and a result that fits; else the destination is emptied.
template <typename Char>
errno_t BoundedAppend(const char* function, Char* destination, rsize_t capacity, const Char* source,
                      std::size_t count, bool append) {
    if (!destination || capacity == 0 || !source) {
        if (destination && capacity) destination[0] = 0;
        return Refuse(std::string(function) + ": null pointer or zero capacity", EINVAL);
    }
    const std::size_t start = append ? BoundedLength(destination, capacity) : 0;
    if (start == capacity) {
        destination[0] = 0;
        return Refuse(std::string(function) + ": destination not terminated", EINVAL);
    }
    const std::size_t length = BoundedLength(source, count);
    if (start + length >= capacity) {
        destination[0] = 0;
        return Refuse(std::string(function) + ": result exceeds capacity " + std::to_string(capacity), ERANGE);
    }
    std::copy_n(source, length, destination + start);
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
void FailProcessStart() { State().failProcessStart = true; }
void OnProcessStart(std::function<void(const char*)> observer) { State().onProcessStart = std::move(observer); }
int OpenProcessHandleCount() { return static_cast<int>(State().processHandles.size()); }

// One field of every process, in the order they started.
template <typename Field>
std::vector<Field> EachProcess(Field ProcessStart::*field) {
    std::vector<Field> values(State().processes.size());
    std::transform(State().processes.begin(), State().processes.end(), values.begin(),
                   [field](const ProcessStart& process) { return process.*field; });
    return values;
}

std::vector<std::string> Commands() { return EachProcess(&ProcessStart::commandLine); }
std::vector<std::wstring> CommandDirectories() { return EachProcess(&ProcessStart::directory); }

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
    if (!buffer || !name) return Refuse("_dupenv_s: null buffer or name", EINVAL);
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
int system(const char* /*command*/) { return Refuse("system: the command processor is never to be used", -1); }

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
        !startup || startup->cb != sizeof(STARTUPINFOA) || startup->dwFlags != 0 || !information)
        return Refuse("CreateProcessA: arguments not modelled", FALSE);
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
    sim::ProcessStart* process = ProcessOf(handle);
    if (!process || milliseconds != INFINITE)
        return Refuse("WaitForSingleObject: only an endless wait on a process is modelled", WAIT_FAILED);
    if (!process->waitedFor) State().clock += State().runTime;
    process->waitedFor = true;
    return WAIT_OBJECT_0;
}

BOOL WINAPI GetExitCodeProcess(HANDLE handle, LPDWORD status) {
    const sim::ProcessStart* process = ProcessOf(handle);
    if (!process || !status) return Refuse("GetExitCodeProcess: handle not open", FALSE);
    *status = process->waitedFor ? process->exitCode : STILL_ACTIVE;
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
    if (State().processHandles.erase(reinterpret_cast<std::uintptr_t>(handle)) == 0)
        return Refuse("CloseHandle: handle not open", FALSE);
    return TRUE;
}

// The same directory in the ANSI code page, modelled for ASCII only.
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
    const std::wstring& directory = State().systemDirectory;
    if (directory.empty()) return 0;
    const UINT answer = CopyDirectory(directory, buffer, size);
    const auto nonAscii = [](wchar_t c) { return c >= 0x80; };
    if (answer == directory.size() && std::any_of(directory.begin(), directory.end(), nonAscii))
        sim::ReportViolation("GetSystemDirectoryA: non-ASCII directory not modelled");
    return answer;
}

UINT WINAPI GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size) {
    return CopyDirectory(sim::WindowsDirectory, buffer, size);
}

// The ANSI code page for ASCII text only: other bytes depend on the machine's code page.
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide, int capacity) {
    if (codePage != CP_ACP || (flags & ~MB_ERR_INVALID_CHARS) || !text || length != -1 || !wide || capacity <= 0)
        return Refuse("MultiByteToWideChar: arguments not modelled", 0);
    const std::size_t count = std::strlen(text) + 1;
    if (std::any_of(text, text + count, [](char c) { return static_cast<unsigned char>(c) >= 0x80; }))
        return Refuse("MultiByteToWideChar: non-ASCII text not modelled", 0);
    if (count > static_cast<std::size_t>(capacity)) return 0;  // ERROR_INSUFFICIENT_BUFFER
    std::copy_n(text, count, wide);
    return static_cast<int>(count);
}

// Ordinal, upper-casing both sides when asked, as file names compare; ASCII letters only.
int WINAPI CompareStringOrdinal(LPCWSTR first, int firstLength, LPCWSTR second, int secondLength, BOOL ignoreCase) {  // NOLINT(bugprone-easily-swappable-parameters): the Windows signature
    if (!first || !second || firstLength < -1 || secondLength < -1)
        return Refuse("CompareStringOrdinal: arguments not modelled", 0);
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
    if (State().systemDirectory.empty()) return 0;
    if (!buffer && size != 0) return Refuse("GetSystemDirectoryW: null buffer with a size", 0u);
    return CopyDirectory(State().systemDirectory, buffer, size);
}

BOOL WINAPI SetCurrentDirectoryW(LPCWSTR path) {
    if (!path || !*path) return Refuse("SetCurrentDirectoryW: null or empty path", FALSE);
    if (State().failSetCurrentDirectory) return 0;
    State().currentDirectory = path;
    return 1;
}

errno_t strcat_s(char* destination, rsize_t capacity, const char* source) {
    return BoundedAppend("strcat_s", destination, capacity, source, SIZE_MAX, true);
}

errno_t wcscpy_s(wchar_t* destination, rsize_t capacity, const wchar_t* source) {
    return BoundedAppend("wcscpy_s", destination, capacity, source, SIZE_MAX, false);
}

errno_t wcsncat_s(wchar_t* destination, rsize_t capacity, const wchar_t* source, rsize_t count) {
    return BoundedAppend("wcsncat_s", destination, capacity, source, count, true);
}

}  // extern "C"
