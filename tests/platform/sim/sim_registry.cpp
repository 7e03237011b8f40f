// A registry under HKEY_LOCAL_MACHINE that answers the calls the program makes the way Windows
// does: names compare case-insensitively, subkeys enumerate in sorted order, a key with
// subkeys cannot be deleted, a handle stays on its key through a rename and outlives its
// deletion, a path may be opened relative to an open handle, and a symbolic link is followed
// wherever it stands in a path, except at the end of a path opened with REG_OPTION_OPEN_LINK.
#include "sim_control.h"

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <map>
#include <memory>
#include <optional>

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
    std::map<std::wstring, std::shared_ptr<Key>> subkeys;  // by FoldCase(name), so in enumeration order
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

std::wstring FoldCase(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c))); });
    return text;
}

struct Registry {
    std::shared_ptr<Key> root = std::make_shared<Key>();
    std::map<std::uintptr_t, OpenKey> handles;
    std::uintptr_t nextHandle = 0x1000;
    std::map<std::pair<sim::Op, std::wstring>, LONG> faults;
    std::vector<sim::RegistryCall> calls;
    std::function<void()> otherProcess;
    bool otherProcessRunning = false;
};

Registry& State() { static Registry registry; return registry; }

std::shared_ptr<Key> FindSubkey(const Key& parent, const std::wstring& name) {
    const auto it = parent.subkeys.find(FoldCase(name));
    return it == parent.subkeys.end() ? nullptr : it->second;
}

std::shared_ptr<Key> AddSubkey(Key& parent, const std::wstring& name) {
    auto child = std::make_shared<Key>(Key{name, &parent});
    parent.subkeys[FoldCase(name)] = child;
    return child;
}

bool ValidName(const std::wstring& name) {
    return !name.empty() && name.size() <= MaxKeyNameLength && name.find(L'\\') == std::wstring::npos;
}

// Splits a path into names; one trailing backslash is accepted, as Windows does.
bool SplitPath(std::wstring path, std::vector<std::wstring>& names) {
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    names.clear();
    for (std::size_t start = 0; start <= path.size(); start += names.back().size() + 1) {
        names.push_back(path.substr(start, path.find(L'\\', start) - start));
        if (!ValidName(names.back())) return false;
    }
    return true;
}

// Walks from key to the key a path names, following every link on the way and the last one
// too unless openLink; a link's target is absolute. With create, missing keys are made.
// Answers a Win32 status.
LONG Walk(std::shared_ptr<Key> key, const std::wstring& path, bool openLink, bool create,
          std::shared_ptr<Key>& found, int& follows) {
    std::vector<std::wstring> names;
    if (!SplitPath(path, names)) return ERROR_INVALID_PARAMETER;
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto next = FindSubkey(*key, names[i]);
        if (!next && !create) return ERROR_FILE_NOT_FOUND;
        if (!next) next = AddSubkey(*key, names[i]);
        if (next->link && !(openLink && i + 1 == names.size())) {
            if (++follows > MaxLinkFollows) return ERROR_INVALID_PARAMETER;
            const LONG status = Walk(State().root, next->target, false, false, next, follows);
            if (status != ERROR_SUCCESS) return status;
        }
        key = next;
    }
    found = key;
    return ERROR_SUCCESS;
}

// From HKEY_LOCAL_MACHINE unless from another key.
LONG Resolve(const std::wstring& path, bool openLink, std::shared_ptr<Key>& found, bool create = false,
             const std::shared_ptr<Key>& from = nullptr) {
    int follows = 0;
    return Walk(from ? from : State().root, path, openLink, create, found, follows);
}

// For the arrangement, which needs no status: the key, or null.
std::shared_ptr<Key> Find(const std::wstring& path, bool openLink, bool create = false) {
    std::shared_ptr<Key> key;
    return Resolve(path, openLink, key, create) == ERROR_SUCCESS ? key : nullptr;
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

std::optional<LONG> Injected(sim::Op op, const std::wstring& path) {
    const auto it = State().faults.find({op, FoldCase(path)});
    return it == State().faults.end() ? std::nullopt : std::optional<LONG>(it->second);
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
    for (const auto& child : key.subkeys) MarkDeleted(*child.second);
}

// Takes the key, and whatever is below it, out of the registry; open handles keep them.
void Remove(Key& key) {
    key.parent->subkeys.erase(FoldCase(key.name));
    MarkDeleted(key);
}

void List(const Key& key, std::vector<std::wstring>& lines) {
    for (const auto& entry : key.subkeys) {
        const Key& child = *entry.second;
        lines.push_back(child.link ? PathOf(child) + L" -> " + child.target : PathOf(child));
        List(child, lines);
    }
}

}  // namespace

namespace sim {

void ResetRegistry() { State() = Registry{}; }

bool CreateKey(const std::wstring& path) { return Find(path, false, true) != nullptr; }

bool CreateLink(const std::wstring& path, const std::wstring& target) {  // NOLINT(bugprone-easily-swappable-parameters): both are key paths, link first as in sim_control.h
    const auto cut = path.rfind(L'\\');
    const auto parent = cut == std::wstring::npos ? State().root : Find(path.substr(0, cut), false, true);
    const std::wstring name = cut == std::wstring::npos ? path : path.substr(cut + 1);
    if (!parent || !ValidName(name) || FindSubkey(*parent, name)) return false;
    auto link = AddSubkey(*parent, name);
    link->link = true;
    link->target = target;
    return true;
}

bool KeyExists(const std::wstring& path) { return Find(path, true) != nullptr; }

std::vector<std::wstring> KeyListing() {
    std::vector<std::wstring> lines;
    List(*State().root, lines);
    return lines;
}

// The same key under a new name, as RegRenameKey does: open handles stay on it.
bool RenameKey(const std::wstring& path, const std::wstring& newName) {  // NOLINT(bugprone-easily-swappable-parameters): RegRenameKey's order, key then new name
    const auto key = Find(path, true);
    if (!key || key == State().root || !ValidName(newName) || FindSubkey(*key->parent, newName)) return false;
    key->parent->subkeys.erase(FoldCase(key->name));
    key->name = newName;
    key->parent->subkeys[FoldCase(newName)] = key;
    return true;
}

bool DeleteTree(const std::wstring& path) {
    const auto key = Find(path, true);
    if (!key || key == State().root) return false;
    Remove(*key);
    return true;
}

bool SetValue(const std::wstring& path, const std::wstring& name, DWORD type, const std::wstring& data) {  // NOLINT(bugprone-easily-swappable-parameters): key, then value name, as RegSetKeyValueW
    const auto key = Find(path, false, true);
    if (key) key->values[FoldCase(name)] = {type, data};
    return key != nullptr;
}

void SetOtherProcess(std::function<void()> turn) { State().otherProcess = std::move(turn); }

void DenyAccess(const std::wstring& path, REGSAM access) {
    if (const auto key = Find(path, true)) key->denied = access;
    else ReportViolation("registry: DenyAccess on a missing key (" + Narrow(path) + ")");
}

void FailCall(Op op, const std::wstring& path, LONG status) { State().faults[{op, FoldCase(path)}] = status; }
const std::vector<RegistryCall>& RegistryCalls() { return State().calls; }
int OpenHandleCount() { return static_cast<int>(State().handles.size()); }

}  // namespace sim

extern "C" {

char SimLocalMachine;

// As on Windows: an open of the key for DELETE, a delete and a close, with a link followed.
// cppcheck-suppress constParameter ; the Windows signature
LONG WINAPI RegDeleteKeyW(HKEY root, LPCWSTR subKey) {
    OtherProcessTurn();
    const std::wstring path = subKey ? subKey : L"";
    if (Runaway(sim::Op::DeleteKey, path)) return ERROR_CALL_NOT_IMPLEMENTED;
    if (root != HKEY_LOCAL_MACHINE) return Unmodelled(sim::Op::DeleteKey, path, "root other than HKLM");
    if (!ValidPath(subKey)) return Unmodelled(sim::Op::DeleteKey, path, "empty or malformed path");
    if (const auto injected = Injected(sim::Op::DeleteKey, path)) return Log(sim::Op::DeleteKey, path, *injected);
    std::shared_ptr<Key> key;
    LONG status = Resolve(path, false, key);
    if (status == ERROR_SUCCESS && ((key->denied & DELETE) || !key->subkeys.empty())) status = ERROR_ACCESS_DENIED;
    if (status == ERROR_SUCCESS) Remove(*key);
    return Log(sim::Op::DeleteKey, path, status);
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
    if (const auto injected = Injected(sim::Op::OpenKey, path))
        return Log(sim::Op::OpenKey, path, *injected, options, desired);
    std::shared_ptr<Key> key;
    LONG status = ERROR_KEY_DELETED;
    if (!base || !base->key->deleted)
        status = Resolve(name, options == REG_OPTION_OPEN_LINK, key, false, base ? base->key : nullptr);
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
    if (const auto injected = Injected(sim::Op::EnumKey, open->path))
        return Log(sim::Op::EnumKey, open->path, *injected);
    if (!(open->access & KEY_ENUMERATE_SUB_KEYS)) return Log(sim::Op::EnumKey, open->path, ERROR_ACCESS_DENIED);
    const Key& key = *open->key;
    if (key.deleted) return Log(sim::Op::EnumKey, open->path, ERROR_KEY_DELETED);
    if (index >= key.subkeys.size()) return Log(sim::Op::EnumKey, open->path, ERROR_NO_MORE_ITEMS);
    const std::wstring& found = std::next(key.subkeys.begin(), index)->second->name;
    // Too small a buffer: nothing is written, neither the name nor its length.
    if (found.size() >= *nameLength) return Log(sim::Op::EnumKey, open->path, ERROR_MORE_DATA);
    std::wmemcpy(name, found.c_str(), found.size() + 1);
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
    if (const auto injected = Injected(sim::Op::NtDeleteKey, open->path))
        return Log(sim::Op::NtDeleteKey, open->path, *injected);
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
    if (const auto injected = Injected(sim::Op::GetValue, path)) return Log(sim::Op::GetValue, path, *injected);
    std::shared_ptr<Key> key;
    const LONG status = Resolve(subKey, false, key);
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
