#pragma once

// One cleanup pass: the wait line, both bundle uninstalls, the MSI removal, then every
// catalogue key tree. Returns the exit status: 0, or ERROR_INSTALL_ALREADY_RUNNING (1618) when
// Windows Installer stayed busy with another installation and no key was touched.
int RunCleanup();
