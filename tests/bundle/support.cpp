// The machine's folders, results, and the programs the bundle starts.
#include "bundle.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <sstream>

namespace bundle {

const char WaitLine[] = "Please wait while product cleanup completes...\n";
const wchar_t ProductCode[] = L"{4A4724E0-4100-0720-0000-C1F702640DB7}";
const wchar_t NeighbourCode[] = L"{6B0C9E21-3D4F-4A58-9B71-2C8E5F0A1D34}";
const char* const Bundles[2] = {"{5307B30C-C252-350A-9AC4-2187A2492C94}", "{4A337600-F176-316C-BBE5-1D92826B6641}"};

const bool UnderWine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;

std::wstring Environment(const wchar_t* name) {
    wchar_t value[MAX_PATH] = L"";
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? value : L"";
}

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

const std::wstring Here = [] {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return Folder(self);
}();
const std::wstring Windows = Environment(L"SystemRoot");
const std::wstring SystemDirectory = [] {
    wchar_t system[MAX_PATH] = L"";
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system);
}();
const std::wstring Scratch = Environment(L"SystemDrive") + L"\\CleanupBundleScratch";
const std::wstring JournalPath = Environment(L"SystemDrive") + L"\\CleanupBundle.journal";
std::wstring ProgramFiles, ProgramData, ProductFolders[4];

namespace {

std::wstring MachineFolder(const PrefixValue& value) {
    wchar_t stored[MAX_PATH] = L"", expanded[MAX_PATH] = L"";
    DWORD size = sizeof stored;
    RegGetValueW(value.root, value.key, value.name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, stored, &size);
    const DWORD length = ExpandEnvironmentStringsW(stored, expanded, MAX_PATH);
    return length > 0 && length <= MAX_PATH ? expanded : L"";
}

}  // namespace

// As HKLM keeps them, not as this process's environment says: under Wine a process gets the
// ProgramFiles its first ancestor had, which an interrupted run may have changed meanwhile. What
// the bundle starts gets them as the machine has them.
void ReadMachineFolders() {
    ProgramFiles = MachineFolder(ProgramFilesDir);
    ProgramData = MachineFolder(ProfileProgramData);
    for (const wchar_t* name : {L"ProgramFiles", L"ProgramW6432"}) SetEnvironmentVariableW(name, ProgramFiles.c_str());
    SetEnvironmentVariableW(L"ProgramData", ProgramData.c_str());
    const wchar_t* const products[] = {L"Product", L"Neighbour", L"Refusing", L"Restarting"};
    for (size_t each = 0; each < std::size(products); ++each)
        ProductFolders[each] = ProgramFiles + L"\\Cleanup Test " + products[each];
}

namespace {
int passed = 0, failed = 0, skipped = 0;
}

int Passed() { return passed; }
int Failed() { return failed; }
int Skipped() { return skipped; }

void Check(const std::string& what, bool ok, const std::string& detail) {
    (ok ? passed : failed)++;
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok) {
        std::istringstream lines(detail);
        for (std::string line; std::getline(lines, line);) std::printf("     %s\n", line.c_str());
    }
}

void Expect(const std::string& what, const std::string& actual, const std::string& expected) {
    Check(what, actual == expected, "expected: " + expected + "\nactual:   " + actual);
}

void Skip(const std::string& part, int count, const std::string& why) {
    skipped += count;
    std::printf("skip %s: %s\n", part.c_str(), why.c_str());
}

std::string Narrow(const std::wstring& text) {
    std::string out(text.size() * 3 + 1, '\0');
    out.resize(WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()), nullptr,
                                   nullptr));
    if (!out.empty()) out.pop_back();
    return out;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadText(const std::wstring& path) {
    std::string text;
    if (FILE* in = _wfopen(path.c_str(), L"rb")) {
        for (int c; (c = std::fgetc(in)) != EOF;)
            if (c != '\r') text += static_cast<char>(c);
        std::fclose(in);
    }
    return text;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
    return text;
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

namespace {

std::vector<wchar_t> EnvironmentWith(const std::vector<std::wstring>& settings) {
    const auto replaced = [&](const wchar_t* entry) {
        return std::any_of(settings.begin(), settings.end(), [&](const std::wstring& setting) {
            const std::wstring name = setting.substr(0, setting.find(L'='));
            return _wcsnicmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == L'=';
        });
    };
    std::vector<std::wstring> entries;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1)
        if (!replaced(entry)) entries.emplace_back(entry);
    FreeEnvironmentStringsW(strings);
    for (const std::wstring& setting : settings) {
        if (setting.find(L'=') == std::wstring::npos) continue;
        std::wstring expanded(32768, L'\0');
        const DWORD length = ExpandEnvironmentStringsW(setting.c_str(), expanded.data(), 32768);
        entries.push_back(expanded.substr(0, length ? length - 1 : 0));
    }
    std::vector<wchar_t> block;
    for (const std::wstring& entry : entries) block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    block.push_back(L'\0');
    return block;
}

// Under load, Wine now and then answers ERROR_INTERNAL_ERROR: the new process ended before its
// start was done, so none of its code ran. Such a start is tried again, twice at most, and said.
bool StartProcess(const std::wstring& program, std::wstring& commandLine, const std::wstring& directory,
                  const std::vector<std::wstring>& settings, STARTUPINFOW& startup, PROCESS_INFORMATION& process) {
    std::vector<wchar_t> environment = EnvironmentWith(settings);
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                           settings.empty() ? nullptr : environment.data(), directory.c_str(), &startup, &process))
            return true;
        if (!UnderWine || GetLastError() != ERROR_INTERNAL_ERROR || attempt == 3) return false;
        std::printf("     Wine could not start %s (error 1359, its start ended early): starting it again\n",
                    Narrow(program).c_str());
        Sleep(1000);
    }
}

}  // namespace

// Under Wine a helper's Windows Installer calls leave a process behind for seconds that inherited
// the output files: a pipe would stay open, and a file reused by the next helper would be shared.
Ran Run(const std::wstring& program, const std::wstring& arguments, const std::wstring& directory,
        const std::vector<std::wstring>& settings) {
    static int runs = 0;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    // A killed prefix's Wine hands out its process ids again: an interrupted run's files, which its
    // journal names and the restore deletes, may bear this run's id. Their names are passed over.
    std::wstring prefix;
    do prefix = Scratch + L"\\run-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++runs);
    while (Exists(prefix + L".out") || Exists(prefix + L".err"));
    const std::wstring outPath = prefix + L".out", errPath = prefix + L".err";
    Ran ran;
    if (!Own(outPath) || !Own(errPath)) {
        ran.status = 0xFFFFFFFF;
        ran.err = "not run: its output files exist already\n";
        return ran;
    }
    const auto open = [&](const std::wstring& path, DWORD access, DWORD creation) {
        return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, creation, 0, nullptr);
    };
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = open(L"NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = open(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = open(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION process;
    if (StartProcess(program, commandLine, directory.empty() ? Here : directory, settings, startup, process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &ran.status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        ran.status = GetLastError();
        ran.err = "could not start " + Narrow(program) + " (error " + std::to_string(ran.status) + ")\n";
        ran.status |= 0x80000000;
    }
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) CloseHandle(handle);
    ran.out = ReadText(outPath);
    ran.err += ReadText(errPath);
    return ran;
}

Ran Helper(const wchar_t* name, const std::wstring& arguments) { return Run(Here + L"\\" + name, arguments); }

std::string Answer(const Ran& ran) {
    std::string answer = Trimmed(ran.out);
    if (ran.status != 0 || !ran.err.empty())
        answer += " [exit status " + Hex(ran.status) + ", stderr: " + Trimmed(ran.err) + "]";
    return answer;
}

// A helper that could not answer is a failure of its own, never only a reason to skip.
bool Answered(const std::string& what, const Ran& ran) {
    const bool ok = ran.status == 0 && ran.err.empty();
    if (!ok) Check(what + " answered", false, Answer(ran));
    return ok;
}

std::string MsiState(const std::wstring& code) { return Answer(Helper(L"msi_state.exe", code)); }

// The system's msiexec, its status printed; "another installation is in progress" is waited out.
DWORD Msiexec(const std::wstring& arguments) {
    for (int attempt = 1;; ++attempt) {
        const Ran ran = Run(SystemDirectory + L"\\msiexec.exe", arguments);
        std::printf("     msiexec %s: exit status %lu\n", Narrow(arguments).c_str(), ran.status);
        if (ran.status != ERROR_INSTALL_ALREADY_RUNNING || attempt == 6) return ran.status;
        std::printf("     another installation is in progress: trying again in 10 s\n");
        Sleep(10000);
    }
}

void Registry(const std::string& what, const std::wstring& arguments) {
    const Ran ran = Helper(L"e2e_registry.exe", arguments);
    Check(what, ran.status == 0, ran.out + ran.err + "exit status " + Hex(ran.status));
}

}  // namespace bundle
