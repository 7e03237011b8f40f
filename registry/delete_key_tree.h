#pragma once

#include "platform.h"

// Characters of a key path under HKEY_LOCAL_MACHINE, terminator included.
constexpr int KeyPathCapacity = 520;
// Characters of one subkey name as enumerated, terminator included.
constexpr DWORD SubkeyNameCapacity = 260;

// Deletes the key at keyPath with all its subkeys, depth first. Returns 1 when the key is gone
// (or was never there), else 0.
int DeleteKeyTree(LPCWSTR keyPath);

// Deletes the key named by the KeyPathCapacity-sized buffer keyPath, which it extends and cuts
// back in place while it descends. On return the buffer holds the path it was entered with,
// less a trailing backslash.
int DeleteKeyTreeRecurse(HKEY root, LPWSTR keyPath);
