// windows_tests: every Windows-side check of the folder it stands in, on the machine it runs on,
// one result a line and "N passed, M failed" last; exit 1 when anything failed. Started by
// run-windows-tests.cmd from an elevated prompt on a throwaway machine (or under Wine). It runs
// the registry behaviour tests, checks the version resource and manifest of the cleanup.exe
// beside it, then runs that cleanup.exe end to end, unless the machine already holds anything
// the run would remove. Whatever the cases seed is removed afterwards, passed or not.
#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char WaitLine[] = "Please wait while product cleanup completes...\n";
const char InstallerRan[] = "Installer.exe ran\n";
const wchar_t ProductCode[] = L"{4A4724E0-4100-0720-0000-C1F702640DB7}";
const wchar_t NeighbourCode[] = L"{6B0C9E21-3D4F-4A58-9B71-2C8E5F0A1D34}";
const char* const Bundles[] = {"{5307B30C-C252-350A-9AC4-2187A2492C94}", "{4A337600-F176-316C-BBE5-1D92826B6641}"};

int passed = 0, failed = 0;

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
const std::wstring ProgramFiles = Environment(L"ProgramFiles");
const std::wstring ProgramData = Environment(L"ProgramData");
const std::wstring Scratch = Environment(L"SystemDrive") + L"\\CleanupBundleScratch";
const std::wstring Installer = ProgramFiles + L"\\Morvanta\\MoQUAV\\V1\\Installer.exe";

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

void WriteText(const std::wstring& path, const std::string& text) {
    if (FILE* out = _wfopen(path.c_str(), L"wb")) {
        std::fputs(text.c_str(), out);
        std::fclose(out);
    }
}

void MakeFolders(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
}

// A tree of files and folders; a link or junction in it is removed, never entered.
void RemoveTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW found;
        const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) RemoveDirectoryW(path.c_str());
    else DeleteFileW(path.c_str());
}

struct Ran {
    DWORD status = 0;
    std::string out, err;
};

// Runs a program with its output in files, which helper processes that outlive it cannot hold
// open, and waits for it.
Ran Run(const std::wstring& program, const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const std::wstring outPath = Scratch + L"\\out.txt", errPath = Scratch + L"\\err.txt";
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
    Ran ran;
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, Here.c_str(), &startup,
                       &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &ran.status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        ran.status = 0xFFFFFFFF;
        ran.err = "could not start " + Narrow(program);
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

std::string MsiState(const wchar_t* code) { return Trimmed(Helper(L"msi_state.exe", code).out); }

void Msiexec(const std::wstring& arguments) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    Run(std::wstring(system) + L"\\msiexec.exe", arguments);
}

// The registry helper's verdict as one result.
void Registry(const std::string& what, const std::wstring& arguments) {
    const Ran ran = Helper(L"e2e_registry.exe", arguments);
    Check(what, ran.status == 0, ran.out + ran.err);
}

std::string InstallerArguments() {
    std::string all;
    for (const char* bundle : Bundles)
        all += "-i\nuninstall\n--silent\n--trigger_point\nsystem\n-m\n" + Narrow(ProgramData) +
               "\\Morvanta\\QUAV\\metadata\\" + bundle + "\\bundleManifest.xml\n--\n";
    return all;
}

// A seeded registry (or cleared, for Windows Installer) and a fresh stand-in for the installer.
void Arrange(const std::string& name, const std::wstring& seed) {
    MakeFolders(Folder(Installer));
    CopyFileW((Here + L"\\record_args.exe").c_str(), Installer.c_str(), FALSE);
    DeleteFileW((Installer + L".args").c_str());
    Registry(name + ": arranged (e2e_registry " + Narrow(seed) + ")", seed);
}

Ran RunCleanup(const std::wstring& launch = L"") {
    const std::wstring cleanup = Here + L"\\cleanup.exe";
    return launch.empty() ? Run(cleanup, L"--ignored \"two words\"")
                          : Helper(L"launch.exe", launch + L" \"" + cleanup + L"\"");
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
    Msiexec(L"/i \"" + Here + L"\\Neighbour.msi\" /qn");
    Msiexec(L"/i \"" + Here + L"\\Product.msi\" /qn");
    Expect("msi-removed: Windows Installer knows the product", MsiState(ProductCode), "installed");
    Expect("msi-removed: the rows it wrote", Trimmed(Helper(L"e2e_registry.exe", L"present").out), "3 4 5 6 7 10 21");
    ExpectRun("msi-removed", RunCleanup(), AllRan);
    Expect("msi-removed: Windows Installer no longer knows it", MsiState(ProductCode), "unknown");
    Check("msi-removed: its file removed by msiexec /X", !Exists(ProgramFiles + L"\\Cleanup Test Product\\payload.txt"));
    Expect("msi-removed: no row left", Trimmed(Helper(L"e2e_registry.exe", L"present").out), "");
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
    Registry("long-branch: arranged (e2e_registry branch 18)", L"branch 18");
    ExpectRun("long-branch", RunCleanup(), AllRan);
    Registry("long-branch: all 26 rows gone", L"check");
}

// What the admin's unelevated session could set: a command processor, a PATHEXT and PATH that
// find a batch msiexec first, a programs folder of its own, and a command inside ProgramData.
void HostileEnvironment() {
    const std::wstring planted = Scratch + L"\\Planted", injected = Scratch + L"\\injected.txt";
    Arrange("hostile-environment", L"seed");
    MakeFolders(planted + L"\\Morvanta\\MoQUAV\\V1");
    CopyFileW((Here + L"\\record_args.exe").c_str(), (planted + L"\\evil.exe").c_str(), FALSE);
    CopyFileW((Here + L"\\record_args.exe").c_str(), (planted + L"\\Morvanta\\MoQUAV\\V1\\Installer.exe").c_str(), FALSE);
    for (const wchar_t* name : {L"msiexec.bat", L"msiexec.cmd"})
        WriteText(planted + L"\\" + name, "@echo off\r\necho ran>\"%~dp0" + Narrow(name) + ".ran\"\r\n");
    const Ran run = RunCleanup(L"--set \"COMSPEC=" + planted + L"\\evil.exe\" --set PATHEXT=.BAT;.CMD --set \"PATH=" +
                               planted + L";%PATH%\" --set \"ProgramFiles=" + planted +
                               L"\" --set \"ProgramData=C:\\PD&echo INJECTED>" + injected + L"&rem \"");
    ExpectRun("hostile-environment", run, WaitLine);
    std::string ran;
    for (const wchar_t* trace : {L"\\evil.exe.args", L"\\Morvanta\\MoQUAV\\V1\\Installer.exe.args", L"\\msiexec.bat.ran",
                                 L"\\msiexec.cmd.ran"})
        if (Exists(planted + trace)) ran += Narrow(trace) + " ";
    Expect("hostile-environment: nothing planted ran", ran, "");
    Check("hostile-environment: no value run as a command", !Exists(injected));
    Check("hostile-environment: the installer not run", !Exists(Installer + L".args"));
    Registry("hostile-environment: all 26 rows gone", L"check");
}

void BehaviourTests() {
    const Ran ran = Helper(L"registry_behaviour_tests.exe", L"--gtest_color=no");
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
    if (seen == 0 || (ran.status != 0 && bad == 0)) Check("behaviour: the test program ran to its end", false, ran.out + ran.err);
}

// What the end-to-end cases would remove or overwrite, if the machine holds any of it.
std::string Occupied() {
    const std::string rows = Trimmed(Helper(L"e2e_registry.exe", L"present").out);
    if (!rows.empty()) return "catalogue rows " + rows + " exist";
    for (const wchar_t* code : {ProductCode, NeighbourCode})
        if (MsiState(code) != "unknown") return "Windows Installer knows " + Narrow(code);
    for (const std::wstring& folder : {ProgramFiles + L"\\Morvanta", ProgramData + L"\\Morvanta"})
        if (Exists(folder)) return Narrow(folder) + " exists";
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Morvanta", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        return "HKLM\\SOFTWARE\\Morvanta exists";
    }
    return "";
}

void Tidy(const std::wstring& snapshot) {
    const Ran tidy = Helper(L"e2e_registry.exe", L"tidy \"" + snapshot + L"\"");
    for (const wchar_t* code : {ProductCode, NeighbourCode})
        if (MsiState(code) != "unknown") Msiexec(std::wstring(L"/x ") + code + L" /qn");
    RemoveTree(ProgramFiles + L"\\Morvanta");
    RemoveTree(ProgramFiles + L"\\Cleanup Test Product");
    Check("afterwards: no catalogue row, neighbour or ancestor the cases made", tidy.status == 0, tidy.out + tidy.err);
    Expect("afterwards: no test product installed", MsiState(ProductCode) + ", " + MsiState(NeighbourCode), "unknown, unknown");
    Check("afterwards: no Morvanta folder", !Exists(ProgramFiles + L"\\Morvanta") && !Exists(ProgramData + L"\\Morvanta"));
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

}  // namespace

int wmain() {
    RemoveTree(Scratch);
    MakeFolders(Scratch);
    Check("elevated", Elevated(), "run run-windows-tests.cmd from a prompt started with \"Run as administrator\"");
    if (failed == 0) {
        BehaviourTests();
        const Ran resources = Helper(L"resource_check.exe", L"cleanup.exe");
        Check("cleanup.exe: version resource and manifest", resources.status == 0, resources.out + resources.err);
        const std::string occupied = Occupied();
        if (!occupied.empty()) {
            std::printf("skip end to end: %s on this machine, and the run would remove it; nothing was changed\n",
                        occupied.c_str());
        } else {
            const std::wstring snapshot = Scratch + L"\\ancestors.txt";
            Registry("the catalogue's ancestors recorded", L"snapshot \"" + snapshot + L"\"");
            Normal();
            MsiRemoved();
            Links();
            DeniedSubkey();
            LongBranch();
            HostileEnvironment();
            Tidy(snapshot);
        }
        std::printf("not run here, Wine only: programfiles-unset, programdata-unset, programdata-blank, command-1023,\n"
                    "  command-1024, race-parent, race-grandparent, planted-start-folder, msi-uninstall-refused\n"
                    "  (they put a recorder in place of the system directory's msiexec.exe or change the machine's folders)\n");
    }
    RemoveTree(Scratch);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
