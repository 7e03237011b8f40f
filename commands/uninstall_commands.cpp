#include "commands/uninstall_commands.h"

#include "commands/machine_folders.h"
#include "commands/run_program.h"
#include "commands/system_directory.h"

namespace {

const char InstallerPath[] = "\\Morvanta\\MoQUAV\\V1\\Installer.exe";
const char InstallerOptions[] = " -i uninstall --silent --trigger_point system -m ";
const char ManifestDirectory[] = "\\Morvanta\\QUAV\\metadata\\";
const char ManifestFile[] = "\\bundleManifest.xml";
constexpr DWORD BusyRetryWait = 10 * 1000;
constexpr ULONGLONG BusyRetryLimit = 5ULL * 60 * 1000;

int RunInstaller(const char* programFiles, const char* programData, const char* bundleId) {
    // The installer takes the manifest path as one argument only when a blank in it is quoted.
    const char* const quote = strchr(programData, ' ') ? "\"" : "";
    const char* const parts[] = {"\"", programFiles, InstallerPath, "\"", InstallerOptions,
                                 quote, programData, ManifestDirectory, bundleId, ManifestFile, quote};
    // The command processor's form had a second pair of quotes: the boundary stays where it was.
    size_t length = 2;
    for (const char* part : parts) length += strlen(part);
    // strcat_s past its capacity would end the whole run; a cut command must never run.
    if (length >= InstallerCommandCapacity) return ERANGE;

    char command[InstallerCommandCapacity] = "";
    for (const char* part : parts) strcat_s(command, InstallerCommandCapacity, part);
    char application[InstallerCommandCapacity] = "";
    strcat_s(application, InstallerCommandCapacity, programFiles);
    strcat_s(application, InstallerCommandCapacity, InstallerPath);
    return RunProgram(application, command);
}

}  // namespace

int UninstallBundle(const char* bundleId) {
    char* programFiles = nullptr;
    char* programData = nullptr;
    size_t size = 0;
    int result = _dupenv_s(&programFiles, &size, "ProgramFiles");
    if (result == 0 && programFiles) result = _dupenv_s(&programData, &size, "ProgramData");
    if (result == 0 && programFiles && programData &&
        IsMachineFolder(programFiles, MachineFolder::ProgramFiles) &&
        IsMachineFolder(programData, MachineFolder::ProgramData))
        result = RunInstaller(programFiles, programData, bundleId);
    free(programFiles);
    free(programData);
    return result;
}

int RemoveMsiProduct(LPCWSTR productCode) {
    const WCHAR start[] = L"msiexec /X";
    // Without /norestart, a quiet removal that needs a restart restarts the machine by itself.
    const WCHAR end[] = L" /q /norestart";
    const size_t length = wcslen(start) + wcslen(productCode) + wcslen(end);
    if (length >= MsiCommandCapacity) return -1;

    WCHAR wide[MsiCommandCapacity];
    wcscpy_s(wide, MsiCommandCapacity, start);
    wcsncat_s(wide, MsiCommandCapacity, productCode, MsiCommandCapacity);
    wcsncat_s(wide, MsiCommandCapacity, end, MsiCommandCapacity);

    char narrow[NarrowMsiCommandCapacity];
    const int written = snprintf(narrow, sizeof narrow, "%ls", wide);
    if (written < 0 || static_cast<size_t>(written) >= sizeof narrow) return -1;
    // The system directory's own msiexec.exe, whatever PATH and PATHEXT say.
    char msiexec[MAX_PATH];
    if (!SystemProgramPath("msiexec.exe", msiexec, sizeof msiexec)) return -1;
    const ULONGLONG first = GetTickCount64();
    for (;;) {
        const int status = RunProgram(msiexec, narrow);
        if (status != ERROR_INSTALL_ALREADY_RUNNING || GetTickCount64() - first + BusyRetryWait > BusyRetryLimit)
            return status;
        Sleep(BusyRetryWait);
    }
}
