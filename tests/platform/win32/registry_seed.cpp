#include "tests/platform/registry_seed.h"

#include "commands/run_program.h"
#include "commands/system_directory.h"
#include "tests/platform/win32/registry_links.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace seed {

const wchar_t ScratchKey[] = L"SOFTWARE\\ProductCleanupTests";

namespace {

bool created = false;  // whether this test made the scratch key, and so may remove it

}  // namespace

// A scratch key already there is someone else's, or an earlier run's that its own clean-up must
// finish: never removed here.
void BeginRegistryTest() {
    ASSERT_FALSE(KeyItselfExists(ScratchKey)) << "HKLM\\" << testing::PrintToString(std::wstring(ScratchKey))
                                              << " exists already: left as it is, nothing run";
    ASSERT_TRUE(created = CreateKey(ScratchKey));
}

void EndRegistryTest() {
    if (created) EXPECT_EQ(DeleteTreeNoFollow(ScratchKey), ERROR_SUCCESS);
    created = false;
}

bool CreateKey(const std::wstring& path) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool CreateLink(const std::wstring& path, const std::wstring& target) {
    return CreateRegistryLink(path, target) == ERROR_SUCCESS;
}

bool KeyExists(const std::wstring& path) { return KeyItselfExists(path); }

bool SetValue(const std::wstring& path, const std::wstring& name, unsigned long type, const std::wstring& text) {
    const DWORD zero = 0;
    const bool number = type == REG_DWORD;
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, path.c_str(), name.c_str(), type,
                           number ? static_cast<const void*>(&zero) : text.c_str(),
                           number ? sizeof zero : static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR))) ==
           ERROR_SUCCESS;
}

bool RenameKey(const std::wstring& path, const std::wstring& newName) {
    return RegRenameKey(HKEY_LOCAL_MACHINE, path.c_str(), newName.c_str()) == ERROR_SUCCESS;
}

bool DenyAccess(const std::wstring& path, unsigned long access) {
    return RefuseToEveryone(path, access) == ERROR_SUCCESS;
}

// cmd.exe, started as the run starts a command, writes its current directory to a file.
std::wstring StartedProgramDirectory() {
    char cmd[MAX_PATH], temp[MAX_PATH];
    if (!SystemProgramPath("cmd.exe", cmd, sizeof cmd) || !GetTempPathA(sizeof temp, temp)) return L"(no paths)";
    const std::string file = std::string(temp) + "cleanup-started-directory.txt";
    std::string commandLine = "cmd /d /c cd >\"" + file + "\"";
    if (RunProgram(cmd, commandLine.data()) != 0) return L"(not started)";
    wchar_t line[MAX_PATH] = L"";
    if (FILE* out = std::fopen(file.c_str(), "r")) {
        char narrow[MAX_PATH] = "";
        if (std::fgets(narrow, sizeof narrow, out)) MultiByteToWideChar(CP_ACP, 0, narrow, -1, line, MAX_PATH);
        std::fclose(out);
    }
    std::remove(file.c_str());
    std::wstring directory = line;
    while (!directory.empty() && (directory.back() == L'\n' || directory.back() == L'\r')) directory.pop_back();
    return directory;
}

}  // namespace seed
