// Simulated platform for the host build: the Windows and UCRT names the program calls,
// declared with their Windows signatures and defined by sim_registry.cpp and sim_runtime.cpp beside it.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

using LONG = std::int32_t;
using WORD = std::uint16_t;
using NTSTATUS = LONG;
using UINT = unsigned int;
using BOOL = int;
using DWORD = std::uint32_t;
using ULONGLONG = std::uint64_t;
using LPDWORD = DWORD*;
using REGSAM = DWORD;
using WCHAR = wchar_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using PVOID = void*;
using LPBYTE = unsigned char*;
using errno_t = int;
using rsize_t = std::size_t;

using HANDLE = void*;
struct HKEY__;  // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): the Windows SDK's own name for the handle type
using HKEY = HKEY__*;
using PHKEY = HKEY*;

struct SECURITY_ATTRIBUTES;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved, lpDesktop, lpTitle;
    DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute, dwFlags;
    WORD wShowWindow, cbReserved2;
    LPBYTE lpReserved2;
    HANDLE hStdInput, hStdOutput, hStdError;
};
using LPSTARTUPINFOA = STARTUPINFOA*;

struct PROCESS_INFORMATION {
    HANDLE hProcess, hThread;
    DWORD dwProcessId, dwThreadId;
};
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;

struct FILETIME {
    DWORD dwLowDateTime, dwHighDateTime;
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
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_DWORD 4u
#define RRF_RT_REG_SZ 0x00000002u
#define RRF_RT_REG_EXPAND_SZ 0x00000004u
#define RRF_NOEXPAND 0x10000000u
#define TRUE 1
#define FALSE 0
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259u
#define CP_ACP 0u
#define MB_ERR_INVALID_CHARS 0x00000008u
#define CSTR_LESS_THAN 1
#define CSTR_EQUAL 2
#define CSTR_GREATER_THAN 3

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_KEY_DELETED 1018L
#define ERROR_INSTALL_ALREADY_RUNNING 1618L
#define ERROR_UNSUPPORTED_TYPE 1630L

#define STATUS_SUCCESS 0
#define STATUS_INVALID_HANDLE static_cast<NTSTATUS>(0xC0000008u)
#define STATUS_ACCESS_DENIED static_cast<NTSTATUS>(0xC0000022u)
#define STATUS_CANNOT_DELETE static_cast<NTSTATUS>(0xC0000121u)
#define STATUS_NOT_IMPLEMENTED static_cast<NTSTATUS>(0xC0000002u)

extern "C" {
LONG WINAPI RegDeleteKeyW(HKEY key, LPCWSTR subKey);
LONG WINAPI RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result);
LONG WINAPI RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                          LPWSTR className, LPDWORD classLength, PFILETIME lastWriteTime);
LONG WINAPI RegCloseKey(HKEY key);
int WINAPI lstrlenW(LPCWSTR text);
NTSTATUS NTAPI NtDeleteKey(HANDLE key);
LONG WINAPI RegGetValueW(HKEY key, LPCWSTR subKey, LPCWSTR value, DWORD flags, LPDWORD type, PVOID data, LPDWORD size);
UINT WINAPI GetSystemDirectoryW(LPWSTR buffer, UINT size);
UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);
UINT WINAPI GetSystemWindowsDirectoryW(LPWSTR buffer, UINT size);
BOOL WINAPI SetCurrentDirectoryW(LPCWSTR path);
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide, int capacity);
int WINAPI CompareStringOrdinal(LPCWSTR first, int firstLength, LPCWSTR second, int secondLength, BOOL ignoreCase);
BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR commandLine, LPSECURITY_ATTRIBUTES process,
                           LPSECURITY_ATTRIBUTES thread, BOOL inheritHandles, DWORD flags, LPVOID environment,
                           LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION information);
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD status);
BOOL WINAPI CloseHandle(HANDLE handle);
ULONGLONG WINAPI GetTickCount64();
void WINAPI Sleep(DWORD milliseconds);

errno_t _dupenv_s(char** buffer, std::size_t* size, const char* name);
errno_t strcat_s(char* destination, rsize_t capacity, const char* source);
errno_t wcscpy_s(wchar_t* destination, rsize_t capacity, const wchar_t* source);
errno_t wcsncat_s(wchar_t* destination, rsize_t capacity, const wchar_t* source, rsize_t count);
// system() keeps the C library's declaration from <cstdlib>; the simulation defines it as a
// violation, so that a call never reaches the host's shell.
}
