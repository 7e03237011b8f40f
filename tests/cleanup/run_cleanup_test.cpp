#include "cleanup/run_cleanup.h"

#include "cleanup/catalogue.h"
#include "tests/support/captured_stdout.h"
#include "tests/support/sim_fixture.h"

#include <string>

namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

const char WaitLine[] = "Please wait while product cleanup completes...\n";
const std::vector<std::wstring> Catalogue(std::begin(CleanupCatalogue::RegistryKeys),
                                          std::end(CleanupCatalogue::RegistryKeys));

class RunCleanupTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        sim::SetEnv("ProgramFiles", "C:\\Program Files");
        sim::SetEnv("ProgramData", "C:\\ProgramData");
        for (const WCHAR* key : CleanupCatalogue::RegistryKeys) {
            ASSERT_TRUE(sim::CreateKey(key));
            ASSERT_TRUE(sim::CreateKey(std::wstring(key) + L"\\Sub\\Deeper"));
        }
    }

    // The first path of each catalogue row, in the order the registry saw them.
    static std::vector<std::wstring> RowsAttempted() {
        std::vector<std::wstring> rows;
        for (const auto& call : sim::RegistryCalls())
            for (const WCHAR* key : CleanupCatalogue::RegistryKeys)
                if (call.path == key && (rows.empty() || rows.back() != key)) rows.push_back(key);
        return rows;
    }

    // Calls on keys, not the reads of the machine's folders.
    static std::size_t KeyCalls() {
        std::size_t count = 0;
        for (const auto& call : sim::RegistryCalls()) count += call.op != sim::Op::GetValue;
        return count;
    }

    int Run() {
        CapturedStdout out;
        sim::OnProcessStart([&](const char*) {
            flushedAtCommands_.push_back(out.Flushed());
            registryCallsAtCommands_.push_back(KeyCalls());
        });
        const int status = RunCleanup();
        output_ = out.Take();
        return status;
    }

    // A run that exits 0, printing the wait line and then `more`, having tried every row in order.
    void ExpectRunThroughEveryRow(const std::string& more = "") {
        EXPECT_EQ(Run(), 0);
        EXPECT_EQ(output_, WaitLine + more);
        EXPECT_EQ(RowsAttempted(), Catalogue);
    }

    std::string output_;
    std::vector<std::string> flushedAtCommands_;
    std::vector<std::size_t> registryCallsAtCommands_;
};

TEST_F(RunCleanupTest, WaitsThenUninstallsBothBundlesThenMsiThenDeletesEveryRowInOrder) {
    ExpectRunThroughEveryRow();
    ASSERT_EQ(sim::Commands().size(), 3u);
    EXPECT_THAT(sim::Commands()[0], HasSubstr("\\{5307B30C-C252-350A-9AC4-2187A2492C94}\\"));
    EXPECT_THAT(sim::Commands()[1], HasSubstr("\\{4A337600-F176-316C-BBE5-1D92826B6641}\\"));
    EXPECT_EQ(sim::Commands()[2], "msiexec /X{4A4724E0-4100-0720-0000-C1F702640DB7} /q /norestart");
    for (const auto& process : sim::Processes()) EXPECT_TRUE(process.waitedFor) << process.commandLine;
    EXPECT_THAT(registryCallsAtCommands_, ElementsAre(0u, 0u, 0u));
    for (const WCHAR* key : CleanupCatalogue::RegistryKeys) EXPECT_FALSE(sim::KeyExists(key));
    EXPECT_TRUE(sim::KeyExists(L"SOFTWARE\\Morvanta\\OXB2"));
    EXPECT_TRUE(sim::KeyExists(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"));
}

TEST_F(RunCleanupTest, WaitLineIsFlushedBeforeTheFirstCommandRuns) {
    Run();
    ASSERT_FALSE(flushedAtCommands_.empty());
    EXPECT_EQ(flushedAtCommands_[0], WaitLine);
}

TEST_F(RunCleanupTest, FailedOrSkippedCommandsChangeNothingAfterThem) {
    sim::FailEnvLookup("ProgramData", EINVAL);
    sim::SetExitCode(-1);
    ExpectRunThroughEveryRow();
    EXPECT_THAT(sim::Commands(), ElementsAre(StartsWith("msiexec /X")));
}

// Only "another installation is in progress" is waited out, 10 s at a time for at most 5 minutes
// of the clock; still busy then, the product is still installed and no key may go.
TEST_F(RunCleanupTest, BusyWindowsInstallerIsWaitedForAndNeverLeavesTheProductOrphaned) {
    struct Case {
        const char* what;
        std::vector<DWORD> answers;  // the last one repeats
        DWORD runTime;               // of each process, in ms
        std::size_t runs;
        int status;
    };
    const Case cases[] = {
        {"busy twice, then removed", {1618, 1618, 0}, 0, 3, 0},
        {"busy throughout", {1618}, 0, 31, 1618},
        {"busy throughout, each answer taking 50 s", {1618}, 50000, 6, 1618},
        {"removal failed", {1603}, 0, 1, 0},
        {"product not installed", {1605}, 0, 1, 0},
        {"removed, a restart needed", {3010}, 0, 1, 0},
        {"busy, then a restart needed", {1618, 3010}, 0, 2, 0},
    };
    const std::string msiexec = "C:\\Windows\\system32\\msiexec.exe";
    for (const Case& c : cases) {
        SetUp();
        sim::SetExitCodes(msiexec, c.answers);
        sim::SetRunTime(c.runTime);
        EXPECT_EQ(Run(), c.status) << c.what;
        EXPECT_EQ(output_, WaitLine) << c.what;
        // Each run starts 10 s after the one before it ended, with the same command.
        std::vector<ULONGLONG> starts, expected;
        for (const auto& process : sim::Processes()) {
            if (process.application != msiexec) continue;
            EXPECT_EQ(process.commandLine, "msiexec /X{4A4724E0-4100-0720-0000-C1F702640DB7} /q /norestart");
            starts.push_back(process.startedAt);
        }
        for (std::size_t run = 0; run < c.runs; ++run) expected.push_back(starts.at(0) + run * (c.runTime + 10000));
        EXPECT_EQ(starts, expected) << c.what;
        EXPECT_THAT(sim::Violations(), IsEmpty()) << c.what;
        if (c.status == 0) {
            EXPECT_EQ(RowsAttempted(), Catalogue) << c.what;
        } else {
            EXPECT_EQ(KeyCalls(), 0u) << c.what;
            for (const WCHAR* key : CleanupCatalogue::RegistryKeys) EXPECT_TRUE(sim::KeyExists(key)) << c.what;
        }
    }
}

TEST_F(RunCleanupTest, RowThatCannotBeDeletedDoesNotStopTheRowsAfterIt) {
    const std::wstring row5 = CleanupCatalogue::RegistryKeys[4];
    sim::FailCall(sim::Op::OpenKey, row5 + L"\\Sub", ERROR_ACCESS_DENIED);
    ExpectRunThroughEveryRow("Error opening key.\n");
    EXPECT_TRUE(sim::KeyExists(row5 + L"\\Sub\\Deeper"));
    for (int row = 5; row < CleanupCatalogue::RegistryKeyCount; ++row)
        EXPECT_FALSE(sim::KeyExists(CleanupCatalogue::RegistryKeys[row]));
}

TEST_F(RunCleanupTest, AbsentRowsAreSkippedSilently) {
    sim::Reset();
    ExpectRunThroughEveryRow();
}

TEST_F(RunCleanupTest, ExitStatusIsZeroWhenNothingAtAllCanBeRemoved) {
    sim::FailEnvLookup("ProgramFiles", EINVAL);
    sim::SetExitCode(1);
    std::string errors;
    for (const WCHAR* key : CleanupCatalogue::RegistryKeys) {
        sim::FailCall(sim::Op::OpenKey, key, ERROR_ACCESS_DENIED);
        errors += "Error opening key.\n";
    }
    ExpectRunThroughEveryRow(errors);
    for (const WCHAR* key : CleanupCatalogue::RegistryKeys) EXPECT_TRUE(sim::KeyExists(key));
}

TEST_F(RunCleanupTest, EveryCommandRunsInTheSystemDirectoryNotTheStartFolder) {
    EXPECT_EQ(sim::CurrentDirectory(), sim::StartDirectory);
    Run();
    ASSERT_EQ(sim::Commands().size(), 3u);
    EXPECT_THAT(sim::CommandDirectories(), Each(std::wstring(sim::SystemDirectory)));
}

TEST_F(RunCleanupTest, WithoutTheSystemDirectoryNoCommandRunsAndEveryRowIsStillDeleted) {
    sim::SetSystemDirectory(L"");
    ExpectRunThroughEveryRow();
    EXPECT_THAT(sim::Commands(), IsEmpty());
    for (const WCHAR* key : CleanupCatalogue::RegistryKeys) EXPECT_FALSE(sim::KeyExists(key));
}

}  // namespace
