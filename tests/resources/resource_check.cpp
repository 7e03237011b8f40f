// Reads back the version resource and the manifest of an executable through the Windows API
// and checks them. Prints what it found; exits 1 on any mismatch.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int failures = 0;

void Expect(bool ok, const char* what, const std::string& found) {
    std::printf("%s %s: %s\n", ok ? "ok  " : "FAIL", what, found.c_str());
    if (!ok) ++failures;
}

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) out += static_cast<char>(*text);
    return out;
}

std::string Dotted(DWORD high, DWORD low) {
    char text[64];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", HIWORD(high), LOWORD(high), HIWORD(low), LOWORD(low));
    return text;
}

void CheckVersion(const wchar_t* file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file, &ignored);
    std::vector<BYTE> data(size ? size : 1);
    Expect(size && GetFileVersionInfoW(file, 0, size, data.data()), "version resource present", "");
    if (!size) return;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
        const std::string file_version = Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
        const std::string product_version = Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
        Expect(file_version == "1.0.0.1", "fixed FileVersion", file_version);
        Expect(product_version == "1.0.0.1", "fixed ProductVersion", product_version);
    } else {
        Expect(false, "fixed file info", "missing");
    }
    for (const wchar_t* name : {L"FileVersion", L"ProductVersion"}) {
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        wchar_t* value = nullptr;
        const bool found = VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length);
        const std::string text = found ? Narrow(value) : "missing";
        Expect(text == "1.0.0.1", ("string " + Narrow(name)).c_str(), text);
    }
}

void CheckManifest(const wchar_t* file) {
    HMODULE module = LoadLibraryExW(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC resource = module ? FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)) : nullptr;
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    const std::string manifest = bytes ? std::string(bytes, SizeofResource(module, resource)) : "";
    Expect(!manifest.empty(), "manifest resource 1", manifest.empty() ? "missing" : "present");
    Expect(manifest.find("level=\"asInvoker\"") != std::string::npos, "execution level", "asInvoker");
    Expect(manifest.find("uiAccess=\"false\"") != std::string::npos, "uiAccess", "false");
    if (module) FreeLibrary(module);
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: resource_check FILE\n");
        return 2;
    }
    CheckVersion(argv[1]);
    CheckManifest(argv[1]);
    return failures ? 1 : 0;
}
