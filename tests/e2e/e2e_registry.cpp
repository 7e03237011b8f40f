// Arranges and inspects the product's registry traces for the end-to-end runs:
//   e2e_registry seed            the 26 catalogue trees (nested, with values) and their neighbours
//   e2e_registry seed-except ROW...  the same but for ROW...
//   e2e_registry clear           no catalogue trees, no neighbours, no victims (a denied subkey's
//                                rights given back first): for a real
//                                Windows Installer, whose enumeration stops at a malformed
//                                product key such as a seeded neighbour
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
//   e2e_registry found PART      every key of the part's own that exists now: for e2e, the rows,
//                                siblings and victims; for behaviour, the behaviour tests' scratch key
//   e2e_registry journal FILE PART  appends to FILE what the part may create and is absent now:
//                                "tree" lines for its own keys, "key" lines for ancestors, shallowest
//                                first
//   e2e_registry restore FILE    carries out FILE's "tree" and "key" lines: trees deleted without
//                                following links, ancestors deleted only when empty; exit 1 naming
//                                whatever stays, and any line that names a key not the run's own
//   e2e_registry keys FILE       writes to FILE every key under HKLM\SOFTWARE, a link not followed
//   e2e_registry gone FILE JOURNAL  the keys FILE lists that are gone now, outside the catalogue's
//                                rows and what JOURNAL names; exit 1 when any
// Neighbours are the keys that must survive: the parents of catalogue keys and siblings whose
// names differ from a catalogue name by one character or extend it.
#include "cleanup/catalogue.h"
#include "tests/platform/win32/registry_links.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

std::wstring Row(int row) { return CleanupCatalogue::RegistryKeys[row - 1]; }

// Siblings whose names differ from a catalogue name in one character or extend it.
std::vector<std::wstring> Siblings() {
    std::set<std::wstring> keys;
    for (const WCHAR* key : CleanupCatalogue::RegistryKeys) {
        std::wstring changed = key;
        wchar_t& c = changed[changed.size() - 2];
        c = (c == L'0') ? L'1' : L'0';
        keys.insert(changed);
        keys.insert(std::wstring(key) + L"0");
    }
    return {keys.begin(), keys.end()};
}

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

// The key itself, a link not followed.
bool Exists(const std::wstring& path) {
    HKEY key;
    const LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &key);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    return status == ERROR_SUCCESS || status == ERROR_ACCESS_DENIED;  // denied is still there
}

const std::wstring Victims = L"SOFTWARE\\ProductCleanupVictims";
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
    for (const WCHAR* key : CleanupCatalogue::RegistryKeys)
        if (Exists(key + std::wstring(DeniedBelowRow))) seed::RefuseToEveryone(key + std::wstring(DeniedBelowRow), 0);
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

// Every key above a catalogue key, deepest first.
std::vector<std::wstring> Ancestors() {
    std::set<std::wstring> keys;
    for (const WCHAR* key : CleanupCatalogue::RegistryKeys)
        for (std::wstring path = key; path.rfind(L'\\') != std::wstring::npos;) keys.insert(path = path.substr(0, path.rfind(L'\\')));
    std::vector<std::wstring> deepestFirst(keys.begin(), keys.end());
    std::sort(deepestFirst.begin(), deepestFirst.end(), [](const std::wstring& a, const std::wstring& b) {
        return std::count(a.begin(), a.end(), L'\\') > std::count(b.begin(), b.end(), L'\\');
    });
    return deepestFirst;
}

// The behaviour tests' scratch key (tests/platform/win32/registry_seed.cpp).
const std::wstring BehaviourScratch = L"SOFTWARE\\ProductCleanupTests";

// The trees a part of the run makes and removes whole: nothing else may be in them.
std::vector<std::wstring> OwnTrees(const std::wstring& part) {
    if (part == L"behaviour") return {BehaviourScratch};
    if (part != L"e2e") return {};
    std::vector<std::wstring> trees(std::begin(CleanupCatalogue::RegistryKeys), std::end(CleanupCatalogue::RegistryKeys));
    for (const auto& path : Siblings()) trees.push_back(path);
    trees.push_back(Victims);
    return trees;
}

bool Same(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

bool Within(const std::wstring& path, const std::wstring& tree) {
    return Same(path, tree) || (path.size() > tree.size() && path[tree.size()] == L'\\' &&
                                _wcsnicmp(path.c_str(), tree.c_str(), tree.size()) == 0);
}

bool Listed(const std::vector<std::wstring>& keys, const std::wstring& path) {
    return std::any_of(keys.begin(), keys.end(), [&](const std::wstring& key) { return Same(key, path); });
}

int Found(const std::wstring& part) {
    for (const auto& path : OwnTrees(part))
        if (Exists(path)) std::printf("HKLM\\%ls\n", path.c_str());
    return part == L"e2e" || part == L"behaviour" ? 0 : 2;
}

struct Journal {
    std::vector<std::wstring> trees, keys, unknown;
};

Journal ReadJournal(const wchar_t* file, bool* readable) {
    Journal journal;
    FILE* in = _wfopen(file, L"r");
    *readable = in != nullptr;
    if (!in) return journal;
    const auto all = [] {
        std::vector<std::wstring> trees = OwnTrees(L"e2e");
        trees.push_back(BehaviourScratch);
        return trees;
    }();
    const std::vector<std::wstring> ancestors = Ancestors();
    for (wchar_t line[1024]; std::fgetws(line, 1024, in);) {
        const std::wstring text(line, std::wcscspn(line, L"\r\n"));
        const size_t blank = text.find(L' ');
        const std::wstring kind = text.substr(0, blank), path = blank == std::wstring::npos ? L"" : text.substr(blank + 1);
        if (kind == L"tree") (Listed(all, path) ? journal.trees : journal.unknown).push_back(path);
        else if (kind == L"key") (Listed(ancestors, path) ? journal.keys : journal.unknown).push_back(path);
    }
    std::fclose(in);
    return journal;
}

int WriteJournal(const wchar_t* file, const std::wstring& part) {
    FILE* out = _wfopen(file, L"a");
    if (!out) return std::fprintf(stderr, "cannot write %ls\n", file), 1;
    bool written = true;
    for (const auto& path : OwnTrees(part))
        if (!Exists(path)) written = std::fprintf(out, "tree %ls\n", path.c_str()) > 0 && written;
    if (part == L"e2e") {
        std::vector<std::wstring> ancestors = Ancestors();
        for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it)
            if (!Exists(*it)) written = std::fprintf(out, "key %ls\n", it->c_str()) > 0 && written;
    }
    return std::fclose(out) == 0 && written ? 0 : 1;
}

// A tree of the run's own, its keys' refusals given back first where a test left one.
LONG DeleteOwnTree(const std::wstring& path) {
    HKEY key;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | DELETE, &key);
    if (opened == ERROR_SUCCESS) RegCloseKey(key);
    else if (opened == ERROR_ACCESS_DENIED) seed::RefuseToEveryone(path, 0);
    std::vector<std::wstring> children;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &key) == ERROR_SUCCESS) {
        WCHAR name[256];
        for (DWORD index = 0, length = 256; RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr,
                                                          nullptr) == ERROR_SUCCESS; ++index, length = 256)
            children.push_back(path + L"\\" + name);
        RegCloseKey(key);
    }
    for (const auto& child : children) DeleteOwnTree(child);
    return seed::DeleteTreeNoFollow(path);
}

// What a key that should be empty holds, on one line.
std::wstring Contents(const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &key) != ERROR_SUCCESS)
        return L"(cannot be read)";
    std::wstring names;
    WCHAR name[256];
    for (DWORD index = 0, length = 256;
         RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = 256)
        names += (names.empty() ? L"" : L", ") + std::wstring(name);
    DWORD values = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return L"holds subkeys [" + names + L"] and " + std::to_wstring(values) + L" value(s)";
}

// An ancestor the run created goes only when nothing is in it: a key delete, never a tree delete.
bool DeleteIfEmpty(const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | DELETE, &key) != ERROR_SUCCESS)
        return false;
    DWORD subkeys = 1, values = 1;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    const bool deleted = subkeys == 0 && values == 0 && NtDeleteKey(key) == STATUS_SUCCESS;
    RegCloseKey(key);
    return deleted;
}

int Restore(const wchar_t* file) {
    bool readable = false;
    const Journal journal = ReadJournal(file, &readable);
    if (!readable) return std::fprintf(stderr, "cannot read %ls\n", file), 1;
    int left = 0;
    for (const auto& path : journal.unknown) {
        std::printf("not the run's own, left alone: HKLM\\%ls\n", path.c_str());
        ++left;
    }
    for (const auto& path : journal.trees) {
        if (Exists(path)) DeleteOwnTree(path);
        if (Exists(path)) std::printf("left: HKLM\\%ls\n", path.c_str()), ++left;
    }
    // Deepest first, so that a parent can be empty once its child is gone.
    std::vector<std::wstring> keys = journal.keys;
    std::stable_sort(keys.begin(), keys.end(), [](const std::wstring& a, const std::wstring& b) {
        return std::count(a.begin(), a.end(), L'\\') > std::count(b.begin(), b.end(), L'\\');
    });
    for (const auto& path : keys) {
        if (!Exists(path) || DeleteIfEmpty(path)) continue;
        std::printf("left: HKLM\\%ls, which %ls\n", path.c_str(), Contents(path).c_str());
        ++left;
    }
    return left ? 1 : 0;
}

// Every key under HKLM\SOFTWARE, names only; what cannot be read is listed but not entered.
// Key names in UTF-8, whatever the code page.
std::string Utf8(const std::wstring& text) {
    std::string out(text.size() * 3 + 1, '\0');
    out.resize(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()), nullptr,
                                   nullptr));
    if (!out.empty()) out.pop_back();
    return out;
}

std::wstring FromUtf8(const std::string& text) {
    std::wstring out(text.size() + 1, L'\0');
    out.resize(MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size())));
    if (!out.empty()) out.pop_back();
    return out;
}

void ListKeys(const std::wstring& path, FILE* out) {
    std::fprintf(out, "%s\n", Utf8(path).c_str());
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &key) != ERROR_SUCCESS) return;
    std::vector<std::wstring> children;
    WCHAR name[256];
    for (DWORD index = 0, length = 256;
         RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = 256)
        children.push_back(path + L"\\" + name);
    RegCloseKey(key);
    for (const auto& child : children) ListKeys(child, out);
}

int WriteKeys(const wchar_t* file) {
    FILE* out = _wfopen(file, L"wb");
    if (!out) return std::fprintf(stderr, "cannot write %ls\n", file), 1;
    ListKeys(L"SOFTWARE", out);
    return std::fclose(out) == 0 ? 0 : 1;
}

int Gone(const wchar_t* file, const wchar_t* journalFile) {
    bool readable = false;
    const Journal journal = ReadJournal(journalFile, &readable);
    FILE* in = _wfopen(file, L"rb");
    if (!in || !readable) return std::fprintf(stderr, "cannot read %ls or %ls\n", file, journalFile), 2;
    int gone = 0, listed = 0;
    for (char line[4096]; std::fgets(line, sizeof line, in);) {
        const std::wstring path = FromUtf8(std::string(line, std::strcspn(line, "\r\n")));
        ++listed;
        bool own = Listed(journal.keys, path);
        for (const WCHAR* row : CleanupCatalogue::RegistryKeys) own = own || Within(path, row);
        for (const auto& tree : journal.trees) own = own || Within(path, tree);
        if (own || Exists(path)) continue;
        std::printf("removed, outside the catalogue and the run's own keys: HKLM\\%ls\n", path.c_str());
        ++gone;
    }
    std::fclose(in);
    std::printf("%d of %d keys under HKLM\\SOFTWARE gone\n", gone, listed);
    return gone ? 1 : (listed ? 0 : 2);
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
    if (verb == L"found" && argc == 3) return Found(argv[2]);
    if (verb == L"journal" && argc == 4) return WriteJournal(argv[2], argv[3]);
    if (verb == L"restore" && argc == 3) return Restore(argv[2]);
    if (verb == L"keys" && argc == 3) return WriteKeys(argv[2]);
    if (verb == L"gone" && argc == 4) return Gone(argv[2], argv[3]);
    std::fprintf(stderr, "usage: e2e_registry seed|seed-except ROW...|clear|present|list|links|victims|check [ROW...]|"
                         "deny ROW|branch ROW|found e2e|behaviour|journal FILE e2e|behaviour|restore FILE|keys FILE|"
                         "gone FILE JOURNAL\n");
    return 2;
}
