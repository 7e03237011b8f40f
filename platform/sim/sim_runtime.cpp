// The runtime calls of the program, simulated: an environment the tests control, a current
// directory, a system() that records instead of running, and the bounded string functions
// with the runtime's contract. On Windows a bounded copy past its capacity ends the process;
// here it is recorded as a violation so that the test fails with a message instead of a crash.
#include "sim_control.h"

#include <map>
#include <set>

namespace sim {
void ResetRegistry();
const wchar_t StartDirectory[] = L"C:\\Users\\Public\\Downloads";
const wchar_t SystemDirectory[] = L"C:\\Windows\\system32";
}

extern "C" void __real_free(void* pointer);  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the name the linker's --wrap=free gives the real free

namespace {

struct Runtime {
    std::map<std::string, std::string> env;
    std::map<std::string, errno_t> failingLookups;
    std::set<void*> liveCopies;
    int systemResult = 0;
    std::function<void(const char*)> onSystem;
    std::vector<std::string> commands;
    std::vector<std::wstring> commandDirectories;
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
}

void SetEnv(const std::string& name, const std::string& value) { State().env[name] = value; }

void FailEnvLookup(const std::string& name, errno_t error) { State().failingLookups[name] = error; }

int LiveEnvCopies() { return static_cast<int>(State().liveCopies.size()); }

void SetSystemResult(int result) { State().systemResult = result; }

void OnSystem(std::function<void(const char*)> observer) { State().onSystem = std::move(observer); }

const std::vector<std::string>& Commands() { return State().commands; }

const std::vector<std::wstring>& CommandDirectories() { return State().commandDirectories; }

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

int system(const char* command) {
    if (!command) {
        sim::ReportViolation("system: null command is not modelled");
        return 0;
    }
    State().commands.emplace_back(command);
    State().commandDirectories.push_back(State().currentDirectory);
    if (State().onSystem) State().onSystem(command);
    return State().systemResult;
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
