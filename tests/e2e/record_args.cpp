// A stand-in for an outside program: appends the argument vector it receives, one argument a
// line and a "--" line after it, to "<its own path>.args", says on stdout that it ran (so the
// order of output can be checked), and exits 0.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t* argv[]) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    FILE* log = _wfopen((std::wstring(self) + L".args").c_str(), L"ab");
    if (!log) return 1;
    for (int i = 1; i < argc; ++i) std::fprintf(log, "%ls\n", argv[i]);
    std::fprintf(log, "--\n");
    std::fclose(log);
    const wchar_t* name = std::wcsrchr(self, L'\\');
    std::printf("%ls ran\n", name ? name + 1 : self);
    return 0;
}
