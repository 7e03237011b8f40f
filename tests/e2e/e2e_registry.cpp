// Arranges and inspects the product's registry traces for the end-to-end runs:
//   e2e_registry seed            the 26 catalogue trees (nested, with values) and their neighbours
//   e2e_registry seed-except ROW...  the same but for ROW...
//   e2e_registry clear           no catalogue trees, no neighbours, no victims: for a real Windows
//                                Installer, whose enumeration stops at a malformed product key
//                                such as a seeded neighbour
//   e2e_registry present         the numbers of the catalogue rows present, on one line
//   e2e_registry check [ROW...]  catalogue rows gone except ROW..., every neighbour intact
//   e2e_registry deny ROW        a subkey of ROW whose DACL denies everyone
//   e2e_registry branch ROW      under ROW, a branch of two 255-character names and a chain of
//                                keys as deep as the platform allows, up to level 512; prints the
//                                depth reached below HKLM, exit 1 below 500
//   e2e_registry list            what of the catalogue is present
//   e2e_registry links           links in rows 11 (a leaf), 13 (three levels down) and 15 (the row
//                                itself) to victim trees outside the catalogue
//   e2e_registry victims         every victim key still there with its value
// Neighbours are the keys that must survive: the parents of catalogue keys and siblings whose
// names differ from a catalogue name by one character or extend it.
#include "tests/e2e/e2e_keys.h"

#include <cstdio>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace e2e;

std::vector<std::wstring> Neighbours() {
    std::vector<std::wstring> keys = Siblings();
    for (const WCHAR* key : CleanupCatalogue::RegistryKeys) {
        const std::wstring path = key;
        keys.push_back(path.substr(0, path.rfind(L'\\')));
    }
    return keys;
}

const wchar_t Trace[] = L"left behind";

bool Create(const std::wstring& path, bool withValue) {
    return seed::CreateTracedKey(path, withValue ? Trace : nullptr);
}

const wchar_t* const VictimKeys[] = {L"", L"\\A", L"\\A\\B", L"\\C"};

struct LinkCase {
    int row;
    const wchar_t* below;  // where in the row the link stands
    const wchar_t* victim;
};
const LinkCase LinkCases[] = {{11, L"\\LinkToLeaf", L"\\Leaf"},
                              {13, L"\\Features\\Main\\Sub\\Link", L"\\Tree"},
                              {15, L"", L"\\Row"}};

const wchar_t DeniedBelowRow[] = L"\\Features\\Main";

void Clear() {
    // Never RegDeleteTreeW here: it would follow a link left by an earlier case.
    seed::DeleteTreeNoFollow(Victims);
    for (const auto& path : Siblings()) seed::DeleteTreeNoFollow(path);
    for (const WCHAR* key : CleanupCatalogue::RegistryKeys) seed::DeleteTreeNoFollow(key);
}

const wchar_t* const SeedBelowRow[] = {L"", L"\\InstallProperties", L"\\Features\\Main\\Sub", L"\\Features\\Extra"};

int Seed(const std::set<int>& except) {
    Clear();
    bool ok = true;
    for (int row = 1; row <= CleanupCatalogue::RegistryKeyCount; ++row) {
        if (except.count(row)) continue;
        for (const wchar_t* below : SeedBelowRow) ok = Create(Row(row) + below, true) && ok;
    }
    for (const auto& path : Neighbours()) ok = Create(path, false) && ok;
    return ok ? 0 : 1;
}

int Check(const std::set<int>& kept) {
    int failures = 0;
    for (int row = 1; row <= CleanupCatalogue::RegistryKeyCount; ++row) {
        const bool present = Exists(Row(row));
        const bool expected = kept.count(row) == 1;
        if (present != expected) {
            std::printf("row %d %s: %ls\n", row, present ? "still present" : "gone", Row(row).c_str());
            ++failures;
        }
    }
    for (const auto& path : Neighbours()) {
        if (!Exists(path)) {
            std::printf("neighbour gone: %ls\n", path.c_str());
            ++failures;
        }
    }
    std::printf("%d problem(s)\n", failures);
    return failures ? 1 : 0;
}

bool CreateLink(const std::wstring& path, const std::wstring& target) {
    const LONG status = seed::CreateRegistryLink(path, target);
    if (status != ERROR_SUCCESS) std::fprintf(stderr, "link %ls: %ld\n", path.c_str(), status);
    return status == ERROR_SUCCESS;
}

int Links() {
    bool ok = true;
    for (const auto& link : LinkCases) {
        for (const wchar_t* below : VictimKeys) ok = Create(Victims + link.victim + below, true) && ok;
        const std::wstring path = Row(link.row) + link.below;
        if (!*link.below) ok = seed::DeleteTreeNoFollow(path) == ERROR_SUCCESS && ok;
        ok = CreateLink(path, Victims + link.victim) && ok;
        std::printf("link HKLM\\%ls -> HKLM\\%ls%ls\n", path.c_str(), Victims.c_str(), link.victim);
    }
    return ok ? 0 : 1;
}

int CheckVictims() {
    int failures = 0;
    for (const auto& link : LinkCases) {
        for (const wchar_t* below : VictimKeys) {
            const std::wstring path = Victims + link.victim + below;
            const LONG status = seed::CheckTrace(path, Trace);
            if (status != ERROR_SUCCESS) {
                std::printf("victim changed: %ls (%ld)\n", path.c_str(), status);
                ++failures;
            }
        }
    }
    std::printf("%d victim problem(s)\n", failures);
    return failures ? 1 : 0;
}

int Deny(int row) {
    const std::wstring path = Row(row) + DeniedBelowRow;
    const LONG status = seed::RefuseToEveryone(path, KEY_ALL_ACCESS);
    HKEY probe;
    const LONG reopened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &probe);
    std::printf("denied %ls: set %ld, open now %ld\n", path.c_str(), status, reopened);
    if (reopened == ERROR_SUCCESS) RegCloseKey(probe);
    return status == ERROR_SUCCESS && reopened == ERROR_ACCESS_DENIED ? 0 : 1;
}

// Names up to 255 characters, and a chain as deep as the platform holds: Windows documents 512
// levels without saying where counting starts, so the chain stops at the first refused level or at
// 512 below HKEY_LOCAL_MACHINE, the deepest the program's stack is sized for.
int Branch(int row) {
    const std::wstring wide = Row(row) + L"\\" + std::wstring(255, L'n') + L"\\" + std::wstring(255, L'm');
    bool ok = Create(wide, true);
    HKEY key;
    int levels = 1;
    for (const wchar_t* c = Row(row).c_str(); *c; ++c) levels += *c == L'\\';
    ok = ok && RegOpenKeyExW(HKEY_LOCAL_MACHINE, Row(row).c_str(), 0, KEY_CREATE_SUB_KEY, &key) == ERROR_SUCCESS;
    LONG refused = ERROR_SUCCESS;
    while (ok && levels < 512) {
        HKEY child;
        refused = RegCreateKeyExW(key, L"d", 0, nullptr, 0, KEY_CREATE_SUB_KEY, nullptr, &child, nullptr);
        if (refused != ERROR_SUCCESS) break;
        RegCloseKey(key);
        key = child;
        ++levels;
    }
    if (ok) RegCloseKey(key);
    std::printf("branch of %zu characters and a chain to level %d below HKLM under row %d", wide.size(), levels, row);
    if (refused != ERROR_SUCCESS) std::printf(", the next level refused (%ld)", refused);
    std::printf("\n");
    return ok && levels >= 500 ? 0 : 1;
}

int Present() {
    std::wstring rows;
    for (int row = 1; row <= CleanupCatalogue::RegistryKeyCount; ++row)
        if (Exists(Row(row))) rows += (rows.empty() ? L"" : L" ") + std::to_wstring(row);
    std::printf("%ls\n", rows.c_str());
    return 0;
}

std::set<int> Rows(int argc, wchar_t* argv[]) {
    std::set<int> rows;
    for (int i = 2; i < argc; ++i) rows.insert(std::wcstol(argv[i], nullptr, 10));
    return rows;
}

int List() {
    int present = 0;
    for (int row = 1; row <= CleanupCatalogue::RegistryKeyCount; ++row) {
        const bool here = Exists(Row(row));
        present += here;
        std::printf("%2d %-7s HKLM\\%ls\n", row, here ? "present" : "absent", Row(row).c_str());
    }
    std::printf("%d of %d catalogue keys present\n", present, CleanupCatalogue::RegistryKeyCount);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
    const std::wstring verb = argc > 1 ? argv[1] : L"";
    const int row = argc > 2 ? std::wcstol(argv[2], nullptr, 10) : 0;
    const bool rowValid = row >= 1 && row <= CleanupCatalogue::RegistryKeyCount;
    if (verb == L"seed") return Seed({});
    if (verb == L"seed-except") return Seed(Rows(argc, argv));
    if (verb == L"clear") return Clear(), 0;
    if (verb == L"present") return Present();
    if (verb == L"list") return List();
    if (verb == L"links") return Links();
    if (verb == L"victims") return CheckVictims();
    if (verb == L"check") return Check(Rows(argc, argv));
    if (verb == L"deny" && rowValid) return Deny(row);
    if (verb == L"branch" && rowValid) return Branch(row);
    std::fprintf(stderr, "usage: e2e_registry seed|seed-except ROW...|clear|present|list|links|victims|check [ROW...]|"
                         "deny ROW|branch ROW\n");
    return 2;
}
