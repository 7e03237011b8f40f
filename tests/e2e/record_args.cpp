// A stand-in for an outside program: appends the argument vector it receives, one argument a
// line, and a "-- in FOLDER" line after it naming its current directory, to "<its own path>.args",
// and whether the test product was still installed when it ran to "<its own path>.product" (so
// the order of the run's steps can be checked), says on stdout that it ran (so the order of
// output can be checked), and exits 0; or, when "<its own path>.answers" holds exit statuses one
// a line, with the first of them, which it takes off the file unless it is the last.
#include <windows.h>

#include <msi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

bool Append(const std::wstring& path, const std::wstring& lines) {
    FILE* log = _wfopen(path.c_str(), L"ab");
    if (!log) return false;
    std::fprintf(log, "%ls", lines.c_str());
    return std::fclose(log) == 0;
}

// The next answer of the script at path; 0 without one.
int NextAnswer(const std::wstring& path) {
    FILE* in = _wfopen(path.c_str(), L"rb");
    if (!in) return 0;
    std::string text;
    for (int c; (c = std::fgetc(in)) != EOF;) text += static_cast<char>(c);
    std::fclose(in);
    const size_t end = text.find('\n');
    const int answer = std::atoi(text.substr(0, end).c_str());
    if (end != std::string::npos && end + 1 < text.size()) {
        FILE* out = _wfopen(path.c_str(), L"wb");
        if (!out || std::fputs(text.c_str() + end + 1, out) < 0 || std::fclose(out) != 0) return 1;
    }
    return answer;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring arguments;
    for (int i = 1; i < argc; ++i) arguments += std::wstring(argv[i]) + L"\n";
    wchar_t folder[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, folder);
    const INSTALLSTATE product = MsiQueryProductStateW(L"{4A4724E0-4100-0720-0000-C1F702640DB7}");
    const std::wstring state =
        product == INSTALLSTATE_DEFAULT ? L"installed\n" : L"not installed (state " + std::to_wstring(product) + L")\n";
    if (!Append(std::wstring(self) + L".args", arguments + L"-- in " + folder + L"\n") || !Append(std::wstring(self) + L".product", state))
        return 1;
    const wchar_t* name = std::wcsrchr(self, L'\\');
    std::printf("%ls ran\n", name ? name + 1 : self);
    return NextAnswer(std::wstring(self) + L".answers");
}
