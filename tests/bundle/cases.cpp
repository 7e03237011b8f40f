// The end-to-end cases: cleanup.exe run against seeded registry trees, with a stand-in for the
// maker's installer that records its arguments. Those that real Windows allows run anywhere; those
// that need the machine's folders changed in HKLM or a recorder in place of the system's msiexec
// run under Wine only, where the prefix is a throwaway.
#include "bundle.h"

#include <cstdio>

namespace bundle {

namespace {

const char InstallerRan[] = "Installer.exe ran\n";
const char MsiexecRan[] = "msiexec.exe ran\n";
const std::string AllRan = std::string(WaitLine) + InstallerRan + InstallerRan;
// The stand-in's records: its arguments, and whether the product was still installed each time.
const wchar_t* const Records[] = {L".args", L".product"};

std::wstring InstallerIn(const std::wstring& programFiles) { return programFiles + L"\\Morvanta\\MoQUAV\\V1\\Installer.exe"; }
std::wstring Installer() { return InstallerIn(ProgramFiles); }

// Every program the run starts runs in the system directory, never in the folder it was started from.
std::string InSystemDirectory() { return "-- in " + Narrow(SystemDirectory) + "\n"; }
std::string InstallerArguments(const std::wstring& programData = ProgramData) {
    std::string all;
    for (const char* bundle : Bundles)
        all += "-i\nuninstall\n--silent\n--trigger_point\nsystem\n-m\n" + Narrow(programData) +
               "\\Morvanta\\QUAV\\metadata\\" + bundle + "\\bundleManifest.xml\n" + InSystemDirectory();
    return all;
}

std::string MsiexecArguments(int runs) {
    std::string all;
    for (int run = 0; run < runs; ++run) all += "/X" + Narrow(ProductCode) + "\n/q\n/norestart\n" + InSystemDirectory();
    return all;
}

// The recorder at path, with no record of an earlier run.
void FreshStandIn(const std::wstring& path) {
    MakeFolders(Folder(path));
    if (!Exists(path)) CopyOwn(Here + L"\\record_args.exe", path);
    for (const wchar_t* suffix : Records) {
        Journal("file", path + suffix);
        DeleteFileW((path + suffix).c_str());
    }
}

// Look-alikes in folder: a batch file that leaves NAME.ran beside itself when a command processor
// runs it, any other name a copy of the recorder. Their traces, journaled, are returned.
std::vector<std::wstring> Plant(const std::wstring& folder, std::initializer_list<std::wstring> names) {
    std::vector<std::wstring> traces;
    for (const std::wstring& name : names) {
        const std::wstring path = folder + L"\\" + name, type = name.substr(name.size() - 4);
        const bool batch = type == L".bat" || type == L".cmd";
        MakeFolders(Folder(path));
        if (!Exists(path) && batch) WriteText(path, "@echo off\r\necho ran>\"%~dp0" + Narrow(name) + ".ran\"\r\n");
        if (!Exists(path) && !batch) CopyOwn(Here + L"\\record_args.exe", path);
        for (const wchar_t* suffix : Records)
            if (!batch) traces.push_back(path + suffix);
        if (batch) traces.push_back(path + L".ran");
    }
    for (const std::wstring& trace : traces) Journal("file", trace);
    return traces;
}

// The traces that exist, named below folder: what ran.
std::string Left(const std::vector<std::wstring>& traces, const std::wstring& folder) {
    std::string ran;
    for (const std::wstring& trace : traces)
        if (Exists(trace)) ran += Narrow(trace.substr(folder.size() + 1)) + " ";
    return ran;
}

// A seeded registry (or cleared, for Windows Installer) and a fresh stand-in for the installer.
void Arrange(const std::string& name, const std::wstring& seed, const std::wstring& programFiles = ProgramFiles) {
    FreshStandIn(InstallerIn(programFiles));
    Registry(name + ": arranged (e2e_registry " + Narrow(seed) + ")", seed);
}

// cleanup.exe with ignored arguments and the settings in its environment; the one in directory
// when given, as an admin starts it from the folder it was downloaded to.
Ran RunCleanup(const std::vector<std::wstring>& settings = {}, const std::wstring& directory = L"") {
    return Run((directory.empty() ? Here : directory) + L"\\cleanup.exe", L"--ignored \"two words\"", directory, settings);
}

void ExpectRun(const std::string& name, const Ran& run, const std::string& output) {
    Expect(name + ": exit status", std::to_string(run.status), "0");
    Expect(name + ": output, the wait line first", run.out, output);
    Expect(name + ": nothing on stderr", run.err, "");
}

void Normal() {
    Arrange("normal", L"seed");
    ExpectRun("normal", RunCleanup(), AllRan);
    Expect("normal: installer arguments, bundle 1 then 2, in the system directory", ReadText(Installer() + L".args"), InstallerArguments());
    Registry("normal: all 26 rows gone, every neighbour intact", L"check");
}

void MsiRemoved() {
    Arrange("msi-removed", L"clear");
    Msiexec(L"/i " + Quoted(Here + L"\\Neighbour.msi") + L" /qn");
    Msiexec(L"/i " + Quoted(Here + L"\\Product.msi") + L" /qn");
    Expect("msi-removed: Windows Installer knows the product", MsiState(ProductCode), "installed");
    Expect("msi-removed: the rows it wrote", Answer(Helper(L"e2e_registry.exe", L"present")), "3 4 5 6 7 10 21");
    ExpectRun("msi-removed", RunCleanup(), AllRan);
    // The stand-in notes, each time it runs, whether the product was still installed then.
    Expect("msi-removed: both installer runs came before msiexec removed the product", ReadText(Installer() + L".product"),
           "installed\ninstalled\n");
    Expect("msi-removed: Windows Installer no longer knows it", MsiState(ProductCode), "unknown");
    Check("msi-removed: its file removed by msiexec /X", !Exists(ProductFolders[0] + L"\\payload.txt"));
    Expect("msi-removed: no row left", Answer(Helper(L"e2e_registry.exe", L"present")), "");
    Expect("msi-removed: the neighbour product still installed", MsiState(NeighbourCode), "installed");
    Msiexec(std::wstring(L"/x ") + NeighbourCode + L" /qn");
}

void Links() {
    Arrange("links", L"seed");
    Registry("links: arranged (e2e_registry links)", L"links");
    ExpectRun("links", RunCleanup(), AllRan);
    Registry("links: the links and rows gone, every neighbour intact", L"check");
    Registry("links: every key they pointed to intact", L"victims");
}

void DeniedSubkey() {
    Arrange("denied-subkey", L"seed");
    Registry("denied-subkey: arranged (e2e_registry deny 5)", L"deny 5");
    ExpectRun("denied-subkey", RunCleanup(), AllRan + "Error opening key.\n");
    Registry("denied-subkey: row 5 stays, the others gone", L"check 5");
}

void LongBranch() {
    Arrange("long-branch", L"seed");
    const Ran branch = Helper(L"e2e_registry.exe", L"branch 18");
    std::printf("     %s\n", Trimmed(branch.out).c_str());
    Check("long-branch: arranged, at least 500 levels below HKLM", branch.status == 0, Answer(branch));
    ExpectRun("long-branch", RunCleanup(), AllRan);
    Registry("long-branch: all 26 rows gone, the whole branch with them", L"check");
}

// A session's programs folder as a 64-bit process has it. Wine gives a 64-bit process the ProgramFiles
// that its ProgramW6432 names, as Windows does when a 32-bit process starts a 64-bit one.
std::vector<std::wstring> SessionProgramFiles(const std::wstring& folder) {
    return {L"ProgramFiles=" + folder, L"ProgramW6432=" + folder};
}

// What the admin's unelevated session could set: a command processor, a PATHEXT and PATH that
// find a batch msiexec first, and a programs folder of its own or a command inside ProgramData,
// or both.
void HostileEnvironment(const std::string& name, bool programFiles, bool programData) {
    const std::wstring planted = Scratch + L"\\Planted", injected = Scratch + L"\\injected.txt";
    Arrange(name, L"seed");
    std::vector<std::wstring> traces =
        Plant(planted, {L"evil.exe", InstallerIn(L"").substr(1), L"msiexec.bat", L"msiexec.cmd"});
    Journal("file", injected);
    std::vector<std::wstring> settings = {L"COMSPEC=" + planted + L"\\evil.exe", L"PATHEXT=.BAT;.CMD", L"PATH=" + planted + L";%PATH%"};
    if (programFiles)
        for (const std::wstring& setting : SessionProgramFiles(planted)) settings.push_back(setting);
    if (programData) settings.push_back(L"ProgramData=C:\\PD&echo INJECTED>" + injected + L"&rem ");
    const Ran run = RunCleanup(settings);
    Expect(name + ": exit status", std::to_string(run.status), "0");
    Check(name + ": output, the wait line first", run.out.rfind(WaitLine, 0) == 0, run.out);
    Expect(name + ": nothing on stderr", run.err, "");
    Expect(name + ": nothing planted ran", Left(traces, planted), "");
    Check(name + ": no value run as a command", !Exists(injected));
    Check(name + ": the installer not run", !Exists(Installer() + L".args"));
    Registry(name + ": all 26 rows gone", L"check");
    traces.push_back(injected);
    for (const std::wstring& trace : traces) DeleteFileW(trace.c_str());
}

// detect.ps1 as a fleet tool runs it, from the native and from the 32-bit PowerShell: one line
// only when no catalogue key exists in the 64-bit view, nothing otherwise, exit 0 either way.
void ExpectDetection(const std::string& what, bool detected) {
    for (const wchar_t* folder : {L"\\System32", L"\\SysWOW64"}) {
        const Ran ran = Run(Windows + folder + L"\\WindowsPowerShell\\v1.0\\powershell.exe",
                            L"-NoProfile -NonInteractive -ExecutionPolicy Bypass -File " + Quoted(Here + L"\\detect.ps1"));
        Expect(what + ", detect.ps1 from " + Narrow(folder + 1), Answer(ran),
               detected ? "Product cleanup: none of the 26 registry keys exists" : "");
    }
}

void Detection() {
    Arrange("detect", L"seed");
    ExpectDetection("detect: seeded", false);
    ExpectRun("detect", RunCleanup(), AllRan);
    ExpectDetection("detect: after the run", true);
    // An uninstall entry exists only in the 64-bit view: a 32-bit reading would miss it.
    Registry("detect: arranged, row 26 alone", L"seed-except 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25");
    ExpectDetection("detect: row 26 alone", false);
}

// A 32-bit parent, as a 32-bit deployment agent is: Windows gives the 64-bit child the 64-bit
// ProgramFiles, so the installer runs.
void From32BitParent() {
    Arrange("32-bit-parent", L"seed");
    ExpectRun("32-bit-parent", Run(Windows + L"\\SysWOW64\\cmd.exe", L"/c \"" + Quoted(Here + L"\\cleanup.exe") + L"\""),
              AllRan);
    Expect("32-bit-parent: installer arguments, bundle 1 then 2", ReadText(Installer() + L".args"), InstallerArguments());
    Registry("32-bit-parent: all 26 rows gone, every neighbour intact", L"check");
}

// Under Wine: a seeded registry, the installer stand-in, and the recorder as the system's msiexec,
// which Wine is told to load instead of its own while the run goes (a WINEDLLOVERRIDES in the
// environment would be Wine's to read, never a Windows parent's to pass on).
void ArrangeWithStandIn(const std::string& name, const std::wstring& programFiles = ProgramFiles) {
    Arrange(name, L"seed", programFiles);
    ReplaceSystemMsiexec();
}

Ran RunWithStandIn(const std::vector<std::wstring>& settings = {}, const std::wstring& directory = L"") {
    SetPrefixValue(MsiexecLoadOrder, L"native");
    const Ran run = RunCleanup(settings, directory);
    PutBackPrefixValue(MsiexecLoadOrder);
    return run;
}

// Without the machine's value, the run cannot tell a session's folder from the machine's: a
// programs folder holding an installer of its own, or a ProgramData that only names the folder
// Windows had set. Each with the other folder the machine's, so that this check alone refuses.
void FolderUnset(const std::string& name, const PrefixValue& unset) {
    const bool programFiles = &unset == &ProgramFilesDir;
    const std::wstring planted = Scratch + L"\\Planted Programs", plantedInstaller = InstallerIn(planted);
    ArrangeWithStandIn(name);
    if (programFiles) FreshStandIn(plantedInstaller);
    SetPrefixValue(unset, nullptr);
    ExpectRun(name, RunWithStandIn(programFiles ? SessionProgramFiles(planted) : std::vector<std::wstring>{L"ProgramData=" + ProgramData}),
              WaitLine + std::string(MsiexecRan));
    Check(name + ": the installer not run", !Exists(Installer() + L".args"));
    if (programFiles) Check(name + ": the session's installer not run", !Exists(plantedInstaller + L".args"));
    Expect(name + ": msiexec's command line", ReadText(SystemMsiexec + L".args"), MsiexecArguments(1));
    Registry(name + ": all 26 rows gone, every neighbour intact", L"check");
}

// The machine's ProgramData with a blank, its ProgramFiles with blanks and parentheses; the run's
// environment names both as Windows would set them on such a machine.
void ProgramDataBlank() {
    const std::string name = "programdata-blank";
    const std::wstring programFiles = Scratch + L"\\Program Files (x86 e2e) Test", programData = Scratch + L"\\Program Data";
    SetPrefixValue(ProgramFilesDir, programFiles.c_str());
    SetPrefixValue(ProfileProgramData, programData.c_str());
    ArrangeWithStandIn(name, programFiles);
    std::vector<std::wstring> settings = SessionProgramFiles(programFiles);
    settings.push_back(L"ProgramData=" + programData);
    ExpectRun(name, RunWithStandIn(settings), AllRan + MsiexecRan);
    Expect(name + ": installer arguments, the manifest path one argument", ReadText(InstallerIn(programFiles) + L".args"),
           InstallerArguments(programData));
    Registry(name + ": all 26 rows gone, every neighbour intact", L"check");
}

// A ProgramData that makes the installer command exactly `length` bytes, counted with the second
// pair of quotes of the command processor's form: 1023 runs whole, 1024 not at all.
void CommandLength(const std::string& name, size_t length) {
    const size_t fixed = 2 + ProgramFiles.size() + std::wstring(L"\\Morvanta\\MoQUAV\\V1\\Installer.exe\"\"").size() +
                         std::string(" -i uninstall --silent --trigger_point system -m ").size() + 38 +
                         std::string("\\Morvanta\\QUAV\\metadata\\\\bundleManifest.xml").size();
    const std::wstring programData = L"C:\\" + std::wstring(length - fixed - 3, L'D');
    SetPrefixValue(ProfileProgramData, programData.c_str());
    ArrangeWithStandIn(name);
    const Ran run = RunWithStandIn({L"ProgramData=" + programData});
    if (length == 1023) {
        ExpectRun(name, run, AllRan + MsiexecRan);
        Expect(name + ": installer arguments, whole", ReadText(Installer() + L".args"), InstallerArguments(programData));
    } else {
        ExpectRun(name, run, WaitLine + std::string(MsiexecRan));
        Check(name + ": the installer not run", !Exists(Installer() + L".args"));
    }
    Expect(name + ": msiexec's command line", ReadText(SystemMsiexec + L".args"), MsiexecArguments(1));
    Registry(name + ": all 26 rows gone, every neighbour intact", L"check");
}

// Started in a downloads folder that holds it and look-alikes of everything a search for a
// program or a command processor would find first, with COMSPEC and without it.
void PlantedStartFolder() {
    const std::wstring downloads = Scratch + L"\\Downloads";
    const std::vector<std::wstring> traces =
        Plant(downloads, {L"msiexec.exe", L"msiexec.com", L"cmd.exe", L"msiexec.bat", L"msiexec.cmd"});
    if (!Exists(downloads + L"\\cleanup.exe")) CopyOwn(Here + L"\\cleanup.exe", downloads + L"\\cleanup.exe");
    for (const bool comspec : {true, false}) {
        const std::string name = std::string("planted-start-folder, ") + (comspec ? "with" : "without") + " COMSPEC";
        ArrangeWithStandIn(name);
        ExpectRun(name, RunWithStandIn(comspec ? std::vector<std::wstring>{} : std::vector<std::wstring>{L"COMSPEC"}, downloads),
                  AllRan + MsiexecRan);
        Expect(name + ": nothing planted ran", Left(traces, downloads), "");
        Expect(name + ": the system directory's msiexec, once", ReadText(SystemMsiexec + L".args"), MsiexecArguments(1));
        Registry(name + ": all 26 rows gone, every neighbour intact", L"check");
    }
}

// The stand-in answers as a Windows Installer busy with another installation, or as a removal
// that needs a restart, in turn.
void MsiexecAnswers(const std::string& name, const std::string& answers, int runs) {
    ArrangeWithStandIn(name);
    WriteText(SystemMsiexec + L".answers", answers);
    const ULONGLONG started = GetTickCount64();
    const Ran run = RunWithStandIn();
    const ULONGLONG waited = GetTickCount64() - started;
    std::string output = AllRan;
    for (int each = 0; each < runs; ++each) output += MsiexecRan;
    ExpectRun(name, run, output);
    Expect(name + ": msiexec's command line, each run", ReadText(SystemMsiexec + L".args"), MsiexecArguments(runs));
    if (runs > 1)
        Check(name + ": 10 s waited after each busy answer", waited >= 10000ULL * (runs - 1), std::to_string(waited) + " ms");
    Registry(name + ": all 26 rows gone, every neighbour intact", L"check");
}

// Wine's own msiexec with a package that refuses its removal, or asks for a restart after it.
void RealRemoval(const std::string& name, const wchar_t* package, DWORD alone) {
    const std::wstring installed = (alone == ERROR_INSTALL_FAILURE ? ProductFolders[2] : ProductFolders[3]) + L"\\payload.txt";
    Arrange(name, L"clear");
    Msiexec(L"/i " + Quoted(Here + L"\\" + package) + L" /qn");
    Expect(name + ": msiexec /X alone answers", std::to_string(Msiexec(std::wstring(L"/X") + ProductCode + L" /q /norestart")),
           std::to_string(alone));
    if (alone != ERROR_INSTALL_FAILURE) Msiexec(L"/i " + Quoted(Here + L"\\" + package) + L" /qn");
    Expect(name + ": Windows Installer knows the product", MsiState(ProductCode), "installed");
    ExpectRun(name, RunCleanup(), AllRan);
    Expect(name + ": Windows Installer no longer knows it", MsiState(ProductCode), "unknown");
    Expect(name + ": no row left", Answer(Helper(L"e2e_registry.exe", L"present")), "");
    // The program removes registrations, not files: what msiexec refused to remove stays.
    Check(name + (alone == ERROR_INSTALL_FAILURE ? ": its file stays" : ": its file removed"),
          Exists(installed) == (alone == ERROR_INSTALL_FAILURE));
}

// A Wine-only case leaves the machine's folders and msiexec as it found them for the next one.
std::function<void()> Wine(std::function<void()> run) {
    return [run] {
        run();
        PutBackSystemMsiexec();
        PutBackPrefixValues();
    };
}

}  // namespace

const std::vector<Case> Cases = {
    {"normal", Normal},
    {"msi-removed", MsiRemoved},
    {"links", Links},
    {"denied-subkey", DeniedSubkey},
    {"long-branch", LongBranch},
    {"hostile-environment", [] { HostileEnvironment("hostile-environment", true, true); }},
    {"hostile-programfiles", [] { HostileEnvironment("hostile-programfiles", true, false); }},
    {"hostile-programdata", [] { HostileEnvironment("hostile-programdata", false, true); }},
    // Wine has no PowerShell, and a 64-bit prefix here no 32-bit programs.
    {"detect", Detection, Case::WindowsOnly},
    {"32-bit-parent", From32BitParent, Case::WindowsOnly},
    {"programfiles-unset", Wine([] { FolderUnset("programfiles-unset", ProgramFilesDir); }), Case::WineOnly},
    {"programdata-unset", Wine([] { FolderUnset("programdata-unset", ProfileProgramData); }), Case::WineOnly},
    {"programdata-blank", Wine(ProgramDataBlank), Case::WineOnly},
    {"command-1023", Wine([] { CommandLength("command-1023", 1023); }), Case::WineOnly},
    {"command-1024", Wine([] { CommandLength("command-1024", 1024); }), Case::WineOnly},
    {"planted-start-folder", Wine(PlantedStartFolder), Case::WineOnly},
    {"msiexec-busy", Wine([] { MsiexecAnswers("msiexec-busy", "1618\n1618\n0\n", 3); }), Case::WineOnly},
    {"msiexec-restart", Wine([] { MsiexecAnswers("msiexec-restart", "3010\n", 1); }), Case::WineOnly},
    {"msi-uninstall-refused", [] { RealRemoval("msi-uninstall-refused", L"Refusing.msi", ERROR_INSTALL_FAILURE); },
     Case::WineOnly},
    {"msi-removal-restart", [] { RealRemoval("msi-removal-restart", L"Restarting.msi", ERROR_SUCCESS_REBOOT_REQUIRED); },
     Case::WineOnly},
};

bool RunsHere(const Case& each) {
    return each.where == Case::Anywhere || (each.where == Case::WineOnly) == UnderWine;
}

}  // namespace bundle
