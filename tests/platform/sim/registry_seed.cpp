#include "tests/platform/registry_seed.h"

#include "commands/run_program.h"
#include "sim_control.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace seed {

const wchar_t ScratchKey[] = L"SOFTWARE\\ProductCleanupTests";

void BeginRegistryTest() {
    sim::Reset();
    sim::CreateKey(ScratchKey);
    // What Windows derives from the machine's folders for a new process, %SystemDrive% expanded.
    sim::SetEnv("ProgramFiles", "C:\\Program Files");
    sim::SetEnv("ProgramData", "C:\\ProgramData");
}

void EndRegistryTest() {
    EXPECT_THAT(sim::Violations(), ::testing::IsEmpty());
    EXPECT_EQ(sim::OpenHandleCount(), 0);
}

bool CreateKey(const std::wstring& path) { return sim::CreateKey(path); }
bool CreateLink(const std::wstring& path, const std::wstring& target) { return sim::CreateLink(path, target); }
bool KeyExists(const std::wstring& path) { return sim::KeyExists(path); }
bool RenameKey(const std::wstring& path, const std::wstring& newName) { return sim::RenameKey(path, newName); }

bool SetValue(const std::wstring& path, const std::wstring& name, unsigned long type, const std::wstring& text) {
    return sim::SetValue(path, name, static_cast<DWORD>(type), text);
}

bool DenyAccess(const std::wstring& path, unsigned long access) {
    if (!sim::KeyExists(path)) return false;
    sim::DenyAccess(path, access);
    return true;
}

std::wstring StartedProgramDirectory() {
    char commandLine[] = "cmd /d /c cd";
    if (RunProgram("C:\\Windows\\System32\\cmd.exe", commandLine) != 0) return L"(not started)";
    return sim::Processes().back().directory;
}

}  // namespace seed
