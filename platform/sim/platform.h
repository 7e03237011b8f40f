// Simulated platform for the host build: the Windows and UCRT names the program calls,
// declared with their Windows signatures and defined by platform/sim/*.cpp.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

using LONG = std::int32_t;
using NTSTATUS = LONG;
using UINT = unsigned int;
using BOOL = int;
using DWORD = std::uint32_t;
using LPDWORD = DWORD*;
using REGSAM = DWORD;
using WCHAR = wchar_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using errno_t = int;
using rsize_t = std::size_t;

using HANDLE = void*;
struct HKEY__;  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the Windows SDK's own name for the handle type
using HKEY = HKEY__*;
using PHKEY = HKEY*;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
using PFILETIME = FILETIME*;

#define WINAPI
#define NTAPI
#define MAX_PATH 260
// A predefined key is a value no open answers; here the address of an object of the simulation.
extern "C" char SimLocalMachine;
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(&SimLocalMachine))
#define KEY_READ 0x20019u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define DELETE 0x00010000u
#define REG_OPTION_OPEN_LINK 0x00000008u

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_KEY_DELETED 1018L

#define STATUS_SUCCESS 0
#define STATUS_INVALID_HANDLE static_cast<NTSTATUS>(0xC0000008u)
#define STATUS_ACCESS_DENIED static_cast<NTSTATUS>(0xC0000022u)
#define STATUS_CANNOT_DELETE static_cast<NTSTATUS>(0xC0000121u)
#define STATUS_NOT_IMPLEMENTED static_cast<NTSTATUS>(0xC0000002u)

extern "C" {
LONG WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey);
LONG WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result);
LONG WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                          LPDWORD reserved, LPWSTR className, LPDWORD classLength,
                          PFILETIME lastWriteTime);
LONG WINAPI RegCloseKey(HKEY key);
int WINAPI lstrlenW(LPCWSTR text);
NTSTATUS NTAPI NtDeleteKey(HANDLE key);
UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size);
BOOL WINAPI SetCurrentDirectoryW(LPCWSTR path);

errno_t _dupenv_s(char** buffer, std::size_t* size, const char* name);
errno_t strcat_s(char* destination, rsize_t capacity, const char* source);
errno_t wcscpy_s(wchar_t* destination, rsize_t capacity, const wchar_t* source);
errno_t wcsncat_s(wchar_t* destination, rsize_t capacity, const wchar_t* source, rsize_t count);
// system() keeps the C library's declaration from <cstdlib>; the simulation defines it.
}
