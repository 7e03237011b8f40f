// The journal of what a run makes or changes, written before each change, and the restore that
// carries it out, this run's or an interrupted one's.
#include "bundle.h"
#include "tests/e2e/e2e_keys.h"

#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

namespace bundle {

namespace {

std::set<std::string> written;  // lines in the journal now

std::string Line(const std::string& kind, const std::wstring& what) { return kind + " " + Narrow(what); }

// The whole journal replaced at once: a run stopped meanwhile leaves the old one, and a copy
// that the next restore removes.
const std::wstring FreshJournal = JournalPath + L".new";

bool SaveJournal(const std::string& text) {
    FILE* out = _wfopen(FreshJournal.c_str(), L"wb");
    if (!out) return false;
    const bool written = std::fputs(text.c_str(), out) >= 0;
    return std::fclose(out) == 0 && written && MoveFileExW(FreshJournal.c_str(), JournalPath.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// Takes back a line whose thing turned out not to be the run's to make.
void Unjournal(const std::string& kind, const std::wstring& what) {
    const std::string line = Line(kind, what) + "\n";
    std::string text = ReadText(JournalPath);
    const size_t at = text.rfind(line);
    if (at != std::string::npos) text.erase(at, line.size());
    if (!SaveJournal(text)) {
        std::printf("cannot take %s back out of the journal: stopping\n", line.c_str());
        std::exit(1);
    }
    written.erase(Line(kind, what));
}

bool Same(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

bool Listed(const std::vector<std::wstring>& keys, const std::wstring& path) {
    return std::any_of(keys.begin(), keys.end(), [&](const std::wstring& key) { return Same(key, path); });
}

bool Within(const std::wstring& path, const std::wstring& tree) {
    return Same(path, tree) || (path.size() > tree.size() && path[tree.size()] == L'\\' && Same(path.substr(0, tree.size()), tree));
}

// A value as Windows keeps it: a string of its type, or absent.
struct Value {
    bool absent = true;
    DWORD type = REG_NONE;
    std::wstring text;
};

std::wstring ValueName(const PrefixValue& value) {
    return std::wstring(value.root == HKEY_CURRENT_USER ? L"HKCU\\" : L"HKLM\\") + value.key + L"|" + value.name;
}

bool ReadValue(const PrefixValue& value, Value& read) {
    wchar_t text[1024];
    DWORD type = 0, size = sizeof text;
    const LONG status = RegGetValueW(value.root, value.key, value.name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                                     &type, text, &size);
    read = status == ERROR_SUCCESS ? Value{false, type, text} : Value{};
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// Never creates the key: putting back a value must leave nothing else behind.
bool WriteValue(const PrefixValue& value, const Value& put) {
    HKEY key;
    if (RegOpenKeyExW(value.root, value.key, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return false;
    const LONG status = put.absent ? RegDeleteValueW(key, value.name)
                                   : RegSetValueExW(key, value.name, 0, put.type, reinterpret_cast<const BYTE*>(put.text.c_str()),
                                                    static_cast<DWORD>((put.text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS || (put.absent && status == ERROR_FILE_NOT_FOUND);
}

// "KEY|NAME|absent" or "KEY|NAME|TYPE|TEXT".
std::wstring Encoded(const PrefixValue& value, const Value& saved) {
    return ValueName(value) + L"|" + (saved.absent ? L"absent" : std::to_wstring(saved.type) + L"|" + saved.text);
}

const PrefixValue* Known(const std::wstring& name) {
    for (const PrefixValue* value : {&ProgramFilesDir, &ProfileProgramData, &MsiexecLoadOrder})
        if (Same(ValueName(*value), name)) return value;
    return nullptr;
}

bool Decoded(const std::wstring& text, const PrefixValue*& value, Value& saved) {
    const size_t second = text.find(L'|', text.find(L'|') + 1), third = text.find(L'|', second + 1);
    if (second == std::wstring::npos || !(value = Known(text.substr(0, second)))) return false;
    saved = Value{};
    if (text.compare(second + 1, std::wstring::npos, L"absent") == 0) return true;
    if (third == std::wstring::npos) return false;
    saved = {false, static_cast<DWORD>(std::wcstoul(text.c_str() + second + 1, nullptr, 10)), text.substr(third + 1)};
    return true;
}

std::map<std::wstring, Value> originals;  // the machine values this run changed, as they were

const std::wstring SavedMsiexec = Scratch + L"\\msiexec.exe.original";
const wchar_t* const StandInRecords[] = {L".args", L".product", L".answers"};

// Whether a journal line names a file or folder of the run's own, and so may be removed.
bool OwnPath(const std::wstring& path) {
    if (path.find(L"\\..") != std::wstring::npos || path.find(L'/') != std::wstring::npos) return false;
    for (const wchar_t* record : StandInRecords)
        if (UnderWine && Same(path, SystemMsiexec + record)) return true;
    std::vector<std::wstring> folders = {Scratch, ProgramFiles + L"\\Morvanta"};
    folders.insert(folders.end(), std::begin(ProductFolders), std::end(ProductFolders));
    return std::any_of(folders.begin(), folders.end(), [&](const std::wstring& folder) { return Within(path, folder); });
}

// The registry trees a part makes and removes whole: nothing else may be in them.
std::vector<std::wstring> OwnTrees(const std::wstring& part) {
    if (part == L"behaviour") return {e2e::BehaviourScratch};
    std::vector<std::wstring> trees(std::begin(CleanupCatalogue::RegistryKeys), std::end(CleanupCatalogue::RegistryKeys));
    for (const std::wstring& sibling : e2e::Siblings()) trees.push_back(sibling);
    trees.push_back(e2e::Victims);
    return trees;
}

struct JournalLines {
    std::vector<std::wstring> products, files, folders, values, replaced, trees, keys;
    bool own = true;  // every line names something of the run's own
};

JournalLines ReadJournal(bool report = true) {
    JournalLines journal;
    std::vector<std::wstring> trees = OwnTrees(L"e2e");
    trees.push_back(e2e::BehaviourScratch);
    const std::vector<std::wstring> ancestors = e2e::Ancestors();
    std::istringstream lines(ReadText(JournalPath));
    for (std::string line; std::getline(lines, line);) {
        const size_t blank = line.find(' ');
        const std::string kind = line.substr(0, blank);
        std::wstring what(line.size(), L'\0');
        what.resize(MultiByteToWideChar(CP_ACP, 0, line.c_str() + blank + 1, -1, what.data(),
                                        static_cast<int>(what.size())));
        if (!what.empty()) what.pop_back();
        const PrefixValue* value = nullptr;
        Value saved;
        if (kind == "product" && (what == ProductCode || what == NeighbourCode)) journal.products.push_back(what);
        else if (kind == "file" && OwnPath(what)) journal.files.push_back(what);
        else if (kind == "folder" && OwnPath(what)) journal.folders.push_back(what);
        else if (kind == "value" && UnderWine && Decoded(what, value, saved)) journal.values.push_back(what);
        else if (kind == "replaced" && UnderWine && _wcsicmp(what.c_str(), SystemMsiexec.c_str()) == 0)
            journal.replaced.push_back(what);
        else if (kind == "tree" && Listed(trees, what)) journal.trees.push_back(what);
        else if (kind == "key" && Listed(ancestors, what)) journal.keys.push_back(what);
        else if ((journal.own = false, report))
            std::printf("     not the run's own: %s\n", line.c_str());
    }
    return journal;
}

}  // namespace

const PrefixValue ProgramFilesDir = {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"ProgramFilesDir"};
const PrefixValue ProfileProgramData = {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                                        L"ProgramData"};
// Wine runs its own msiexec.exe, whatever file stands in the system directory, unless told otherwise.
const PrefixValue MsiexecLoadOrder = {HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"msiexec.exe"};
const std::wstring SystemMsiexec = SystemDirectory + L"\\msiexec.exe";

void Journal(const std::string& kind, const std::wstring& what) {
    if (!written.insert(Line(kind, what)).second) return;
    FILE* out = _wfopen(JournalPath.c_str(), L"ab");
    if (!out || std::fprintf(out, "%s\n", Line(kind, what).c_str()) < 0 || std::fclose(out) != 0) {
        std::printf("cannot write the journal %s: stopping before any change it would not record\n",
                    Narrow(JournalPath).c_str());
        std::exit(1);
    }
}

void ForgetJournal() { written.clear(); }

bool Own(const std::wstring& path) {
    if (Exists(path)) return Check("not there before the run wrote it: " + Narrow(path), false), false;
    Journal("file", path);
    return true;
}

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

void SetPrefixValue(const PrefixValue& value, const wchar_t* data) {
    const std::string what = "prefix value " + Narrow(ValueName(value));
    if (!UnderWine) return Check(what + " changed only under Wine", false);
    if (!originals.count(ValueName(value))) {
        Value saved;
        if (!ReadValue(value, saved)) return Check(what + " read before it is changed", false);
        Journal("value", Encoded(value, saved));
        originals[ValueName(value)] = saved;
    }
    if (!WriteValue(value, data ? Value{false, REG_SZ, data} : Value{})) Check(what + " set", false);
}

void PutBackPrefixValue(const PrefixValue& value) {
    const auto saved = originals.find(ValueName(value));
    if (saved != originals.end() && !WriteValue(value, saved->second))
        Check("prefix value " + Narrow(ValueName(value)) + " put back", false);
}

void PutBackPrefixValues() {
    for (const auto& [name, saved] : originals)
        if (!WriteValue(*Known(name), saved)) Check("prefix value " + Narrow(name) + " put back", false);
}

void ReplaceSystemMsiexec() {
    if (!UnderWine) return Check("the system's msiexec.exe replaced only under Wine", false);
    if (!written.count(Line("replaced", SystemMsiexec))) {
        if (!Own(SavedMsiexec) || !CopyFileW(SystemMsiexec.c_str(), SavedMsiexec.c_str(), TRUE))
            return Check("the system's msiexec.exe kept aside", false);
        Journal("replaced", SystemMsiexec);
    }
    for (const wchar_t* record : StandInRecords) {
        Journal("file", SystemMsiexec + record);
        DeleteFileW((SystemMsiexec + record).c_str());
    }
    Check("the system's msiexec.exe replaced by the recorder",
          CopyFileW((Here + L"\\record_args.exe").c_str(), SystemMsiexec.c_str(), FALSE));
}

void PutBackSystemMsiexec() {
    if (written.count(Line("replaced", SystemMsiexec)) &&
        !CopyFileW(SavedMsiexec.c_str(), SystemMsiexec.c_str(), FALSE))
        Check("the system's msiexec.exe put back", false);
}

void JournalKeys(const std::wstring& part) {
    for (const std::wstring& tree : OwnTrees(part))
        if (!e2e::Exists(tree)) Journal("tree", tree);
    if (part == L"e2e")
        for (const std::wstring& key : e2e::Ancestors())
            if (!e2e::Exists(key)) Journal("key", key);
}

std::string Found(const std::wstring& part) {
    std::string found;
    for (const std::wstring& tree : OwnTrees(part))
        if (e2e::Exists(tree)) found += "HKLM\\" + Narrow(tree) + "\n";
    if (part != L"e2e") return found;
    for (const wchar_t* code : {ProductCode, NeighbourCode}) {
        const Ran state = Helper(L"msi_state.exe", code);
        if (!Answered("msi_state " + Narrow(code), state)) found += "(Windows Installer could not be asked)\n";
        else if (Trimmed(state.out) != "unknown") found += "Windows Installer product " + Narrow(code) + ": " + Trimmed(state.out) + "\n";
    }
    std::vector<std::wstring> paths(std::begin(ProductFolders), std::end(ProductFolders));
    paths.insert(paths.end(), {ProgramFiles + L"\\Morvanta", ProgramData + L"\\Morvanta"});
    for (const wchar_t* record : StandInRecords)
        if (UnderWine) paths.push_back(SystemMsiexec + record);
    for (const std::wstring& path : paths)
        if (Exists(path)) found += Narrow(path) + "\n";
    return found;
}

bool DropCutLine() {
    FILE* in = _wfopen(JournalPath.c_str(), L"rb");  // one that cannot be read is never taken as empty
    if (!in) return false;
    std::fclose(in);
    const std::string text = ReadText(JournalPath);
    return text.empty() || text.back() == '\n' || SaveJournal(text.substr(0, text.rfind('\n') + 1));  // npos + 1: no whole line
}

bool PutBackJournaledValues() {
    bool all = true;
    // Before the machine's folders are read: the lines naming files in them cannot be judged yet.
    for (const std::wstring& line : ReadJournal(false).values) {
        const PrefixValue* value = nullptr;
        Value saved;
        all = Decoded(line, value, saved) && WriteValue(*value, saved) && all;
    }
    originals.clear();
    return all;
}

namespace {

// An ancestor the run created goes only when nothing is in it: a key delete, never a tree delete.
// Empty when it went, else what it holds.
std::string DeleteIfEmpty(const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | DELETE, &key) != ERROR_SUCCESS)
        return "cannot be opened to be deleted";
    DWORD subkeys = 1, values = 1;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr, nullptr, nullptr);
    const bool deleted = subkeys == 0 && values == 0 && NtDeleteKey(key) == STATUS_SUCCESS;
    RegCloseKey(key);
    std::string names;
    for (const std::wstring& name : e2e::Subkeys(path)) names += (names.empty() ? "" : ", ") + Narrow(name);
    return deleted ? "" : "holds subkeys [" + names + "] and " + std::to_string(values) + " value(s)";
}

// The journal's trees deleted without following links, then the ancestors it made.
std::string RestoreKeys(const JournalLines& journal) {
    std::string left;
    for (const std::wstring& tree : journal.trees)
        if (e2e::Exists(tree) && seed::DeleteTreeNoFollow(tree) != ERROR_SUCCESS && e2e::Exists(tree))
            left += "HKLM\\" + Narrow(tree) + "\n";
    std::vector<std::wstring> keys = journal.keys;
    std::sort(keys.rbegin(), keys.rend());  // a key after its subkeys
    for (const std::wstring& key : keys)
        if (const std::string held = e2e::Exists(key) ? DeleteIfEmpty(key) : ""; !held.empty())
            left += "HKLM\\" + Narrow(key) + ", which " + held + "\n";
    return left;
}

void ListKeys(const std::wstring& path, std::vector<std::wstring>& keys) {
    keys.push_back(path);
    for (const std::wstring& name : e2e::Subkeys(path)) ListKeys(path + L"\\" + name, keys);
}

}  // namespace

std::vector<std::wstring> KeysUnderSoftware() {
    std::vector<std::wstring> keys;
    if (e2e::Exists(L"SOFTWARE")) ListKeys(L"SOFTWARE", keys);
    return keys;
}

std::string KeysGone(const std::vector<std::wstring>& before) {
    const JournalLines journal = ReadJournal(false);
    std::string gone;
    for (const std::wstring& path : before) {
        bool own = Listed(journal.keys, path);
        for (const WCHAR* row : CleanupCatalogue::RegistryKeys) own = own || Within(path, row);
        for (const std::wstring& tree : journal.trees) own = own || Within(path, tree);
        if (!own && !e2e::Exists(path)) gone += "removed, outside the catalogue and the run's own keys: HKLM\\" + Narrow(path) + "\n";
    }
    return gone;
}

bool Restore(const std::string& who) {
    if (!Exists(Scratch) && !MakeFolders(Scratch)) return false;  // the helpers' output goes there
    std::string left;
    const JournalLines before = ReadJournal();
    // The prefix's values and programs first: what follows starts Windows Installer.
    if (!PutBackJournaledValues()) left += "a prefix value the journal names\n";
    for (const std::wstring& path : before.replaced)
        if (!CopyFileW(SavedMsiexec.c_str(), path.c_str(), FALSE)) left += Narrow(path) + " not put back\n";
    // Installed since under the same code by something else, such as the real product: then its
    // keys are not the run's either, and nothing more is put back. A product has a name: Windows
    // Installer reads the run's own seed of the rows that register the code as one without.
    std::vector<std::wstring> ours;  // installed by an earlier run: removed first
    for (const std::wstring& code : before.products) {
        const std::string name = Answer(Helper(L"msi_state.exe", code + L" name"));
        if (name.rfind("Cleanup Test ", 0) == 0) ours.push_back(code);
        else if (name != "(none)" && !name.empty()) left += "Windows Installer product " + Narrow(code) + ": " + name + "\n";
    }
    if (!left.empty()) {
        Check(who + ": nothing else installed under the test products' codes", false,
              left + "nothing more was put back; the journal " + Narrow(JournalPath) + " stays");
        return false;
    }
    for (const std::wstring& code : ours) Msiexec(L"/x " + code + L" /qn");
    // A product that refuses its removal is left to the registry's restore, as the program does.
    left += RestoreKeys(before);
    for (const std::wstring& code : before.products) {
        const std::string state = MsiState(code);
        if (state != "unknown") left += "Windows Installer product " + Narrow(code) + ": " + state + "\n";
    }
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
    std::sort(journal.folders.rbegin(), journal.folders.rend());  // a folder after what is in it
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
    if (done) DeleteFileW(FreshJournal.c_str());
    if (done && DeleteFileW(JournalPath.c_str())) ForgetJournal();
    return done;
}

}  // namespace bundle
