// The real platform: advapi32, kernel32, ntdll and the Universal CRT.
#pragma once

// Windows 10 and later, as the executable's header says.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0A00
#endif
#include <windows.h>
#include <winternl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#ifndef STATUS_SUCCESS
#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#endif

// ntdll's user-mode name of ZwDeleteKey; no user-mode SDK header declares it.
extern "C" NTSTATUS NTAPI NtDeleteKey(HANDLE KeyHandle);
