#include "cleanup/run_cleanup.h"

#include "cleanup/catalogue.h"
#include "commands/system_directory.h"
#include "commands/uninstall_commands.h"
#include "registry/delete_key_tree.h"

int RunCleanup() {
    printf("Please wait while product cleanup completes...\n");
    // A redirected stdout is fully buffered: the line must be out before the installers write.
    fflush(stdout);  // NOLINT(cert-err33-c): a failed flush changes nothing, the run goes on either way

    // Nothing the commands start may look up what it needs in a start folder such as Downloads.
    // Without the system directory, nothing runs.
    if (EnterSystemDirectory()) {
        for (const char* bundleId : CleanupCatalogue::BundleIds) UninstallBundle(bundleId);
        // The product is still installed: deleting its registration now would orphan it. The
        // status tells a fleet tool to try again later.
        if (RemoveMsiProduct(CleanupCatalogue::MsiProductCode) == ERROR_INSTALL_ALREADY_RUNNING)
            return ERROR_INSTALL_ALREADY_RUNNING;
    }
    for (const WCHAR* keyPath : CleanupCatalogue::RegistryKeys) DeleteKeyTree(keyPath);
    return 0;
}
