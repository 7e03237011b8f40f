// A registry under HKEY_LOCAL_MACHINE that answers the four calls the program makes the way
// Windows does: names compare case-insensitively, subkeys enumerate in sorted order, a key
// with subkeys cannot be deleted, a handle outlives the deletion of its key.
#include "sim_control.h"

#include <algorithm>
#include <cwctype>
#include <map>
#include <memory>
#include <tuple>

namespace {

constexpr std::size_t MaxKeyNameLength = 255;
// Far beyond any tree a test builds: a caller past it is looping, so every call fails from then on.
constexpr std::size_t CallBudget = 2'000'000;

struct Key {
    std::wstring name;
    std::vector<std::shared_ptr<Key>> subkeys;  // sorted by FoldCase(name)
    bool deleted = false;
};

struct OpenKey {
    std::shared_ptr<Key> key;
    std::wstring path;
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

// Walks to the key a path names; parent receives the key above it.
std::shared_ptr<Key> Find(const std::wstring& path, std::shared_ptr<Key>* parent = nullptr) {
    std::vector<std::wstring> names;
    if (!SplitPath(path, names)) return nullptr;
    auto key = State().root;
    for (const auto& name : names) {
        auto it = FindSubkey(*key, name);
        if (it == key->subkeys.end()) return nullptr;
        if (parent) *parent = key;
        key = *it;
    }
    return key;
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += (c < 0x80) ? static_cast<char>(c) : '?';
    return out;
}

LONG Log(sim::Op op, const std::wstring& path, LONG status) {
    State().calls.push_back({op, path, status});
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
LONG InvalidHandle(sim::Op op) {
    sim::ReportViolation("registry: handle not open");
    return Log(op, L"", ERROR_INVALID_HANDLE);
}

OpenKey* Lookup(HKEY handle) {
    auto it = State().handles.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == State().handles.end() ? nullptr : &it->second;
}

bool ValidPath(LPCWSTR path) {
    std::vector<std::wstring> names;
    return path != nullptr && SplitPath(path, names);
}

}  // namespace

namespace sim {

void ResetRegistry() { State() = Registry{}; }

bool CreateKey(const std::wstring& path) {
    std::vector<std::wstring> names;
    if (!SplitPath(path, names)) return false;
    auto key = State().root;
    for (const auto& name : names) {
        auto it = FindSubkey(*key, name);
        if (it == key->subkeys.end()) {
            auto child = std::make_shared<Key>();
            child->name = name;
            const auto folded = FoldCase(name);
            auto at = std::find_if(key->subkeys.begin(), key->subkeys.end(),
                                   [&](const auto& k) { return FoldCase(k->name) > folded; });
            it = key->subkeys.insert(at, child);
        }
        key = *it;
    }
    return true;
}

bool KeyExists(const std::wstring& path) { return Find(path) != nullptr; }

void FailCall(Op op, const std::wstring& path, LONG status) {
    State().faults[{op, FoldCase(path)}] = status;
}

const std::vector<RegistryCall>& RegistryCalls() { return State().calls; }

int OpenHandleCount() { return static_cast<int>(State().handles.size()); }

}  // namespace sim

extern "C" {

LONG WINAPI RegDeleteKeyW(HKEY root, LPCWSTR subKey) {
    const std::wstring path = subKey ? subKey : L"";
    if (Runaway(sim::Op::DeleteKey, path)) return ERROR_CALL_NOT_IMPLEMENTED;
    if (root != HKEY_LOCAL_MACHINE) return Unmodelled(sim::Op::DeleteKey, path, "root other than HKLM");
    if (!ValidPath(subKey)) return Unmodelled(sim::Op::DeleteKey, path, "empty or malformed path");
    LONG status;
    if (Injected(sim::Op::DeleteKey, path, status)) return Log(sim::Op::DeleteKey, path, status);
    std::shared_ptr<Key> parent;
    auto key = Find(path, &parent);
    if (!key) return Log(sim::Op::DeleteKey, path, ERROR_FILE_NOT_FOUND);
    if (!key->subkeys.empty()) return Log(sim::Op::DeleteKey, path, ERROR_ACCESS_DENIED);
    parent->subkeys.erase(FindSubkey(*parent, key->name));
    key->deleted = true;
    return Log(sim::Op::DeleteKey, path, ERROR_SUCCESS);
}

LONG WINAPI RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD options, REGSAM desired, PHKEY result) {
    const std::wstring path = subKey ? subKey : L"";
    if (Runaway(sim::Op::OpenKey, path)) return ERROR_CALL_NOT_IMPLEMENTED;
    if (root != HKEY_LOCAL_MACHINE) return Unmodelled(sim::Op::OpenKey, path, "root other than HKLM");
    if (options != 0 || desired != KEY_READ || result == nullptr)
        return Unmodelled(sim::Op::OpenKey, path, "options, access or result not modelled");
    if (!ValidPath(subKey)) return Unmodelled(sim::Op::OpenKey, path, "empty or malformed path");
    LONG status;
    if (Injected(sim::Op::OpenKey, path, status)) return Log(sim::Op::OpenKey, path, status);
    auto key = Find(path);
    if (!key) return Log(sim::Op::OpenKey, path, ERROR_FILE_NOT_FOUND);
    const auto handle = State().nextHandle++;
    State().handles[handle] = {key, path};
    *result = reinterpret_cast<HKEY>(handle);
    return Log(sim::Op::OpenKey, path, ERROR_SUCCESS);
}

LONG WINAPI RegEnumKeyExW(HKEY handle, DWORD index, LPWSTR name, LPDWORD nameLength,
                          LPDWORD reserved, LPWSTR className, LPDWORD classLength,
                          PFILETIME lastWriteTime) {
    OpenKey* open = Lookup(handle);
    if (!open) return InvalidHandle(sim::Op::EnumKey);
    if (Runaway(sim::Op::EnumKey, open->path)) return ERROR_CALL_NOT_IMPLEMENTED;
    if (!name || !nameLength || reserved || className || classLength)
        return Unmodelled(sim::Op::EnumKey, open->path, "arguments not modelled");
    LONG status;
    if (Injected(sim::Op::EnumKey, open->path, status)) return Log(sim::Op::EnumKey, open->path, status);
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
    OpenKey* open = Lookup(handle);
    if (!open) return InvalidHandle(sim::Op::CloseKey);
    const std::wstring path = open->path;
    State().handles.erase(reinterpret_cast<std::uintptr_t>(handle));
    return Log(sim::Op::CloseKey, path, ERROR_SUCCESS);
}

int WINAPI lstrlenW(LPCWSTR text) { return text ? static_cast<int>(std::wcslen(text)) : 0; }

}  // extern "C"
