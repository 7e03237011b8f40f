#include "cleanup/run_cleanup.h"

#include "cleanup/catalogue.h"
#include "commands/uninstall_commands.h"
#include "registry/delete_key_tree.h"

int RunCleanup() {
    printf("Please wait while product cleanup completes...\n");
    // A redirected stdout is fully buffered: the line must be out before the installers write.
    fflush(stdout);

    for (const char* bundleId : CleanupCatalogue::BundleIds) UninstallBundle(bundleId);
    RemoveMsiProduct(CleanupCatalogue::MsiProductCode);
    for (const WCHAR* keyPath : CleanupCatalogue::RegistryKeys) DeleteKeyTree(keyPath);
    return 0;
}
