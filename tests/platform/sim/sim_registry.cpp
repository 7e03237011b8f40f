// A registry under HKEY_LOCAL_MACHINE that answers the calls the program makes the way Windows
// does: names compare case-insensitively, subkeys enumerate in sorted order, a key with
// subkeys cannot be deleted, a handle stays on its key through a rename and outlives its
// deletion, a path may be opened relative to an open handle, and a symbolic link is followed
// wherever it stands in a path, except at the end of a path opened with REG_OPTION_OPEN_LINK.
#include "sim_control.h"

#include <algorithm>
#include <cwctype>
#include <map>
#include <memory>
#include <tuple>

extern "C" {
char SimLocalMachine;
}

namespace {

constexpr std::size_t MaxKeyNameLength = 255;
// Far beyond any tree a test builds: a caller past it is looping, so every call fails from then on.
constexpr std::size_t CallBudget = 2'000'000;
// Links followed while resolving one path; a longer chain is a loop, which Wine answers with
// ERROR_INVALID_PARAMETER.
constexpr int MaxLinkFollows = 16;

struct Key {
    std::wstring name;
    Key* parent = nullptr;
    std::vector<std::shared_ptr<Key>> subkeys;  // sorted by FoldCase(name)
    bool deleted = false;
    bool link = false;
    std::wstring target;  // a link's target, relative to HKEY_LOCAL_MACHINE
    REGSAM denied = 0;    // access its own security refuses
    std::map<std::wstring, std::pair<DWORD, std::wstring>> values;  // by FoldCase(name): type, data
};

struct OpenKey {
    std::shared_ptr<Key> key;
    std::wstring path;
    REGSAM access;
};

std::wstring FoldCase(const std::wstring& text) {
    std::wstring folded = text;
    for (auto& c : folded) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    return folded;
}

struct Registry {
    std::shared_ptr<Key> root = std::make_shared<Key>();
    std::map<std::uintptr_t, OpenKey> handles;
    std::uintptr_t nextHandle = 0x1000;
    std::map<std::tuple<sim::Op, std::wstring>, LONG> faults;
    std::vector<sim::RegistryCall> calls;
    std::function<void()> otherProcess;
    bool otherProcessRunning = false;
};

Registry& State() {
    static Registry registry;
    return registry;
}

std::vector<std::shared_ptr<Key>>::iterator FindSubkey(Key& parent, const std::wstring& name) {
    const auto folded = FoldCase(name);
    return std::find_if(parent.subkeys.begin(), parent.subkeys.end(),
                        [&](const auto& k) { return FoldCase(k->name) == folded; });
}

void InsertSorted(Key& parent, const std::shared_ptr<Key>& child) {
    const auto folded = FoldCase(child->name);
    auto at = std::find_if(parent.subkeys.begin(), parent.subkeys.end(),
                           [&](const auto& k) { return FoldCase(k->name) > folded; });
    parent.subkeys.insert(at, child);
}

std::shared_ptr<Key> AddSubkey(Key& parent, const std::wstring& name) {
    auto child = std::make_shared<Key>();
    child->name = name;
    child->parent = &parent;
    InsertSorted(parent, child);
    return child;
}

// Splits a path into names; one trailing backslash is accepted, as Windows does.
bool SplitPath(const std::wstring& path, std::vector<std::wstring>& names) {
    names.clear();
    std::wstring name;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != L'\\') {
            name += path[i];
            continue;
        }
        if (name.empty()) return i == path.size() && !names.empty();
        if (name.size() > MaxKeyNameLength) return false;
        names.push_back(name);
        name.clear();
    }
    return true;
}

// Walks from start to the key a path names, following every link on the way and the last one
// too unless openLink; a link's target is absolute. With create, missing keys are made.
// Answers a Win32 status.
LONG Resolve(std::shared_ptr<Key> start, const std::wstring& path, bool openLink, bool create,
             std::shared_ptr<Key>& found, int& follows) {
    std::vector<std::wstring> names;
    if (!SplitPath(path, names)) return ERROR_INVALID_PARAMETER;
    auto key = std::move(start);
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto it = FindSubkey(*key, names[i]);
        std::shared_ptr<Key> next;
        if (it != key->subkeys.end()) next = *it;
        else if (create) next = AddSubkey(*key, names[i]);
        else return ERROR_FILE_NOT_FOUND;
        const bool last = i + 1 == names.size();
        if (next->link && !(last && openLink)) {
            if (++follows > MaxLinkFollows) return ERROR_INVALID_PARAMETER;
            const LONG status = Resolve(State().root, next->target, false, false, next, follows);
            if (status != ERROR_SUCCESS) return status;
        }
        key = next;
    }
    found = key;
    return ERROR_SUCCESS;
}

LONG Resolve(const std::wstring& path, bool openLink, bool create, std::shared_ptr<Key>& found) {
    int follows = 0;
    return Resolve(State().root, path, openLink, create, found, follows);
}

LONG Resolve(const std::wstring& path, bool openLink, std::shared_ptr<Key>& found) {
    return Resolve(path, openLink, false, found);
}

// Another process's turn comes before each of the program's calls; its own work is no call.
void OtherProcessTurn() {
    auto& state = State();
    if (!state.otherProcess || state.otherProcessRunning) return;
    state.otherProcessRunning = true;
    state.otherProcess();
    state.otherProcessRunning = false;
}

// Where a live key stands now.
std::wstring PathOf(const Key& key) {
    if (key.parent == nullptr) return L"";
    const std::wstring above = PathOf(*key.parent);
    return above.empty() ? key.name : above + L"\\" + key.name;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += (c < 0x80) ? static_cast<char>(c) : '?';
    return out;
}

LONG Log(sim::Op op, const std::wstring& path, LONG status, DWORD options = 0, REGSAM access = 0) {
    State().calls.push_back({op, path, status, options, access});
    return status;
}

bool Injected(sim::Op op, const std::wstring& path, LONG& status) {
    auto it = State().faults.find({op, FoldCase(path)});
    if (it == State().faults.end()) return false;
    status = it->second;
    return true;
}

bool Runaway(sim::Op op, const std::wstring& path) {
    if (State().calls.size() < CallBudget) return false;
    if (State().calls.size() == CallBudget) sim::ReportViolation("registry: call budget exhausted, runaway loop");
    Log(op, path, ERROR_CALL_NOT_IMPLEMENTED);
    return true;
}

LONG Unmodelled(sim::Op op, const std::wstring& path, const char* what) {
    sim::ReportViolation(std::string("registry: ") + what + " (" + Narrow(path) + ")");
    return Log(op, path, ERROR_CALL_NOT_IMPLEMENTED);
}

// A handle that is not open is a bug of the caller: Windows answers ERROR_INVALID_HANDLE.
LONG InvalidHandle(sim::Op op, LONG status = ERROR_INVALID_HANDLE) {
    sim::ReportViolation("registry: handle not open");
    return Log(op, L"", status);
}

OpenKey* Lookup(HANDLE handle) {
    auto it = State().handles.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == State().handles.end() ? nullptr : &it->second;
}

bool ValidPath(LPCWSTR path) {
    std::vector<std::wstring> names;
    return path != nullptr && SplitPath(path, names);
}

void MarkDeleted(Key& key) {
    key.deleted = true;
    for (const auto& child : key.subkeys) MarkDeleted(*child);
}

// Takes the key, and whatever is below it, out of the registry; open handles keep them.
void Remove(Key& key) {
    key.parent->subkeys.erase(FindSubkey(*key.parent, key.name));
    MarkDeleted(key);
}

void List(const Key& key, const std::wstring& path, std::vector<std::wstring>& lines) {
    for (const auto& child : key.subkeys) {
        const std::wstring childPath = path.empty() ? child->name : path + L"\\" + child->name;
        lines.push_back(child->link ? childPath + L" -> " + child->target : childPath);
        List(*child, childPath, lines);
    }
}

}  // namespace

namespace sim {

void ResetRegistry() { State() = Registry{}; }

bool CreateKey(const std::wstring& path) {
    std::shared_ptr<Key> key;
    return Resolve(path, false, true, key) == ERROR_SUCCESS;
}

bool CreateLink(const std::wstring& path, const std::wstring& target) {  // NOLINT(bugprone-easily-swappable-parameters): both are key paths, link first as in sim_control.h
    const auto cut = path.rfind(L'\\');
    std::shared_ptr<Key> parent = State().root;
    if (cut != std::wstring::npos && Resolve(path.substr(0, cut), false, true, parent) != ERROR_SUCCESS)
        return false;
    const std::wstring name = cut == std::wstring::npos ? path : path.substr(cut + 1);
    std::vector<std::wstring> names;
    if (!SplitPath(name, names) || names.size() != 1 || FindSubkey(*parent, name) != parent->subkeys.end())
        return false;
    auto link = AddSubkey(*parent, name);
    link->link = true;
    link->target = target;
    return true;
}

bool KeyExists(const std::wstring& path) {
    std::shared_ptr<Key> key;
    return Resolve(path, true, key) == ERROR_SUCCESS;
}

std::vector<std::wstring> KeyListing() {
    std::vector<std::wstring> lines;
    List(*State().root, L"", lines);
    return lines;
}

// The same key under a new name, as RegRenameKey does: open handles stay on it.
bool RenameKey(const std::wstring& path, const std::wstring& newName) {  // NOLINT(bugprone-easily-swappable-parameters): RegRenameKey's order, key then new name
    std::shared_ptr<Key> key;
    std::vector<std::wstring> names;
    if (Resolve(path, true, key) != ERROR_SUCCESS || key == State().root) return false;
    if (newName.find(L'\\') != std::wstring::npos || !SplitPath(newName, names)) return false;
    Key& parent = *key->parent;
    if (FindSubkey(parent, newName) != parent.subkeys.end()) return false;
    parent.subkeys.erase(FindSubkey(parent, key->name));
    key->name = newName;
    InsertSorted(parent, key);
    return true;
}

bool DeleteTree(const std::wstring& path) {
    std::shared_ptr<Key> key;
    if (Resolve(path, true, key) != ERROR_SUCCESS || key == State().root) return false;
    Remove(*key);
    return true;
}

bool SetValue(const std::wstring& path, const std::wstring& name, DWORD type, const std::wstring& data) {  // NOLINT(bugprone-easily-swappable-parameters): key, then value name, as RegSetKeyValueW
    std::shared_ptr<Key> key;
    if (Resolve(path, false, true, key) != ERROR_SUCCESS) return false;
    key->values[FoldCase(name)] = {type, data};
    return true;
}

void SetOtherProcess(std::function<void()> turn) { State().otherProcess = std::move(turn); }

void DenyAccess(const std::wstring& path, REGSAM access) {
    std::shared_ptr<Key> key;
    if (Resolve(path, true, key) == ERROR_SUCCESS) key->denied = access;
    else ReportViolation("registry: DenyAccess on a missing key (" + Narrow(path) + ")");
}

void FailCall(Op op, const std::wstring& path, LONG status) {
    State().faults[{op, FoldCase(path)}] = status;
}

const std::vector<RegistryCall>& RegistryCalls() { return State().calls; }

int OpenHandleCount() { return static_cast<int>(State().handles.size()); }

}  // namespace sim

extern "C" {

// As on Windows: an open of the key for DELETE, a delete and a close, with a link followed.
// cppcheck-suppress constParameter ; the Windows signature
LONG WINAPI RegDeleteKeyW(HKEY root, LPCWSTR subKey) {
    OtherProcessTurn();
    const std::wstring path = subKey ? subKey : L"";
    if (Runaway(sim::Op::DeleteKey, path)) return ERROR_CALL_NOT_IMPLEMENTED;
    if (root != HKEY_LOCAL_MACHINE) return Unmodelled(sim::Op::DeleteKey, path, "root other than HKLM");
    if (!ValidPath(subKey)) return Unmodelled(sim::Op::DeleteKey, path, "empty or malformed path");
    LONG status;
    if (Injected(sim::Op::DeleteKey, path, status)) return Log(sim::Op::DeleteKey, path, status);
    std::shared_ptr<Key> key;
    status = Resolve(path, false, key);
    if (status != ERROR_SUCCESS) return Log(sim::Op::DeleteKey, path, status);
    if ((key->denied & DELETE) || !key->subkeys.empty()) return Log(sim::Op::DeleteKey, path, ERROR_ACCESS_DENIED);
    Remove(*key);
    return Log(sim::Op::DeleteKey, path, ERROR_SUCCESS);
}

// cppcheck-suppress constParameter ; the Windows signature
LONG WINAPI RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    OtherProcessTurn();
    // Relative to an open handle, the path is logged as that handle's path and the name below it.
    const OpenKey* base = root == HKEY_LOCAL_MACHINE ? nullptr : Lookup(root);
    if (root != HKEY_LOCAL_MACHINE && base == nullptr) return InvalidHandle(sim::Op::OpenKey);
    const std::wstring name = subKey ? subKey : L"";
    const bool separate = base && !base->path.empty() && base->path.back() != L'\\';
    const std::wstring path = base ? base->path + (separate ? L"\\" : L"") + name : name;
    if (Runaway(sim::Op::OpenKey, path)) return ERROR_CALL_NOT_IMPLEMENTED;
    if ((options != 0 && options != REG_OPTION_OPEN_LINK) ||
        (desired != KEY_READ && desired != DELETE && desired != (KEY_READ | DELETE)) || result == nullptr)
        return Unmodelled(sim::Op::OpenKey, path, "options, access or result not modelled");
    if (!ValidPath(subKey)) return Unmodelled(sim::Op::OpenKey, path, "empty or malformed path");
    LONG status;
    if (Injected(sim::Op::OpenKey, path, status)) return Log(sim::Op::OpenKey, path, status, options, desired);
    std::shared_ptr<Key> key;
    if (base && base->key->deleted) {
        status = ERROR_KEY_DELETED;
    } else {
        int follows = 0;
        status = Resolve(base ? base->key : State().root, name, options == REG_OPTION_OPEN_LINK, false, key, follows);
    }
    if (status == ERROR_SUCCESS && (key->denied & desired)) status = ERROR_ACCESS_DENIED;
    if (status != ERROR_SUCCESS) return Log(sim::Op::OpenKey, path, status, options, desired);
    const auto handle = State().nextHandle++;
    State().handles[handle] = {key, path, desired};
    *result = reinterpret_cast<HKEY>(handle);  // NOLINT(performance-no-int-to-ptr): a handle is an opaque number, as on Windows
    Log(sim::Op::OpenKey, path, ERROR_SUCCESS, options, desired);
    State().calls.back().reached = PathOf(*key);
    return ERROR_SUCCESS;
}

LONG WINAPI RegEnumKeyExW(HKEY handle, DWORD index, LPWSTR name, LPDWORD nameLength,
                          // cppcheck-suppress constParameter ; the Windows signature
                          LPDWORD reserved, LPWSTR className, LPDWORD classLength,
                          PFILETIME lastWriteTime) {
    OtherProcessTurn();
    OpenKey* open = Lookup(handle);
    if (!open) return InvalidHandle(sim::Op::EnumKey);
    if (Runaway(sim::Op::EnumKey, open->path)) return ERROR_CALL_NOT_IMPLEMENTED;
    if (!name || !nameLength || reserved || className || classLength)
        return Unmodelled(sim::Op::EnumKey, open->path, "arguments not modelled");
    LONG status;
    if (Injected(sim::Op::EnumKey, open->path, status)) return Log(sim::Op::EnumKey, open->path, status);
    if (!(open->access & KEY_ENUMERATE_SUB_KEYS)) return Log(sim::Op::EnumKey, open->path, ERROR_ACCESS_DENIED);
    const Key& key = *open->key;
    if (key.deleted) return Log(sim::Op::EnumKey, open->path, ERROR_KEY_DELETED);
    if (index >= key.subkeys.size()) return Log(sim::Op::EnumKey, open->path, ERROR_NO_MORE_ITEMS);
    const std::wstring& found = key.subkeys[index]->name;
    // Too small a buffer: nothing is written, neither the name nor its length.
    if (found.size() >= *nameLength) return Log(sim::Op::EnumKey, open->path, ERROR_MORE_DATA);
    std::copy(found.begin(), found.end(), name);
    name[found.size()] = L'\0';
    *nameLength = static_cast<DWORD>(found.size());
    if (lastWriteTime) *lastWriteTime = FILETIME{0, 0};
    return Log(sim::Op::EnumKey, open->path, ERROR_SUCCESS);
}

LONG WINAPI RegCloseKey(HKEY handle) {
    OtherProcessTurn();
    OpenKey* open = Lookup(handle);
    if (!open) return InvalidHandle(sim::Op::CloseKey);
    const std::wstring path = open->path;
    State().handles.erase(reinterpret_cast<std::uintptr_t>(handle));
    return Log(sim::Op::CloseKey, path, ERROR_SUCCESS);
}

// Deletes the very key the handle names, a link itself when it was opened as one. Windows
// answers STATUS_CANNOT_DELETE for a key with subkeys; Wine answers STATUS_ACCESS_DENIED.
NTSTATUS NTAPI NtDeleteKey(HANDLE handle) {
    OtherProcessTurn();
    OpenKey* open = Lookup(handle);
    if (!open) return InvalidHandle(sim::Op::NtDeleteKey, STATUS_INVALID_HANDLE);
    if (Runaway(sim::Op::NtDeleteKey, open->path)) return STATUS_NOT_IMPLEMENTED;
    LONG status;
    if (Injected(sim::Op::NtDeleteKey, open->path, status)) return Log(sim::Op::NtDeleteKey, open->path, status);
    Key& key = *open->key;
    if (!(open->access & DELETE)) return Log(sim::Op::NtDeleteKey, open->path, STATUS_ACCESS_DENIED);
    // Wine answers success for a key another handle already deleted.
    if (key.deleted) return Log(sim::Op::NtDeleteKey, open->path, STATUS_SUCCESS);
    if (!key.subkeys.empty()) return Log(sim::Op::NtDeleteKey, open->path, STATUS_CANNOT_DELETE);
    Remove(key);
    return Log(sim::Op::NtDeleteKey, open->path, STATUS_SUCCESS);
}

// A string value read whole and unexpanded, the only way the program reads one. The size counts
// bytes with the terminator, and answers what is needed when the buffer is too small.
// cppcheck-suppress constParameter ; the Windows signature
LONG WINAPI RegGetValueW(HKEY root, LPCWSTR subKey, LPCWSTR value, DWORD flags, LPDWORD type, PVOID data,
                         LPDWORD size) {
    OtherProcessTurn();
    const std::wstring path = (subKey ? subKey : L"") + std::wstring(L"\\") + (value ? value : L"");
    if (root != HKEY_LOCAL_MACHINE || !ValidPath(subKey) || !value)
        return Unmodelled(sim::Op::GetValue, path, "root, key or value name not modelled");
    if (flags != (RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND) || !data || !size)
        return Unmodelled(sim::Op::GetValue, path, "flags or buffers not modelled");
    LONG status;
    if (Injected(sim::Op::GetValue, path, status)) return Log(sim::Op::GetValue, path, status);
    std::shared_ptr<Key> key;
    status = Resolve(subKey, false, key);
    if (status != ERROR_SUCCESS) return Log(sim::Op::GetValue, path, status);
    if (key->denied & KEY_READ) return Log(sim::Op::GetValue, path, ERROR_ACCESS_DENIED);
    const auto found = key->values.find(FoldCase(value));
    if (found == key->values.end()) return Log(sim::Op::GetValue, path, ERROR_FILE_NOT_FOUND);
    const auto& [storedType, text] = found->second;
    if (type) *type = storedType;
    if (storedType != REG_SZ && storedType != REG_EXPAND_SZ) return Log(sim::Op::GetValue, path, ERROR_UNSUPPORTED_TYPE);
    const DWORD needed = static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
    const DWORD capacity = *size;
    *size = needed;
    if (needed > capacity) return Log(sim::Op::GetValue, path, ERROR_MORE_DATA);
    std::wmemcpy(static_cast<WCHAR*>(data), text.c_str(), text.size() + 1);
    return Log(sim::Op::GetValue, path, ERROR_SUCCESS);
}

int WINAPI lstrlenW(LPCWSTR text) { return text ? static_cast<int>(std::wcslen(text)) : 0; }

}  // extern "C"
