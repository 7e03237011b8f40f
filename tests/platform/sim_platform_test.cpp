// The simulation's own controls, and the loud failures it gives for what it does not model or
// what would end the process on Windows.
#include "tests/support/sim_fixture.h"

#include <string>

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::SizeIs;

class SimPlatform : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override { sim::Reset(); }
};

TEST_F(SimPlatform, InjectedStatusAnswersEveryCallOnThatPathInAnyCase) {
    ASSERT_TRUE(sim::CreateKey(L"SOFTWARE\\Key"));
    sim::FailCall(sim::Op::DeleteKey, L"software\\KEY", ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Key"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KEY"), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(sim::KeyExists(L"SOFTWARE\\Key"));
    ASSERT_THAT(sim::RegistryCalls(), SizeIs(2));
    EXPECT_EQ(sim::RegistryCalls()[1].path, L"SOFTWARE\\KEY");
    EXPECT_EQ(sim::RegistryCalls()[1].status, ERROR_ACCESS_DENIED);
}

// The other process's work lands between the program's calls and is none of them.
TEST_F(SimPlatform, AnotherProcessActsBeforeEachCallAndIsNotLogged) {
    ASSERT_TRUE(sim::CreateKey(L"SOFTWARE\\Key"));
    int turns = 0;
    sim::SetOtherProcess([&] { sim::CreateKey(L"SOFTWARE\\Key\\Turn" + std::to_wstring(++turns)); });
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Key", 0, KEY_READ, &key), ERROR_SUCCESS);
    WCHAR name[260];
    DWORD length = 260;
    EXPECT_EQ(RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name), L"Turn1");
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(turns, 3);
    EXPECT_THAT(sim::RegistryCalls(), SizeIs(3));
    EXPECT_EQ(sim::RegistryCalls()[0].reached, L"SOFTWARE\\Key");
}

TEST_F(SimPlatform, HandlesAreCountedAndASecondCloseIsAViolation) {
    ASSERT_TRUE(sim::CreateKey(L"SOFTWARE\\Key"));
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Key", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(sim::OpenHandleCount(), 1);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(sim::OpenHandleCount(), 0);
    EXPECT_THAT(sim::Violations(), IsEmpty());
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_THAT(sim::Violations(), ElementsAre(HasSubstr("not open")));
}

TEST_F(SimPlatform, UnmodelledCallsFailLoudlyInsteadOfSucceeding) {
    ASSERT_TRUE(sim::CreateKey(L"SOFTWARE\\Key\\Sub"));
    HKEY key;
    EXPECT_NE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Key", 0, 0xF003F, &key), ERROR_SUCCESS);
    EXPECT_NE(RegDeleteKeyW(reinterpret_cast<HKEY>(0x80000001u), L"SOFTWARE\\Key\\Sub"), ERROR_SUCCESS);
    EXPECT_NE(RegDeleteKeyW(HKEY_LOCAL_MACHINE, L""), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Key", 0, KEY_READ, &key), ERROR_SUCCESS);
    WCHAR name[260], className[260];
    DWORD length = 260, classLength = 260;
    EXPECT_NE(RegEnumKeyExW(key, 0, name, &length, nullptr, className, &classLength, nullptr), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_THAT(sim::Violations(), SizeIs(4));
    EXPECT_TRUE(sim::KeyExists(L"SOFTWARE\\Key\\Sub"));
}

TEST_F(SimPlatform, BoundedStringFunctionsAppendWithinCapacityAndFlagOverflow) {
    char narrow[8] = "ab";
    EXPECT_EQ(strcat_s(narrow, sizeof narrow, "cdefg"), 0);
    EXPECT_STREQ(narrow, "abcdefg");
    EXPECT_THAT(sim::Violations(), IsEmpty());
    EXPECT_EQ(strcat_s(narrow, sizeof narrow, "h"), ERANGE);
    EXPECT_STREQ(narrow, "");

    wchar_t wide[4];
    EXPECT_EQ(wcscpy_s(wide, 4, L"xyz"), 0);
    EXPECT_EQ(wcscpy_s(wide, 4, L"wxyz"), ERANGE);
    EXPECT_EQ(wcscpy_s(wide, 4, L"x"), 0);
    EXPECT_EQ(wcsncat_s(wide, 4, L"yzzzz", 2), 0);
    EXPECT_EQ(std::wstring(wide), L"xyz");
    EXPECT_EQ(wcsncat_s(wide, 4, L"q", 4), ERANGE);
    EXPECT_THAT(sim::Violations(), SizeIs(3));
}

TEST_F(SimPlatform, EnvironmentCopiesAreTrackedUntilFreed) {
    sim::SetEnv("Name", "value");
    char* copy = nullptr;
    size_t size = 0;
    ASSERT_EQ(_dupenv_s(&copy, &size, "Name"), 0);
    EXPECT_STREQ(copy, "value");
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(sim::LiveEnvCopies(), 1);
    free(copy);
    EXPECT_EQ(sim::LiveEnvCopies(), 0);

    EXPECT_EQ(_dupenv_s(&copy, &size, "Unset"), 0);
    EXPECT_EQ(copy, nullptr);
    sim::FailEnvLookup("Name", ENOMEM);
    EXPECT_EQ(_dupenv_s(&copy, &size, "Name"), ENOMEM);
    EXPECT_EQ(copy, nullptr);
}

TEST_F(SimPlatform, DeniedAccessRefusesOnlyThoseRightsAndOnlyOnThatKey) {
    ASSERT_TRUE(sim::CreateKey(L"SOFTWARE\\Target"));
    ASSERT_TRUE(sim::CreateLink(L"SOFTWARE\\Link", L"SOFTWARE\\Target"));
    sim::DenyAccess(L"SOFTWARE\\Link", DELETE);
    HKEY key;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Link", REG_OPTION_OPEN_LINK, DELETE, &key),
              ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Link", REG_OPTION_OPEN_LINK, KEY_READ, &key),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Link", 0, DELETE, &key), ERROR_SUCCESS);
    EXPECT_EQ(NtDeleteKey(key), STATUS_SUCCESS);
    RegCloseKey(key);
    EXPECT_FALSE(sim::KeyExists(L"SOFTWARE\\Target"));
    EXPECT_THAT(sim::KeyListing(), Contains(L"SOFTWARE\\Link -> SOFTWARE\\Target"));
    EXPECT_THAT(sim::KeyListing(), Not(Contains(L"SOFTWARE\\Target")));
    EXPECT_THAT(sim::Violations(), IsEmpty());
}

// A process ends only when waited for; a looked-up program and the command processor are
// loud failures.
TEST_F(SimPlatform, ProcessesRecordWhatStartedThemAndEndWhenWaitedFor) {
    sim::SetExitCode(42);
    std::string seen;
    sim::OnProcessStart([&](const char* commandLine) { seen = commandLine; });
    char first[] = "first /x";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ASSERT_TRUE(CreateProcessA("C:\\p.exe", first, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process));
    EXPECT_EQ(seen, "first /x");
    DWORD status = 0;
    ASSERT_TRUE(GetExitCodeProcess(process.hProcess, &status));
    EXPECT_EQ(status, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, INFINITE), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeProcess(process.hProcess, &status));
    EXPECT_EQ(status, 42u);
    EXPECT_EQ(sim::OpenProcessHandleCount(), 2);
    EXPECT_TRUE(CloseHandle(process.hThread));
    EXPECT_TRUE(CloseHandle(process.hProcess));
    EXPECT_EQ(sim::OpenProcessHandleCount(), 0);

    ASSERT_TRUE(SetCurrentDirectoryW(L"D:\\elsewhere"));
    char second[] = "second";
    ASSERT_TRUE(CreateProcessA("D:\\q.exe", second, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_THAT(sim::Commands(), ElementsAre("first /x", "second"));
    EXPECT_THAT(sim::CommandDirectories(), ElementsAre(sim::StartDirectory, L"D:\\elsewhere"));
    EXPECT_EQ(sim::Processes()[1].application, "D:\\q.exe");
    EXPECT_TRUE(sim::Processes()[0].inheritedHandles);
    EXPECT_FALSE(sim::Processes()[1].inheritedHandles);
    EXPECT_TRUE(sim::Processes()[0].waitedFor);
    EXPECT_FALSE(sim::Processes()[1].waitedFor);
    EXPECT_THAT(sim::Violations(), IsEmpty());

    EXPECT_FALSE(CreateProcessA("msiexec.exe", second, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process));
    EXPECT_EQ(system("echo hi"), -1);
    EXPECT_THAT(sim::Violations(), SizeIs(2));
    EXPECT_EQ(sim::Processes().size(), 2u);
}

}  // namespace
