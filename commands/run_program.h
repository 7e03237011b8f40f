#pragma once

#include "platform.h"

// Starts the program at its absolute path, never looked up, with the command line as given and
// the current directory, standard handles and environment inherited, and waits for it to end.
// Returns its exit status, or -1 when it could not be started or waited for.
int RunProgram(const char* application, char* commandLine);
