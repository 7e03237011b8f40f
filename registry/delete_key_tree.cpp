#include "registry/delete_key_tree.h"

namespace {

bool DeletedThrough(HKEY key) { return key != nullptr && NtDeleteKey(key) == STATUS_SUCCESS; }

// Always the key itself: a link at the end is opened as the link, never followed. Relative to
// a handle, that handle stays on its key whatever is renamed or linked above it afterwards.
LONG OpenItself(HKEY parent, LPCWSTR name, REGSAM access, HKEY* key) {
    const LONG status = RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access, key);
    if (status != ERROR_SUCCESS) *key = nullptr;
    return status;
}

void CloseIfOpen(HKEY key) {
    if (key != nullptr) RegCloseKey(key);
}

// Deletes the subkeys of the open key, always the first one listed, until none is left or one
// stays.
void DeleteSubkeys(HKEY key) {
    WCHAR previous[SubkeyNameCapacity] = L"";
    for (;;) {
        WCHAR name[SubkeyNameCapacity];
        DWORD nameLength = SubkeyNameCapacity;
        FILETIME lastWrite;
        if (RegEnumKeyExW(key, 0, name, &nameLength, nullptr, nullptr, nullptr, &lastWrite) != ERROR_SUCCESS)
            return;
        // Listed again right after it was deleted: it will not go, or another process put it there.
        if (wcscmp(name, previous) == 0) return;
        if (DeleteKeyTreeRecurse(key, name) == 0) return;
        wcscpy_s(previous, SubkeyNameCapacity, name);
    }
}

// When one handle for both is refused: DELETE alone deletes a key without subkeys, and reading
// alone empties one that may not be deleted itself.
int DeleteThroughSeparateHandles(HKEY parent, LPCWSTR name) {
    HKEY deleter;
    if (OpenItself(parent, name, DELETE, &deleter) == ERROR_FILE_NOT_FOUND) return 1;
    bool deleted = DeletedThrough(deleter);
    if (!deleted) {
        HKEY reader;
        const LONG opened = OpenItself(parent, name, KEY_READ, &reader);
        if (opened == ERROR_SUCCESS) {
            DeleteSubkeys(reader);
            RegCloseKey(reader);
            deleted = DeletedThrough(deleter);
        } else if (opened == ERROR_FILE_NOT_FOUND) {
            deleted = true;
        } else {
            printf("Error opening key.\n");
        }
    }
    CloseIfOpen(deleter);
    return deleted ? 1 : 0;
}

}  // namespace

int DeleteKeyTree(LPCWSTR keyPath) { return DeleteKeyTreeRecurse(HKEY_LOCAL_MACHINE, keyPath); }

int DeleteKeyTreeRecurse(HKEY parent, LPCWSTR name) {
    HKEY key;
    const LONG opened = OpenItself(parent, name, DELETE | KEY_READ, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return 1;
    if (opened != ERROR_SUCCESS) return DeleteThroughSeparateHandles(parent, name);
    bool deleted = DeletedThrough(key);
    if (!deleted) {
        DeleteSubkeys(key);
        deleted = DeletedThrough(key);
    }
    RegCloseKey(key);
    return deleted ? 1 : 0;
}
