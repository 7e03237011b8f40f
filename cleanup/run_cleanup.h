#pragma once

// One cleanup pass: the wait line, both bundle uninstalls, the MSI removal, then every
// catalogue key tree. Returns the exit status, always 0.
int RunCleanup();
