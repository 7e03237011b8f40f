// msi_state CODE: what Windows Installer itself knows of one product, through its API:
// "installed" when MsiQueryProductStateW answers INSTALLSTATE_DEFAULT and MsiEnumProductsW
// lists it, "unknown" when it answers INSTALLSTATE_UNKNOWN and the list lacks it, otherwise
// both answers as they stand.
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
    if (argc != 2) {
        std::fprintf(stderr, "usage: msi_state {PRODUCT-CODE}\n");
        return 2;
    }
    const INSTALLSTATE state = MsiQueryProductStateW(argv[1]);
    const bool listed = Listed(argv[1]);
    if (state == INSTALLSTATE_DEFAULT && listed) std::printf("installed\n");
    else if (state == INSTALLSTATE_UNKNOWN && !listed) std::printf("unknown\n");
    else std::printf("state %d, %s\n", static_cast<int>(state), listed ? "listed" : "not listed");
    return 0;
}
