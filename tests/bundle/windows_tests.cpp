// windows_tests [CASE...]: every Windows-side check of the folder it stands in, on the machine it
// runs on, one result a line and "N passed, M failed" last, ", K skipped" after it when a part did
// not run; exit 1 when anything failed or was skipped. Started by run-windows-tests.cmd from an
// elevated prompt (or under Wine). It runs the registry behaviour tests, checks the version
// resource and manifest of the cleanup.exe beside it, then runs that cleanup.exe end to end (only
// the named cases, when any are named).
// It changes only what it made: before a part runs, what the part would write or remove is looked
// for, and a part that would touch anything already there is not run. Everything it is about to
// create is first written to a journal, and the journal goes only once all of that is put back; a
// run that finds a journal finishes that clean-up first.
#include <windows.h>

#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char WaitLine[] = "Please wait while product cleanup completes...\n";
const char InstallerRan[] = "Installer.exe ran\n";
const wchar_t ProductCode[] = L"{4A4724E0-4100-0720-0000-C1F702640DB7}";
const wchar_t NeighbourCode[] = L"{6B0C9E21-3D4F-4A58-9B71-2C8E5F0A1D34}";
const char Detected[] = "Product cleanup: none of the 26 registry keys exists";
const char* const Bundles[] = {"{5307B30C-C252-350A-9AC4-2187A2492C94}", "{4A337600-F176-316C-BBE5-1D92826B6641}"};

int passed = 0, failed = 0, skipped = 0;

std::string Narrow(const std::wstring& text) {
    std::string out(text.size() * 3 + 1, '\0');
    out.resize(WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()), nullptr,
                                   nullptr));
    if (!out.empty()) out.pop_back();
    return out;
}

void Check(const std::string& what, bool ok, const std::string& detail = "") {
    (ok ? passed : failed)++;
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok) {
        std::istringstream lines(detail);
        for (std::string line; std::getline(lines, line);) std::printf("     %s\n", line.c_str());
    }
}

void Expect(const std::string& what, const std::string& actual, const std::string& expected) {
    Check(what, actual == expected, "expected: " + expected + "\nactual:   " + actual);
}

void Skip(const std::string& part, int count, const std::string& why) {
    skipped += count;
    std::printf("skip %s: %s\n", part.c_str(), why.c_str());
}

std::wstring Environment(const wchar_t* name) {
    wchar_t value[MAX_PATH] = L"";
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? value : L"";
}

std::wstring Folder(const std::wstring& path) { return path.substr(0, path.rfind(L'\\')); }

const std::wstring Here = [] {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return Folder(self);
}();
// Wine's ntdll has this export, Windows' has not.
const bool UnderWine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
const std::wstring Windows = Environment(L"SystemRoot");
const std::wstring ProgramFiles = Environment(L"ProgramFiles");
const std::wstring ProgramData = Environment(L"ProgramData");
const std::wstring Scratch = Environment(L"SystemDrive") + L"\\CleanupBundleScratch";
const std::wstring JournalPath = Environment(L"SystemDrive") + L"\\CleanupBundle.journal";
const std::wstring Installer = ProgramFiles + L"\\Morvanta\\MoQUAV\\V1\\Installer.exe";
// The folders the cases write in, each absent before a run and removed after it.
const std::wstring OwnFolders[] = {Scratch, ProgramFiles + L"\\Morvanta", ProgramFiles + L"\\Cleanup Test Product",
                                   ProgramFiles + L"\\Cleanup Test Neighbour"};

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The file's text without carriage returns; empty when there is none.
std::string ReadText(const std::wstring& path) {
    std::string text;
    if (FILE* in = _wfopen(path.c_str(), L"rb")) {
        for (int c; (c = std::fgetc(in)) != EOF;)
            if (c != '\r') text += static_cast<char>(c);
        std::fclose(in);
    }
    return text;
}

// The journal: one line for each thing a run is about to create, written before it is created.
std::set<std::string> written;  // lines in the journal now

void Journal(const std::string& kind, const std::wstring& what) {
    if (!written.insert(kind + " " + Narrow(what)).second) return;
    FILE* out = _wfopen(JournalPath.c_str(), L"ab");
    if (!out || std::fprintf(out, "%s %s\n", kind.c_str(), Narrow(what).c_str()) < 0 || std::fclose(out) != 0) {
        std::printf("cannot write the journal %s: stopping before any change it would not record\n",
                    Narrow(JournalPath).c_str());
        std::exit(1);
    }
}

// Takes back a line whose thing turned out not to be the run's to make.
void Unjournal(const std::string& kind, const std::wstring& what) {
    const std::string line = kind + " " + Narrow(what) + "\n";
    std::string text = ReadText(JournalPath);
    const size_t at = text.rfind(line);
    if (at != std::string::npos) text.erase(at, line.size());
    const std::wstring fresh = JournalPath + L".new";
    FILE* out = _wfopen(fresh.c_str(), L"wb");
    const bool saved = out && std::fputs(text.c_str(), out) >= 0 && std::fclose(out) == 0 &&
                       MoveFileExW(fresh.c_str(), JournalPath.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (!saved) {
        std::printf("cannot take %s back out of the journal: stopping\n", line.c_str());
        std::exit(1);
    }
    written.erase(kind + " " + Narrow(what));
}

// A file the run writes, or a program it starts will: it must not be there already.
bool Own(const std::wstring& path) {
    if (Exists(path)) return Check("not there before the run wrote it: " + Narrow(path), false), false;
    Journal("file", path);
    return true;
}

// Every missing folder of path, each journaled before it is made.
bool MakeFolders(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3);; at = path.find(L'\\', at + 1)) {
        const std::wstring folder = path.substr(0, at);
        if (!Exists(folder)) {
            Journal("folder", folder);
            // Only administrators and the system may write in what the run makes: a user's own
            // file there could stand in for a helper's answer or a planted program.
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                                                      SDDL_REVISION_1, &descriptor, nullptr))
                return false;
            SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
            const bool made = CreateDirectoryW(folder.c_str(), &attributes);
            LocalFree(descriptor);
            if (!made) {
                if (GetLastError() == ERROR_ALREADY_EXISTS) Unjournal("folder", folder);
                return Check("made " + Narrow(folder), false, "it appeared meanwhile, or could not be made"), false;
            }
        }
        if (at == std::wstring::npos) return true;
    }
}

void WriteText(const std::wstring& path, const std::string& text) {
    if (!Own(path)) return;
    if (FILE* out = _wfopen(path.c_str(), L"wb")) {
        std::fputs(text.c_str(), out);
        std::fclose(out);
    }
}

void CopyOwn(const std::wstring& from, const std::wstring& to) {
    if (Own(to)) CopyFileW(from.c_str(), to.c_str(), TRUE);
}

struct Ran {
    DWORD status = 0;
    std::string out, err;
};

// Runs a program with its output in files of its own, and waits for it. Under Wine a helper's
// Windows Installer calls leave a process behind for seconds that inherited those files: a pipe
// would stay open, and a file reused by the next helper would be shared with it.
Ran Run(const std::wstring& program, const std::wstring& arguments) {
    static int runs = 0;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const std::wstring prefix =
        Scratch + L"\\run-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++runs);
    const std::wstring outPath = prefix + L".out", errPath = prefix + L".err";
    Ran ran;
    if (!Own(outPath) || !Own(errPath)) {
        ran.status = 0xFFFFFFFF;
        ran.err = "not run: its output files exist already\n";
        return ran;
    }
    const auto open = [&](const std::wstring& path, DWORD access, DWORD creation) {
        return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, creation, 0, nullptr);
    };
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = open(L"NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = open(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = open(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION process;
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, Here.c_str(), &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &ran.status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        ran.status = GetLastError();
        ran.err = "could not start " + Narrow(program) + " (error " + std::to_string(ran.status) + ")\n";
        ran.status |= 0x80000000;
    }
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) CloseHandle(handle);
    ran.out = ReadText(outPath);
    ran.err += ReadText(errPath);
    return ran;
}

Ran Helper(const wchar_t* name, const std::wstring& arguments) { return Run(Here + L"\\" + name, arguments); }

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
    return text;
}

// A helper's answer, with its exit status and error output when it failed or said anything
// there: a helper that could not answer never reads as a state.
std::string Answer(const Ran& ran) {
    std::string answer = Trimmed(ran.out);
    if (ran.status != 0 || !ran.err.empty())
        answer += " [exit status " + Hex(ran.status) + ", stderr: " + Trimmed(ran.err) + "]";
    return answer;
}

std::string MsiState(const wchar_t* code) { return Answer(Helper(L"msi_state.exe", code)); }

// The system's msiexec, its status printed; "another installation is in progress" is waited out.
DWORD Msiexec(const std::wstring& arguments) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    for (int attempt = 1;; ++attempt) {
        const Ran ran = Run(std::wstring(system) + L"\\msiexec.exe", arguments);
        std::printf("     msiexec %s: exit status %lu\n", Narrow(arguments).c_str(), ran.status);
        if (ran.status != ERROR_INSTALL_ALREADY_RUNNING || attempt == 6) return ran.status;
        std::printf("     another installation is in progress: trying again in 10 s\n");
        Sleep(10000);
    }
}

// The registry helper's verdict as one result.
void Registry(const std::string& what, const std::wstring& arguments) {
    const Ran ran = Helper(L"e2e_registry.exe", arguments);
    Check(what, ran.status == 0, ran.out + ran.err + "exit status " + Hex(ran.status));
}

std::wstring Quoted(const std::wstring& path) { return L"\"" + path + L"\""; }

std::string InstallerArguments() {
    std::string all;
    for (const char* bundle : Bundles)
        all += "-i\nuninstall\n--silent\n--trigger_point\nsystem\n-m\n" + Narrow(ProgramData) +
               "\\Morvanta\\QUAV\\metadata\\" + bundle + "\\bundleManifest.xml\n--\n";
    return all;
}

// A seeded registry (or cleared, for Windows Installer) and a fresh stand-in for the installer.
// The stand-in's records: its arguments, and whether the product was still installed each time.
const wchar_t* const Records[] = {L".args", L".product"};

void Arrange(const std::string& name, const std::wstring& seed) {
    MakeFolders(Folder(Installer));
    if (!Exists(Installer)) CopyOwn(Here + L"\\record_args.exe", Installer);
    for (const wchar_t* suffix : Records) {
        Journal("file", Installer + suffix);
        DeleteFileW((Installer + suffix).c_str());
    }
    Registry(name + ": arranged (e2e_registry " + Narrow(seed) + ")", seed);
}

Ran RunCleanup(const std::wstring& launch = L"") {
    const std::wstring cleanup = Here + L"\\cleanup.exe";
    return launch.empty() ? Run(cleanup, L"--ignored \"two words\"")
                          : Helper(L"launch.exe", launch + L" " + Quoted(cleanup));
}

void ExpectRun(const std::string& name, const Ran& run, const std::string& output) {
    Expect(name + ": exit status", std::to_string(run.status), "0");
    Expect(name + ": output, the wait line first", run.out, output);
    Expect(name + ": nothing on stderr", run.err, "");
}

const std::string AllRan = std::string(WaitLine) + InstallerRan + InstallerRan;

void Normal() {
    Arrange("normal", L"seed");
    ExpectRun("normal", RunCleanup(), AllRan);
    Expect("normal: installer arguments, bundle 1 then 2", ReadText(Installer + L".args"), InstallerArguments());
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
    Expect("msi-removed: both installer runs came before msiexec removed the product", ReadText(Installer + L".product"),
           "installed\ninstalled\n");
    Expect("msi-removed: Windows Installer no longer knows it", MsiState(ProductCode), "unknown");
    Check("msi-removed: its file removed by msiexec /X", !Exists(ProgramFiles + L"\\Cleanup Test Product\\payload.txt"));
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

// detect.ps1 as a fleet tool runs it, from the native and from the 32-bit PowerShell: one line
// only when no catalogue key exists in the 64-bit view, nothing otherwise, exit 0 either way.
void ExpectDetection(const std::string& what, bool detected) {
    for (const wchar_t* folder : {L"\\System32", L"\\SysWOW64"}) {
        const Ran ran = Run(Windows + folder + L"\\WindowsPowerShell\\v1.0\\powershell.exe",
                            L"-NoProfile -NonInteractive -ExecutionPolicy Bypass -File " + Quoted(Here + L"\\detect.ps1"));
        Expect(what + ", detect.ps1 from " + Narrow(folder + 1), Answer(ran), detected ? Detected : "");
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
    Expect("32-bit-parent: installer arguments, bundle 1 then 2", ReadText(Installer + L".args"), InstallerArguments());
    Registry("32-bit-parent: all 26 rows gone, every neighbour intact", L"check");
}

// What the admin's unelevated session could set: a command processor, a PATHEXT and PATH that
// find a batch msiexec first, and a programs folder of its own or a command inside ProgramData,
// or both. Wine resets ProgramFiles in every process, so there it never reaches the run.
void HostileEnvironment(const std::string& name, bool programFiles, bool programData) {
    const std::wstring planted = Scratch + L"\\Planted", injected = Scratch + L"\\injected.txt";
    const std::wstring plantedInstaller = planted + L"\\Morvanta\\MoQUAV\\V1\\Installer.exe";
    const std::wstring traces[] = {planted + L"\\evil.exe.args", planted + L"\\evil.exe.product",
                                   plantedInstaller + L".args", plantedInstaller + L".product",
                                   planted + L"\\msiexec.bat.ran", planted + L"\\msiexec.cmd.ran", injected};
    Arrange(name, L"seed");
    if (!Exists(planted)) {
        MakeFolders(Folder(plantedInstaller));
        CopyOwn(Here + L"\\record_args.exe", planted + L"\\evil.exe");
        CopyOwn(Here + L"\\record_args.exe", plantedInstaller);
        for (const wchar_t* name : {L"msiexec.bat", L"msiexec.cmd"})
            WriteText(planted + L"\\" + name, "@echo off\r\necho ran>\"%~dp0" + Narrow(name) + ".ran\"\r\n");
    }
    for (const std::wstring& trace : traces) Journal("file", trace);
    std::wstring settings = L"--set \"COMSPEC=" + planted + L"\\evil.exe\" --set PATHEXT=.BAT;.CMD --set \"PATH=" +
                            planted + L";%PATH%\"";
    if (programFiles) settings += L" --set \"ProgramFiles=" + planted + L"\"";
    if (programData) settings += L" --set \"ProgramData=C:\\PD&echo INJECTED>" + injected + L"&rem \"";
    const Ran run = RunCleanup(settings);
    Expect(name + ": exit status", std::to_string(run.status), "0");
    Check(name + ": output, the wait line first", run.out.rfind(WaitLine, 0) == 0, run.out);
    Expect(name + ": nothing on stderr", run.err, "");
    std::string ran;
    for (const std::wstring& trace : traces)
        if (trace != injected && Exists(trace)) ran += Narrow(trace.substr(planted.size())) + " ";
    Expect(name + ": nothing planted ran", ran, "");
    Check(name + ": no value run as a command", !Exists(injected));
    if (programData) Check(name + ": the installer not run", !Exists(Installer + L".args"));
    Registry(name + ": all 26 rows gone", L"check");
    for (const std::wstring& trace : traces) DeleteFileW(trace.c_str());
}

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

// A helper that could not answer is a failure of its own, never only a reason to skip.
bool Answered(const std::string& what, const Ran& ran) {
    const bool ok = ran.status == 0 && ran.err.empty();
    if (!ok) Check(what + " answered", false, Answer(ran));
    return ok;
}

// What of a part's own the machine holds already; or why that cannot be told.
std::string Found(const std::wstring& part) {
    const Ran keys = Helper(L"e2e_registry.exe", L"found " + part);
    std::string found = Answered("e2e_registry found " + Narrow(part), keys) ? keys.out : "(the registry could not be read)\n";
    if (part != L"e2e") return found;
    for (const wchar_t* code : {ProductCode, NeighbourCode}) {
        const Ran state = Helper(L"msi_state.exe", code);
        if (!Answered("msi_state " + Narrow(code), state)) found += "(Windows Installer could not be asked)\n";
        else if (Trimmed(state.out) != "unknown") found += "Windows Installer product " + Narrow(code) + ": " + Trimmed(state.out) + "\n";
    }
    for (const std::wstring& folder : {OwnFolders[1], OwnFolders[2], OwnFolders[3], ProgramData + L"\\Morvanta"})
        if (Exists(folder)) found += Narrow(folder) + "\n";
    return found;
}

// Whether a journal line names something of the run's own, and so may be removed.
bool OwnPath(const std::wstring& path) {
    if (path.find(L"\\..") != std::wstring::npos || path.find(L'/') != std::wstring::npos) return false;
    for (const std::wstring& folder : OwnFolders) {
        const bool inside = path.size() > folder.size() && path[folder.size()] == L'\\';
        if (_wcsnicmp(path.c_str(), folder.c_str(), folder.size()) == 0 && (path.size() == folder.size() || inside))
            return true;
    }
    return false;
}

struct JournalLines {
    std::vector<std::wstring> products, files, folders;
    bool own = true;  // every line names something of the run's own
};

JournalLines ReadJournal() {
    JournalLines journal;
    std::istringstream lines(ReadText(JournalPath));
    for (std::string line; std::getline(lines, line);) {
        const size_t blank = line.find(' ');
        const std::string kind = line.substr(0, blank);
        std::wstring what(line.size(), L'\0');
        what.resize(MultiByteToWideChar(CP_ACP, 0, line.c_str() + blank + 1, -1, what.data(),
                                        static_cast<int>(what.size())));
        if (!what.empty()) what.pop_back();
        if (kind == "product" && (what == ProductCode || what == NeighbourCode)) journal.products.push_back(what);
        else if (kind == "file" && OwnPath(what)) journal.files.push_back(what);
        else if (kind == "folder" && OwnPath(what)) journal.folders.push_back(what);
        else if (kind != "tree" && kind != "key") journal.own = false, std::printf("     not the run's own: %s\n", line.c_str());
    }
    return journal;
}

// Puts back what the journal names: products uninstalled, keys and files deleted, folders removed
// when empty. The journal goes only when nothing is left.
bool Restore(const std::string& who) {
    if (!Exists(Scratch) && !MakeFolders(Scratch)) return false;  // the helpers' output goes there
    std::string left;
    const std::vector<std::wstring> products = ReadJournal().products;
    // Installed since under the same code by something else, such as the real product: then its
    // keys are not the run's either, and nothing is put back.
    for (const std::wstring& code : products) {
        const std::string name = Answer(Helper(L"msi_state.exe", code + L" name"));
        if (name != "(none)" && name.rfind("Cleanup Test ", 0) != 0) left += "Windows Installer product " + Narrow(code) + ": " + name + "\n";
    }
    if (!left.empty()) {
        Check(who + ": nothing else installed under the test products' codes", false,
              left + "nothing was put back; the journal " + Narrow(JournalPath) + " stays");
        return false;
    }
    for (const std::wstring& code : products) {
        if (MsiState(code.c_str()) != "unknown") Msiexec(L"/x " + code + L" /qn");
        const std::string state = MsiState(code.c_str());
        if (state != "unknown") left += "Windows Installer product " + Narrow(code) + ": " + state + "\n";
    }
    const Ran keys = Helper(L"e2e_registry.exe", L"restore " + Quoted(JournalPath));
    if (keys.status != 0) left += keys.out + keys.err + "(registry helper exit status " + Hex(keys.status) + ")\n";
    // Read again: the helpers just run wrote files of their own.
    JournalLines journal = ReadJournal();
    for (const std::wstring& file : journal.files) {
        SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        // A process a helper left behind may hold its output a few seconds more.
        for (int waited = 0; waited < 60 && !DeleteFileW(file.c_str()) && GetLastError() == ERROR_SHARING_VIOLATION; ++waited) {
            if (waited == 0) std::printf("     waiting for a process that still holds %s\n", Narrow(file).c_str());
            Sleep(1000);
        }
        if (Exists(file)) left += Narrow(file) + " (error " + std::to_string(GetLastError()) + ")\n";
    }
    std::sort(journal.folders.begin(), journal.folders.end(),
              [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& folder : journal.folders) {
        if (!Exists(folder) || RemoveDirectoryW(folder.c_str())) continue;
        left += Narrow(folder) + ", which holds:";
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
            if (std::wstring(found.cFileName) != L"." && std::wstring(found.cFileName) != L"..")
                left += " " + Narrow(found.cFileName);
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
        left += "\n";
    }
    const bool done = journal.own && left.empty();
    Check(who + ": everything it made put back", done, left + "the journal " + Narrow(JournalPath) + " stays");
    if (done && DeleteFileW(JournalPath.c_str())) written.clear();
    return done;
}

// Around one case: no key under HKLM\SOFTWARE outside the catalogue's rows and the run's own
// keys may go.
void Guarded(const std::string& name, const std::function<void()>& run) {
    const std::wstring before = Scratch + L"\\keys-before.txt";
    const Ran listed = Helper(L"e2e_registry.exe", L"keys " + Quoted(before));
    Check(name + ": every key under HKLM\\SOFTWARE listed", listed.status == 0, Answer(listed));
    run();
    const Ran gone = Helper(L"e2e_registry.exe", L"gone " + Quoted(before) + L" " + Quoted(JournalPath));
    Check(name + ": no key outside the catalogue removed", gone.status == 0, Answer(gone));
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

struct Case {
    const char* name;
    std::function<void()> run;
    bool windowsOnly = false;  // not part of a run under Wine
};

const Case Cases[] = {
    {"normal", Normal},
    {"msi-removed", MsiRemoved},
    {"links", Links},
    {"denied-subkey", DeniedSubkey},
    {"long-branch", LongBranch},
    {"hostile-environment", [] { HostileEnvironment("hostile-environment", true, true); }},
    {"hostile-programfiles", [] { HostileEnvironment("hostile-programfiles", true, false); }},
    {"hostile-programdata", [] { HostileEnvironment("hostile-programdata", false, true); }},
    // Wine has no PowerShell, and a 64-bit prefix here no 32-bit programs.
    {"detect", Detection, true},
    {"32-bit-parent", From32BitParent, true},
};

int CaseCount() {
    return static_cast<int>(std::count_if(std::begin(Cases), std::end(Cases),
                                          [](const Case& each) { return !(each.windowsOnly && UnderWine); }));
}

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
    for (const std::wstring& folder : {OwnFolders[2], OwnFolders[3]}) {
        Journal("folder", folder);
        Journal("file", folder + L"\\payload.txt");
    }
    const Ran journaled = Helper(L"e2e_registry.exe", L"journal " + Quoted(JournalPath) + L" e2e");
    Check("end to end: what it may create recorded in the journal", journaled.status == 0, Answer(journaled));
    if (journaled.status != 0) return Skip("end to end", CaseCount(), "nothing unrecorded is made");
    for (const Case& each : Cases) {
        if (each.windowsOnly && UnderWine) continue;
        if (!chosen.empty() && !chosen.count(each.name)) {
            Skip(each.name, 1, "not chosen");
            continue;
        }
        Guarded(each.name, each.run);
    }
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
    // Cases that are never part of this run, and so never counted.
    if (UnderWine)
        std::printf("not run here, Windows only: detect, 32-bit-parent (Wine has no PowerShell, and no 32-bit\n"
                    "  programs in this 64-bit prefix)\n");
    std::printf("not run here, Wine only: programfiles-unset, programdata-unset, programdata-blank, command-1023,\n"
                "  command-1024, race-parent, race-grandparent, planted-start-folder, msi-uninstall-refused,\n"
                "  msiexec-busy, msiexec-restart, msi-removal-restart (they put a recorder in place of the\n"
                "  system directory's msiexec.exe, change the machine's folders, or install a package that\n"
                "  asks for a restart)\n");
    Check("elevated", Elevated(), "run run-windows-tests.cmd from a prompt started with \"Run as administrator\"");
    // Two runs would carry out each other's journal.
    const HANDLE alone = CreateMutexW(nullptr, TRUE, L"Global\\CleanupBundleRun");
    if (failed == 0) Check("no other run of the bundle at the same time", alone && GetLastError() != ERROR_ALREADY_EXISTS);
    if (failed == 0 && Exists(JournalPath)) {
        std::printf("an earlier run did not finish; its journal %s names what it made:\n", Narrow(JournalPath).c_str());
        if (!Restore("the earlier run")) Skip("everything", 1, "nothing more is run until the earlier run's clean-up is done");
    } else if (failed == 0 && Exists(Scratch)) {
        Check(Narrow(Scratch) + " is not there before the run", false, "it is not this bundle's: left as it is, nothing run");
    }
    if (failed == 0 && skipped == 0 && !MakeFolders(Scratch)) Skip("everything", 1, "no scratch folder of its own");
    if (failed == 0 && skipped == 0) {
        Journal("file", Scratch + L"\\keys-before.txt");
        const std::string scratchKey = Found(L"behaviour");
        if (!scratchKey.empty()) {
            Skip("behaviour", 1, "this machine already holds the tests' scratch key, and it was not touched:\n" + scratchKey);
        } else {
            const Ran journaled = Helper(L"e2e_registry.exe", L"journal " + Quoted(JournalPath) + L" behaviour");
            Check("behaviour: its scratch key recorded in the journal", journaled.status == 0, Answer(journaled));
            if (journaled.status == 0) BehaviourTests();
        }
        const Ran resources = Helper(L"resource_check.exe", L"cleanup.exe");
        Check("cleanup.exe: version resource and manifest", resources.status == 0, resources.out + resources.err);
        EndToEnd(chosen);
        Restore("afterwards");
    }
    std::printf("%d passed, %d failed", passed, failed);
    if (skipped) std::printf(", %d skipped", skipped);
    std::printf("\n");
    return failed || skipped ? 1 : 0;
}
