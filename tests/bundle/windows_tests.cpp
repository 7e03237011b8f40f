// windows_tests [NAME...]: every Windows-side check of the folder it stands in, on the machine it
// runs on, one result a line and "N passed, M failed" last, ", K skipped" after it when a part did
// not run; exit 1 when anything failed or was skipped. Started by run-windows-tests.cmd from an
// elevated prompt (or under Wine). It runs the registry behaviour tests, checks the version
// resource and manifest of the cleanup.exe beside it, then runs that cleanup.exe end to end. NAMEs
// choose among "behaviour", "resources" and the end-to-end cases; the others are skipped.
// It changes only what it made: before a part runs, what the part would write or remove is looked
// for, and a part that would touch anything already there is not run. Everything it is about to
// create or change is first written to a journal, and the journal goes only once all of that is
// put back; a run that finds a journal finishes that clean-up first.
#include "bundle.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>

using namespace bundle;

namespace {

void BehaviourTests() {
    // Every test, whatever a filter or sharding in the environment would say.
    for (const wchar_t* name : {L"GTEST_FILTER", L"GTEST_TOTAL_SHARDS", L"GTEST_SHARD_INDEX", L"GTEST_ALSO_RUN_DISABLED_TESTS"})
        SetEnvironmentVariableW(name, nullptr);
    const Ran ran = Helper(L"registry_behaviour_tests.exe", L"--gtest_color=no --gtest_filter=*");
    std::istringstream lines(ran.out);
    std::string block;
    int seen = 0, bad = 0;
    for (std::string line; std::getline(lines, line);) {
        const bool ok = line.rfind("[       OK ] ", 0) == 0, failure = line.rfind("[  FAILED  ] ", 0) == 0;
        if ((ok || failure) && line.size() > 4 && line.compare(line.size() - 4, 4, " ms)") == 0) {
            Check("behaviour: " + line.substr(13, line.rfind(" (") - 13), ok, block);
            ++seen;
            bad += failure;
        } else if (line.rfind("[ RUN      ]", 0) == 0) {
            block.clear();
        } else {
            block += line + "\n";
        }
    }
    if (seen == 0 || (ran.status != 0 && bad == 0))
        Check("behaviour: the test program ran to its end", false, ran.out + ran.err + "exit status " + Hex(ran.status));
}

// Around one case: no key under HKLM\SOFTWARE outside the catalogue's rows and the run's own
// keys may go.
void Guarded(const std::string& name, const std::function<void()>& run) {
    const std::vector<std::wstring> before = KeysUnderSoftware();
    Check(name + ": every key under HKLM\\SOFTWARE listed", before.size() > 1, "HKLM\\SOFTWARE cannot be read");
    run();
    const std::string gone = KeysGone(before);
    Check(name + ": no key outside the catalogue removed", gone.empty(), gone);
}

bool Elevated() {
    HANDLE token;
    TOKEN_ELEVATION elevation = {};
    DWORD size = sizeof elevation;
    const bool known = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
                       GetTokenInformation(token, TokenElevation, &elevation, size, &size);
    if (known) CloseHandle(token);
    return known && elevation.TokenIsElevated;
}

int CaseCount() { return static_cast<int>(std::count_if(Cases.begin(), Cases.end(), RunsHere)); }

void EndToEnd(const std::set<std::string>& chosen) {
    const std::string found = Found(L"e2e");
    if (!found.empty()) {
        Skip("end to end", CaseCount(),
             "this machine holds, or could not be asked about, what the cases would write or remove; "
             "nothing of it was touched:\n" +
                 found);
        return;
    }
    for (const wchar_t* code : {ProductCode, NeighbourCode}) Journal("product", code);
    for (const std::wstring& folder : ProductFolders) {
        Journal("folder", folder);
        Journal("file", folder + L"\\payload.txt");
    }
    JournalKeys(L"e2e");
    for (const Case& each : Cases) {
        if (!RunsHere(each)) continue;
        if (!chosen.empty() && !chosen.count(each.name)) {
            Skip(each.name, 1, "not chosen");
            continue;
        }
        Guarded(each.name, each.run);
    }
}

// The cases that are never part of a run here, and so never counted.
void NotRunHere() {
    std::string names;
    for (const Case& each : Cases)
        if (!RunsHere(each)) names += std::string(names.empty() ? "" : ", ") + each.name;
    std::printf("not run here, %s only: %s\n", UnderWine ? "Windows" : "Wine", names.c_str());
    std::printf("not run here, Wine only, from tests/e2e/run-race: race-parent, race-grandparent\n");
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    // A run that hangs must still have shown how far it got.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // Under Wine the first process to use the desktop starts its explorer.exe, which inherits that
    // process's handles and outlives it: let that be this one, never a helper holding its output.
    GetDesktopWindow();
    std::set<std::string> chosen;
    for (int i = 1; i < argc; ++i) chosen.insert(Narrow(argv[i]));
    NotRunHere();
    Check("elevated", Elevated(), "run run-windows-tests.cmd from a prompt started with \"Run as administrator\"");
    // Two runs would carry out each other's journal.
    const HANDLE alone = CreateMutexW(nullptr, TRUE, L"Global\\CleanupBundleRun");
    if (Failed() == 0) Check("no other run of the bundle at the same time", alone && GetLastError() != ERROR_ALREADY_EXISTS);
    // What an interrupted run changed of the machine's folders first: everything else follows them.
    if (Failed() == 0 && Exists(JournalPath)) {
        Check("the earlier run's journal ends with a whole line", DropCutLine());
        Check("the earlier run's changes to the machine's folders put back", PutBackJournaledValues());
    }
    ReadMachineFolders();
    if (Failed() == 0 && Exists(JournalPath)) {
        std::printf("an earlier run did not finish; its journal %s names what it made:\n", Narrow(JournalPath).c_str());
        if (!Restore("the earlier run")) Skip("everything", 1, "nothing more is run until the earlier run's clean-up is done");
    } else if (Failed() == 0 && Exists(Scratch)) {
        Check(Narrow(Scratch) + " is not there before the run", false, "it is not this bundle's: left as it is, nothing run");
    }
    if (Failed() == 0 && Skipped() == 0 && !MakeFolders(Scratch)) Skip("everything", 1, "no scratch folder of its own");
    if (Failed() == 0 && Skipped() == 0) {
        const auto chose = [&](const char* name) { return chosen.empty() || chosen.count(name); };
        const std::string scratchKey = chose("behaviour") ? Found(L"behaviour") : "";
        if (!chose("behaviour")) {
            Skip("behaviour", 1, "not chosen");
        } else if (!scratchKey.empty()) {
            Skip("behaviour", 1, "this machine already holds the tests' scratch key, and it was not touched:\n" + scratchKey);
        } else {
            JournalKeys(L"behaviour");
            BehaviourTests();
        }
        if (chose("resources")) {
            const Ran resources = Helper(L"resource_check.exe", L"cleanup.exe");
            Check("cleanup.exe: version resource and manifest", resources.status == 0, resources.out + resources.err);
        } else {
            Skip("resources", 1, "not chosen");
        }
        EndToEnd(chosen);
        Restore("afterwards");
    }
    std::printf("%d passed, %d failed", Passed(), Failed());
    if (Skipped()) std::printf(", %d skipped", Skipped());
    std::printf("\n");
    return Failed() || Skipped() ? 1 : 0;
}
