#pragma once

#include "platform.h"

// Makes the system directory the current directory, so that nothing the commands start, nor
// anything those look up, is taken from the folder the run was started in. Returns false, with
// the current directory unchanged, when the system directory cannot be had.
bool EnterSystemDirectory();

// The path of a program in the system directory. False, with nothing usable in path, when the
// whole path does not fit capacity bytes.
bool SystemProgramPath(const char* name, char* path, size_t capacity);
