// launch [--without-comspec] PROGRAM [ARG...]: runs PROGRAM in the current directory with this
// process's environment, less COMSPEC when asked (Wine sets it in every process it starts, so
// only a Windows parent can take it away), and exits with its exit status.
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::wstring Quoted(const std::wstring& argument) { return L"\"" + argument + L"\""; }

std::vector<wchar_t> Environment(bool withoutComspec) {
    std::vector<wchar_t> block;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1) {
        if (withoutComspec && _wcsnicmp(entry, L"COMSPEC=", 8) == 0) continue;
        block.insert(block.end(), entry, entry + wcslen(entry) + 1);
    }
    FreeEnvironmentStringsW(strings);
    block.push_back(L'\0');
    return block;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    int first = 1;
    const bool withoutComspec = argc > 1 && std::wstring(argv[1]) == L"--without-comspec";
    if (withoutComspec) ++first;
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
    std::vector<wchar_t> environment = Environment(withoutComspec);
    PROCESS_INFORMATION process;
    if (!CreateProcessW(argv[first], commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), nullptr, &startup, &process))
        return 3;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(status);
}
