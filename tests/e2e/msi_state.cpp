// msi_state CODE: what Windows Installer itself knows of one product, through its API:
// "installed" when MsiQueryProductStateW answers INSTALLSTATE_DEFAULT and MsiEnumProductsW
// lists it, "unknown" when it answers INSTALLSTATE_UNKNOWN and the list lacks it, otherwise
// both answers as they stand.
// msi_state CODE name: the installed product's name, "(none)" when none is installed.
#include <windows.h>

#include <msi.h>

#include <cstdio>
#include <cwchar>

namespace {

bool Listed(const wchar_t* code) {
    wchar_t found[39];
    for (DWORD index = 0; MsiEnumProductsW(index, found) == ERROR_SUCCESS; ++index)
        if (_wcsicmp(found, code) == 0) return true;
    return false;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    if (argc == 3 && std::wcscmp(argv[2], L"name") == 0) {
        wchar_t name[256];
        DWORD size = 256;
        const UINT status = MsiGetProductInfoW(argv[1], L"InstalledProductName", name, &size);
        if (status == ERROR_UNKNOWN_PRODUCT) std::printf("(none)\n");
        else if (status == ERROR_SUCCESS) std::printf("%ls\n", name);
        else return std::fprintf(stderr, "MsiGetProductInfoW: %u\n", status), 1;
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: msi_state {PRODUCT-CODE} [name]\n");
        return 2;
    }
    const INSTALLSTATE state = MsiQueryProductStateW(argv[1]);
    const bool listed = Listed(argv[1]);
    if (state == INSTALLSTATE_DEFAULT && listed) std::printf("installed\n");
    else if (state == INSTALLSTATE_UNKNOWN && !listed) std::printf("unknown\n");
    else std::printf("state %d, %s\n", static_cast<int>(state), listed ? "listed" : "not listed");
    return 0;
}
