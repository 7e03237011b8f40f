#pragma once

#include "platform.h"

// Makes the system directory the current directory, so that the command processor, and the
// programs it looks up, are never taken from the folder the run was started in. Returns false,
// with the current directory unchanged, when the system directory cannot be had.
bool EnterSystemDirectory();
