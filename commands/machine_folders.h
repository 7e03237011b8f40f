#pragma once

#include "platform.h"

enum class MachineFolder { ProgramFiles, ProgramData };

// Whether an environment value may go on a command line: it names the machine's own folder, as
// Windows keeps it in HKLM (compared as paths are, case-insensitively), and holds nothing that a
// command line could parse. The environment of an elevated run is the unelevated user's to write.
bool IsMachineFolder(const char* value, MachineFolder folder);
