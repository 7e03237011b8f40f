// The other process of the race cases, an account that may write inside row 11:
//   race arrange GEOMETRY   row 11 holding only the keys being deleted, and the victims
//   race attack GEOMETRY READY   beside a run: once the run has deleted the first of the keys,
//                           freezes it, renames the swapped key to "Old", puts a link to the
//                           victims in its place and lets the run go on; writes READY (a file)
//                           when it watches. Exit 1, inconclusive, if it never swapped while
//                           keys were left to delete
//   race check              what row 11 holds, and whether every victim is intact
// GEOMETRY is "parent" (row 11\A\V000...V199 with A swapped) or "grandparent" (row 11\G\A\...
// with G swapped). The victims, SOFTWARE\RaceVictim\[A\]V000...V199, each hold Inner and a value,
// so that a run following the link would find the names it expects and delete them.
#include "tests/e2e/e2e_keys.h"

#include <tlhelp32.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int Keys = 200;
const std::wstring Row = e2e::Row(11);
const std::wstring Victims = L"SOFTWARE\\RaceVictim";
const wchar_t Value[] = L"not the run's";

struct Geometry {
    std::wstring swapped;  // the key renamed and replaced by a link to Victims
    std::wstring parent;   // the parent of the keys the run deletes
    std::wstring victims;  // where the link makes those names lead
};

bool ParseGeometry(const std::wstring& name, Geometry& geometry) {
    if (name == L"parent") geometry = {Row + L"\\A", Row + L"\\A", Victims};
    else if (name == L"grandparent") geometry = {Row + L"\\G", Row + L"\\G\\A", Victims + L"\\A"};
    else return false;
    return true;
}

std::wstring Child(int index) {
    wchar_t name[8];
    std::swprintf(name, 8, L"V%03d", index);
    return name;
}

bool Create(const std::wstring& path, bool withValue) {
    return seed::CreateTracedKey(path, withValue ? Value : nullptr);
}

int Arrange(const Geometry& geometry) {
    seed::DeleteTreeNoFollow(Row);
    seed::DeleteTreeNoFollow(Victims);
    bool ok = true;
    for (int i = 0; i < Keys; ++i) {
        ok = Create(geometry.parent + L"\\" + Child(i), false) && ok;
        ok = Create(geometry.victims + L"\\" + Child(i) + L"\\Inner", true) && ok;
        ok = Create(geometry.victims + L"\\" + Child(i), true) && ok;
    }
    return ok ? 0 : 1;
}

DWORD RunProcess() {
    DWORD id = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !id; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, L"cleanup.exe") == 0) id = entry.th32ProcessID;
    CloseHandle(snapshot);
    return id;
}

// Every thread of the process, suspended (or resumed) through handles kept open for the other.
std::vector<HANDLE> Threads(DWORD process) {
    std::vector<HANDLE> threads;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != process) continue;
        if (HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID)) threads.push_back(thread);
    }
    CloseHandle(snapshot);
    return threads;
}

int Attack(const Geometry& geometry, const wchar_t* ready) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    const auto late = [&] { return std::chrono::steady_clock::now() > deadline; };
    if (FILE* marker = _wfopen(ready, L"w")) std::fclose(marker);
    DWORD process = 0;
    while (!(process = RunProcess()) && !late()) Sleep(1);
    // Taken early: a snapshot costs more time than the run needs for many keys.
    std::vector<HANDLE> threads = Threads(process);
    const std::wstring first = geometry.parent + L"\\" + Child(0);
    while (seed::KeyItselfExists(first) && !late()) {
    }
    if (late()) return std::printf("inconclusive: the run never reached %ls\n", geometry.parent.c_str()), 1;

    for (HANDLE thread : threads) SuspendThread(thread);
    const std::wstring old = geometry.swapped.substr(0, geometry.swapped.rfind(L'\\')) + L"\\Old";
    const bool renamed = RegRenameKey(HKEY_LOCAL_MACHINE, geometry.swapped.c_str(), L"Old") == ERROR_SUCCESS;
    const bool linked = renamed && seed::CreateRegistryLink(geometry.swapped, Victims) == ERROR_SUCCESS;
    const std::wstring left = old + geometry.parent.substr(geometry.swapped.size());
    const size_t remaining = linked ? e2e::Subkeys(left).size() : 0;
    for (HANDLE thread : threads) {
        ResumeThread(thread);
        CloseHandle(thread);
    }
    if (!linked || remaining == 0)
        return std::printf("inconclusive: renamed %d, linked %d, %zu keys left\n", renamed, linked, remaining), 1;
    std::printf("swapped HKLM\\%ls for a link to HKLM\\%ls with %zu of %d keys left to delete\n",
                geometry.swapped.c_str(), Victims.c_str(), remaining, Keys);
    return 0;
}

// What is left below row 11, a link as "name -> target", one line each.
void ListBelow(const std::wstring& path, const std::wstring& shown) {
    for (const std::wstring& name : e2e::Subkeys(path)) {
        const std::wstring child = path + L"\\" + name, line = shown + name;
        wchar_t target[512] = L"";
        DWORD size = sizeof target - sizeof(wchar_t);
        HKEY link;
        bool isLink = false;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, child.c_str(), REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, &link) ==
            ERROR_SUCCESS) {
            DWORD type = 0;
            isLink = RegQueryValueExW(link, L"SymbolicLinkValue", nullptr, &type, reinterpret_cast<BYTE*>(target),
                                      &size) == ERROR_SUCCESS && type == REG_LINK;
            RegCloseKey(link);
        }
        std::printf("%ls%s%ls\n", line.c_str(), isLink ? " -> " : "", isLink ? target : L"");
        if (!isLink) ListBelow(child, line + L"\\");
    }
}

int Check() {
    std::printf("row 11 holds:\n");
    ListBelow(Row, L"");
    int intact = 0, total = 0;
    for (const std::wstring& base : {Victims, Victims + L"\\A"}) {
        if (!seed::KeyItselfExists(base + L"\\" + Child(0))) continue;
        for (int i = 0; i < Keys; ++i) {
            for (const wchar_t* below : {L"", L"\\Inner"}) {
                total++;
                intact += seed::CheckTrace(base + L"\\" + Child(i) + below, Value) == ERROR_SUCCESS;
            }
        }
    }
    std::printf("victims intact: %d of %d\n", intact, 2 * Keys);
    return intact == 2 * Keys && total == 2 * Keys ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    Geometry geometry;
    const bool known = argc > 2 && ParseGeometry(argv[2], geometry);
    if (verb == L"arrange" && known) return Arrange(geometry);
    if (verb == L"attack" && known && argc > 3) return Attack(geometry, argv[3]);
    if (verb == L"check") return Check();
    std::fprintf(stderr, "usage: race arrange|attack parent|grandparent [READY] | race check\n");
    return 2;
}
