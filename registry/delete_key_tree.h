#pragma once

#include "platform.h"

// Characters of one subkey name as enumerated, terminator included.
constexpr DWORD SubkeyNameCapacity = 260;

// Deletes the key at keyPath under HKEY_LOCAL_MACHINE with all its subkeys, depth first.
// Returns 1 when the key is gone (or was never there), else 0.
int DeleteKeyTree(LPCWSTR keyPath);

// Deletes the key that name (a path for the row, a single name below it) names relative to the
// open key parent, with its subkeys, each opened by its own name relative to its parent's handle.
int DeleteKeyTreeRecurse(HKEY parent, LPCWSTR name);
