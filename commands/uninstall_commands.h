#pragma once

#include "platform.h"

// Bytes of the installer command, terminator included.
constexpr size_t InstallerCommandCapacity = 1024;
// Wide characters of the MSI command as assembled, terminator included.
constexpr size_t MsiCommandCapacity = 1024;
// Bytes of the MSI command as run, terminator included.
constexpr size_t NarrowMsiCommandCapacity = 255;

// Has the maker's installer uninstall one bundle. Returns the environment lookup's error code,
// 0 when ProgramFiles or ProgramData is not set, ERANGE when the command would not fit, else
// the result of system(). Nothing is run unless the whole command fits.
int UninstallBundle(const char* bundleId);

// Has msiexec remove the product quietly. Nothing is run unless the whole command fits.
void RemoveMsiProduct(LPCWSTR productCode);
