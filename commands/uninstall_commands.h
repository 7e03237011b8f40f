#pragma once

#include "platform.h"

// Bytes of the installer command, terminator included, counted with the two pairs of quotes
// around the program that the command processor's form of the command carried.
constexpr size_t InstallerCommandCapacity = 1024;
// Wide characters of the MSI command as assembled, terminator included.
constexpr size_t MsiCommandCapacity = 1024;
// Bytes of the MSI command as run, terminator included.
constexpr size_t NarrowMsiCommandCapacity = 255;

// Has the maker's installer uninstall one bundle. Returns the environment lookup's error code;
// 0 when ProgramFiles or ProgramData is not set, or is not the machine's own folder; ERANGE when
// the command would not fit; else the installer's exit status (-1 when it could not be started).
// Nothing is run unless the whole command fits.
int UninstallBundle(const char* bundleId);

// Has the system directory's msiexec remove the product quietly, never restarting the machine.
// While msiexec answers that another installation is in progress, the same command runs again
// every 10 s, for at most 5 minutes. Returns msiexec's last answer, or -1 when it was not run:
// nothing is run unless the whole command fits.
int RemoveMsiProduct(LPCWSTR productCode);
