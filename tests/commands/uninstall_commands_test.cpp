#include "commands/uninstall_commands.h"

#include "tests/support/sim_fixture.h"

#include <string>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char BundleId[] = "{5307B30C-C252-350A-9AC4-2187A2492C94}";

std::string InstallerCommand(const std::string& programFiles, const std::string& programData,
                             const std::string& bundleId) {
    const std::string manifest = programData + "\\Morvanta\\QUAV\\metadata\\" + bundleId + "\\bundleManifest.xml";
    const std::string quote = programData.find(' ') == std::string::npos ? "" : "\"";
    return "\"" + programFiles + "\\Morvanta\\MoQUAV\\V1\\Installer.exe\" -i uninstall --silent --trigger_point system -m " +
           quote + manifest + quote;
}

class UninstallBundleTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        SetFolders("C:\\Program Files", "C:\\ProgramData");
    }
    // The environment and the machine's own folders alike.
    static void SetFolders(const std::string& programFiles, const std::string& programData) {
        sim::SetEnv("ProgramFiles", programFiles);
        sim::SetEnv("ProgramData", programData);
        sim::SetMachineFolders({programFiles.begin(), programFiles.end()}, {programData.begin(), programData.end()});
    }
};

TEST_F(UninstallBundleTest, StartsTheInstallerByItsPathWithTheManifestUnquoted) {
    sim::SetExitCode(3010);
    EXPECT_EQ(UninstallBundle(BundleId), 3010);
    ASSERT_EQ(sim::Processes().size(), 1u);
    const sim::ProcessStart& installer = sim::Processes()[0];
    EXPECT_EQ(installer.application, "C:\\Program Files\\Morvanta\\MoQUAV\\V1\\Installer.exe");
    EXPECT_EQ(installer.commandLine,
              "\"C:\\Program Files\\Morvanta\\MoQUAV\\V1\\Installer.exe\" -i uninstall --silent --trigger_point "
              "system -m C:\\ProgramData\\Morvanta\\QUAV\\metadata\\{5307B30C-C252-350A-9AC4-2187A2492C94}\\"
              "bundleManifest.xml");
    EXPECT_TRUE(installer.inheritedHandles);
    EXPECT_TRUE(installer.waitedFor);
}

TEST_F(UninstallBundleTest, EachCommandIsBuiltFromScratch) {
    UninstallBundle("{AAAAAAAA-AAAA-AAAA-AAAA-AAAAAAAAAAAA}");
    UninstallBundle("{B}");
    ASSERT_EQ(sim::Commands().size(), 2u);
    EXPECT_EQ(sim::Commands()[1], InstallerCommand("C:\\Program Files", "C:\\ProgramData", "{B}"));
}

// Each variable is used only as the machine's own folder, and never with anything a command line
// parses; the machine's ProgramData is kept with %SystemDrive%, the drive of the Windows directory.
TEST_F(UninstallBundleTest, EachFolderIsUsedOnlyWhenItIsTheMachinesOwn) {
    struct Case {
        const char* what;
        std::wstring machine;
        const char* value;  // nullptr: unset
        bool runs;
    };
    const Case cases[] = {
        {"the machine's folder", L"D:\\Apps", "D:\\Apps", true},
        {"differing in case only", L"D:\\Apps", "d:\\APPS", true},
        {"a different folder", L"D:\\Apps", "C:\\Users\\me\\Apps", false},
        {"a longer folder", L"D:\\Apps", "D:\\Apps\\", false},
        {"holding a metacharacter", L"D:\\A&pps", "D:\\A&pps", false},
        {"holding a control character", L"D:\\A\tpps", "D:\\A\tpps", false},
        {"holding a blank", L"D:\\My Apps", "D:\\My Apps", true},
        {"unset", L"D:\\Apps", nullptr, false},
        {"the machine's folder unknown", L"", "D:\\Apps", false},
        {"behind %SystemDrive%", L"%SystemDrive%\\Apps", "C:\\Apps", true},
        {"behind another variable", L"%OtherDrive%\\Apps", "%OtherDrive%\\Apps", false},
    };
    for (const bool files : {true, false}) {
        const char* const name = files ? "ProgramFiles" : "ProgramData";
        for (const Case& c : cases) {
            const std::string what = std::string(name) + " " + c.what;
            sim::Reset();
            sim::SetEnv("SystemDrive", "Z:");
            sim::SetEnv(files ? "ProgramData" : "ProgramFiles", files ? "C:\\ProgramData" : "C:\\Program Files");
            if (c.value) sim::SetEnv(name, c.value);
            sim::SetMachineFolders(files ? c.machine : L"C:\\Program Files", files ? L"C:\\ProgramData" : c.machine);
            if (c.machine.empty())
                sim::FailCall(sim::Op::GetValue,
                              files ? L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ProgramFilesDir"
                                    : L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\ProgramData",
                              ERROR_FILE_NOT_FOUND);
            EXPECT_EQ(UninstallBundle(BundleId), 0) << what;
            if (!c.runs) {
                EXPECT_THAT(sim::Commands(), IsEmpty()) << what;
                continue;
            }
            ASSERT_EQ(sim::Commands().size(), 1u) << what;
            const std::string programFiles = files ? c.value : "C:\\Program Files";
            EXPECT_EQ(sim::Commands()[0], InstallerCommand(programFiles, files ? "C:\\ProgramData" : c.value, BundleId))
                << what;
            EXPECT_EQ(sim::Processes()[0].application, programFiles + "\\Morvanta\\MoQUAV\\V1\\Installer.exe") << what;
        }
    }
}

TEST_F(UninstallBundleTest, FailingLookupReturnsItsErrorAndFreesWhatWasRead) {
    sim::FailEnvLookup("ProgramFiles", ENOMEM);
    EXPECT_EQ(UninstallBundle(BundleId), ENOMEM);

    SetUp();
    sim::FailEnvLookup("ProgramData", EINVAL);
    EXPECT_EQ(UninstallBundle(BundleId), EINVAL);
    EXPECT_THAT(sim::Commands(), IsEmpty());
}

TEST_F(UninstallBundleTest, AnInstallerThatCannotBeStartedReturnsMinusOne) {
    sim::FailProcessStart();
    EXPECT_EQ(UninstallBundle(BundleId), -1);
}

// Counted with the two quotes the command processor's form had, and any around the manifest.
// On Windows an overflowing strcat_s ends the process; the fixture fails on any such call.
TEST_F(UninstallBundleTest, CommandUpTo1023BytesRunsWholeAndLongerRunsNothing) {
    for (const char* blank : {"", " "}) {
        const std::string programFiles = "C:\\Program Files";
        const std::size_t fixed = InstallerCommand(programFiles, blank, BundleId).size() + 2;
        const std::string fits = "C:" + std::string(blank) + std::string(1023 - fixed - 2, 'd');
        sim::Reset();
        SetFolders(programFiles, fits);
        EXPECT_EQ(UninstallBundle(BundleId), 0);
        ASSERT_EQ(sim::Commands().size(), 1u);
        EXPECT_EQ(sim::Commands()[0].size() + 2, 1023u);
        EXPECT_EQ(sim::Commands()[0], InstallerCommand(programFiles, fits, BundleId));

        SetFolders(programFiles, fits + "d");
        EXPECT_EQ(UninstallBundle(BundleId), ERANGE);
        EXPECT_EQ(sim::Commands().size(), 1u);
    }
}

class RemoveMsiProductTest : public SimTest {};

TEST_F(RemoveMsiProductTest, StartsTheSystemDirectorysMsiexecQuietWithoutARestart) {
    sim::SetExitCode(3010);
    EXPECT_EQ(RemoveMsiProduct(L"{4A4724E0-4100-0720-0000-C1F702640DB7}"), 3010);
    ASSERT_EQ(sim::Processes().size(), 1u);
    EXPECT_EQ(sim::Processes()[0].application, "C:\\Windows\\system32\\msiexec.exe");
    EXPECT_EQ(sim::Processes()[0].commandLine, "msiexec /X{4A4724E0-4100-0720-0000-C1F702640DB7} /q /norestart");
    EXPECT_EQ(sim::Processes()[0].commandLine.size(), 62u);
    EXPECT_TRUE(sim::Processes()[0].waitedFor);
}

TEST_F(RemoveMsiProductTest, CommandThatWouldBeCutRunsNothing) {
    const std::size_t fixed = std::string("msiexec /X /q /norestart").size();
    RemoveMsiProduct(std::wstring(254 - fixed, L'c').c_str());
    ASSERT_EQ(sim::Commands().size(), 1u);
    EXPECT_EQ(sim::Commands()[0].size(), 254u);

    EXPECT_EQ(RemoveMsiProduct(std::wstring(255 - fixed, L'c').c_str()), -1);
    EXPECT_EQ(RemoveMsiProduct(std::wstring(2000, L'c').c_str()), -1);
    EXPECT_EQ(sim::Commands().size(), 1u);
}

TEST_F(RemoveMsiProductTest, WithoutTheSystemDirectoryNothingRuns) {
    sim::SetSystemDirectory(L"");
    EXPECT_EQ(RemoveMsiProduct(L"{4A4724E0-4100-0720-0000-C1F702640DB7}"), -1);
    sim::SetSystemDirectory(L"D:\\" + std::wstring(MAX_PATH - 14, L'w'));
    RemoveMsiProduct(L"{4A4724E0-4100-0720-0000-C1F702640DB7}");
    EXPECT_THAT(sim::Commands(), IsEmpty());
}

}  // namespace
