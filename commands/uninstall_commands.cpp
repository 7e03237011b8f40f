#include "commands/uninstall_commands.h"

namespace {

const char InstallerTail[] =
    "\\Morvanta\\MoQUAV\\V1\\Installer.exe\"\" -i uninstall --silent --trigger_point system -m ";
const char ManifestDirectory[] = "\\Morvanta\\QUAV\\metadata\\";
const char ManifestFile[] = "\\bundleManifest.xml";

int RunInstaller(const char* programFiles, const char* programData, const char* bundleId) {
    const char* const parts[] = {programFiles, InstallerTail, programData,
                                 ManifestDirectory, bundleId, ManifestFile};
    size_t length = 2;
    for (const char* part : parts) length += strlen(part);
    // strcat_s past its capacity would end the whole run; a cut command must never run.
    if (length >= InstallerCommandCapacity) return ERANGE;

    char command[InstallerCommandCapacity] = "\"\"";
    for (const char* part : parts) strcat_s(command, InstallerCommandCapacity, part);
    return system(command);  // NOLINT(cert-env33-c): running the uninstall command through the command processor is this program's job
}

}  // namespace

int UninstallBundle(const char* bundleId) {
    char* programFiles = nullptr;
    char* programData = nullptr;
    size_t size = 0;
    int result = _dupenv_s(&programFiles, &size, "ProgramFiles");
    if (result == 0 && programFiles) result = _dupenv_s(&programData, &size, "ProgramData");
    if (result == 0 && programFiles && programData)
        result = RunInstaller(programFiles, programData, bundleId);
    free(programFiles);
    free(programData);
    return result;
}

void RemoveMsiProduct(LPCWSTR productCode) {
    const WCHAR start[] = L"msiexec /X";
    const WCHAR end[] = L" /q";
    const size_t length = wcslen(start) + wcslen(productCode) + wcslen(end);
    if (length >= MsiCommandCapacity) return;

    WCHAR wide[MsiCommandCapacity];
    wcscpy_s(wide, MsiCommandCapacity, start);
    wcsncat_s(wide, MsiCommandCapacity, productCode, MsiCommandCapacity);
    wcsncat_s(wide, MsiCommandCapacity, end, MsiCommandCapacity);

    char narrow[NarrowMsiCommandCapacity];
    const int written = snprintf(narrow, sizeof narrow, "%ls", wide);
    if (written < 0 || static_cast<size_t>(written) >= sizeof narrow) return;
    system(narrow);  // NOLINT(cert-env33-c): running the removal command through the command processor is this program's job
}
