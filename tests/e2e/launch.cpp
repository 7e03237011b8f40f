// launch [--without-comspec] [--set NAME=VALUE]... PROGRAM [ARG...]: runs PROGRAM in the current
// directory with this process's environment, less COMSPEC when asked (Wine sets it in every
// process it starts, so only a Windows parent can take it away), with each NAME set to VALUE
// (%VARIABLES% in it expanded from this process's environment), and exits with its exit status.
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::wstring Quoted(const std::wstring& argument) { return L"\"" + argument + L"\""; }

std::wstring Expanded(const std::wstring& text) {
    std::wstring out(32768, L'\0');
    const DWORD length = ExpandEnvironmentStringsW(text.c_str(), out.data(), static_cast<DWORD>(out.size()));
    out.resize(length ? length - 1 : 0);
    return out;
}

bool Named(const wchar_t* entry, const std::wstring& name) {
    return _wcsnicmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == L'=';
}

std::vector<wchar_t> Environment(bool withoutComspec, const std::vector<std::wstring>& settings) {
    std::vector<std::wstring> entries;
    for (const std::wstring& setting : settings) entries.push_back(Expanded(setting));
    std::vector<wchar_t> block;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1) {
        bool replaced = withoutComspec && Named(entry, L"COMSPEC");
        for (const std::wstring& setting : settings) replaced |= Named(entry, setting.substr(0, setting.find(L'=')));
        if (!replaced) entries.emplace_back(entry);
    }
    FreeEnvironmentStringsW(strings);
    for (const std::wstring& entry : entries) block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    block.push_back(L'\0');
    return block;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    int first = 1;
    const bool withoutComspec = argc > 1 && std::wstring(argv[1]) == L"--without-comspec";
    if (withoutComspec) ++first;
    std::vector<std::wstring> settings;
    for (; first + 1 < argc && std::wstring(argv[first]) == L"--set"; first += 2) settings.emplace_back(argv[first + 1]);
    if (first >= argc) return 2;
    std::wstring commandLine;
    for (int i = first; i < argc; ++i) commandLine += (i > first ? L" " : L"") + Quoted(argv[i]);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        SetHandleInformation(GetStdHandle(which), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::vector<wchar_t> environment = Environment(withoutComspec, settings);
    PROCESS_INFORMATION process;
    // Under load Wine now and then answers ERROR_INTERNAL_ERROR: the new process ended before its
    // start was done, none of its code having run. Such a start is tried again, twice at most,
    // without a word: what the program started prints is what the caller checks.
    for (int attempt = 1; !CreateProcessW(argv[first], commandLine.data(), nullptr, nullptr, TRUE,
                                          CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup, &process);
         ++attempt) {
        if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == 3) return 3;
        Sleep(1000);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}
