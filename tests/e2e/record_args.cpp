// A stand-in for an outside program: appends the argument vector it receives, one argument a
// line and a "--" line after it, to "<its own path>.args", and whether the test product was still
// installed when it ran to "<its own path>.product" (so the order of the run's steps can be
// checked), says on stdout that it ran (so the order of output can be checked), and exits 0.
#include <windows.h>

#include <msi.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

bool Append(const std::wstring& path, const std::wstring& lines) {
    FILE* log = _wfopen(path.c_str(), L"ab");
    if (!log) return false;
    std::fprintf(log, "%ls", lines.c_str());
    return std::fclose(log) == 0;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring arguments;
    for (int i = 1; i < argc; ++i) arguments += std::wstring(argv[i]) + L"\n";
    const INSTALLSTATE product = MsiQueryProductStateW(L"{4A4724E0-4100-0720-0000-C1F702640DB7}");
    const std::wstring state =
        product == INSTALLSTATE_DEFAULT ? L"installed\n" : L"not installed (state " + std::to_wstring(product) + L")\n";
    if (!Append(std::wstring(self) + L".args", arguments + L"--\n") || !Append(std::wstring(self) + L".product", state))
        return 1;
    const wchar_t* name = std::wcsrchr(self, L'\\');
    std::printf("%ls ran\n", name ? name + 1 : self);
    return 0;
}
