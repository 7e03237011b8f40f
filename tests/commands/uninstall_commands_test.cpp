#include "commands/uninstall_commands.h"

#include "tests/support/sim_fixture.h"

#include <string>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char BundleId[] = "{5307B30C-C252-350A-9AC4-2187A2492C94}";

std::string InstallerCommand(const std::string& programFiles, const std::string& programData,
                             const std::string& bundleId) {
    return "\"\"" + programFiles +
           "\\Morvanta\\MoQUAV\\V1\\Installer.exe\"\" -i uninstall --silent --trigger_point system -m " +
           programData + "\\Morvanta\\QUAV\\metadata\\" + bundleId + "\\bundleManifest.xml";
}

class UninstallBundleTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        sim::SetEnv("ProgramFiles", "C:\\Program Files");
        sim::SetEnv("ProgramData", "C:\\ProgramData");
    }
};

TEST_F(UninstallBundleTest, RunsTheInstallerWithQuotedProgramsPathAndUnquotedManifest) {
    sim::SetSystemResult(3010);
    EXPECT_EQ(UninstallBundle(BundleId), 3010);
    ASSERT_THAT(sim::Commands(),
                ElementsAre("\"\"C:\\Program Files\\Morvanta\\MoQUAV\\V1\\Installer.exe\"\" -i uninstall "
                            "--silent --trigger_point system -m C:\\ProgramData\\Morvanta\\QUAV\\metadata\\"
                            "{5307B30C-C252-350A-9AC4-2187A2492C94}\\bundleManifest.xml"));
}

TEST_F(UninstallBundleTest, EachCommandIsBuiltFromScratch) {
    UninstallBundle("{AAAAAAAA-AAAA-AAAA-AAAA-AAAAAAAAAAAA}");
    UninstallBundle("{B}");
    ASSERT_EQ(sim::Commands().size(), 2u);
    EXPECT_EQ(sim::Commands()[1], InstallerCommand("C:\\Program Files", "C:\\ProgramData", "{B}"));
}

TEST_F(UninstallBundleTest, MissingVariableRunsNothingAndReturnsZero) {
    for (const char* missing : {"ProgramFiles", "ProgramData"}) {
        sim::Reset();
        sim::SetEnv(std::string("ProgramFiles") == missing ? "ProgramData" : "ProgramFiles", "C:\\x");
        sim::SetSystemResult(7);
        EXPECT_EQ(UninstallBundle(BundleId), 0) << missing;
        EXPECT_THAT(sim::Commands(), IsEmpty()) << missing;
        EXPECT_EQ(sim::LiveEnvCopies(), 0) << missing;
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

TEST_F(UninstallBundleTest, ValuesAreUsedVerbatim) {
    sim::SetEnv("ProgramFiles", " D:\\Apps (x86) \\");
    sim::SetEnv("ProgramData", "E:\\Shared Data");
    UninstallBundle(BundleId);
    EXPECT_THAT(sim::Commands(), ElementsAre(InstallerCommand(" D:\\Apps (x86) \\", "E:\\Shared Data", BundleId)));
}

// On Windows an overflowing strcat_s ends the process; the fixture fails on any such call.
TEST_F(UninstallBundleTest, CommandUpTo1023BytesRunsWholeAndLongerRunsNothing) {
    const std::size_t fixed = InstallerCommand("", "", BundleId).size();
    const std::string programFiles = "C:\\Program Files";

    sim::SetEnv("ProgramData", std::string(1023 - fixed - programFiles.size(), 'd'));
    EXPECT_EQ(UninstallBundle(BundleId), 0);
    ASSERT_EQ(sim::Commands().size(), 1u);
    EXPECT_EQ(sim::Commands()[0].size(), 1023u);

    sim::SetEnv("ProgramData", std::string(1024 - fixed - programFiles.size(), 'd'));
    EXPECT_EQ(UninstallBundle(BundleId), ERANGE);
    sim::SetEnv("ProgramFiles", std::string(5000, 'f'));
    EXPECT_EQ(UninstallBundle(BundleId), ERANGE);
    EXPECT_EQ(sim::Commands().size(), 1u);
}

class RemoveMsiProductTest : public SimTest {};

TEST_F(RemoveMsiProductTest, RunsMsiexecQuietlyWithTheCodeRightAfterSlashX) {
    sim::SetSystemResult(1605);
    RemoveMsiProduct(L"{4A4724E0-4100-0720-0000-C1F702640DB7}");
    ASSERT_THAT(sim::Commands(), ElementsAre("msiexec /X{4A4724E0-4100-0720-0000-C1F702640DB7} /q"));
    EXPECT_EQ(sim::Commands()[0].size(), 51u);
}

TEST_F(RemoveMsiProductTest, CommandThatWouldBeCutRunsNothing) {
    RemoveMsiProduct(std::wstring(254 - 13, L'c').c_str());
    ASSERT_EQ(sim::Commands().size(), 1u);
    EXPECT_EQ(sim::Commands()[0].size(), 254u);

    RemoveMsiProduct(std::wstring(255 - 13, L'c').c_str());
    RemoveMsiProduct(std::wstring(2000, L'c').c_str());
    EXPECT_EQ(sim::Commands().size(), 1u);
}

}  // namespace
