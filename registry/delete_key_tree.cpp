#include "registry/delete_key_tree.h"

namespace {

// Deletes the key the path names, never what it links to: RegDeleteKeyW would follow a link
// at the end of the path and delete its target, so the key is opened as a link and deleted
// through that handle.
bool DeleteKeyItself(HKEY root, LPCWSTR keyPath) {
    HKEY key;
    if (RegOpenKeyExW(root, keyPath, REG_OPTION_OPEN_LINK, DELETE, &key) != ERROR_SUCCESS) return false;
    const bool deleted = NtDeleteKey(key) == STATUS_SUCCESS;
    RegCloseKey(key);
    return deleted;
}

}  // namespace

int DeleteKeyTree(LPCWSTR keyPath) {
    // A path that leaves no room for the separator below it could not be descended into.
    if (lstrlenW(keyPath) >= KeyPathCapacity - 1) return 0;
    WCHAR path[KeyPathCapacity];
    wcscpy_s(path, KeyPathCapacity, keyPath);
    return DeleteKeyTreeRecurse(HKEY_LOCAL_MACHINE, path);
}

int DeleteKeyTreeRecurse(HKEY root, LPWSTR keyPath) {
    if (DeleteKeyItself(root, keyPath)) return 1;

    // Opened as a link, a link has no subkeys: the descent never enters what one points to.
    HKEY key;
    const LONG opened = RegOpenKeyExW(root, keyPath, REG_OPTION_OPEN_LINK, KEY_READ, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return 1;
    if (opened != ERROR_SUCCESS) {
        printf("Error opening key.\n");
        return 0;
    }

    int mark = lstrlenW(keyPath);
    if (mark == 0 || keyPath[mark - 1] != L'\\') {
        // The separator and its new terminator need two free slots.
        if (mark + 2 > KeyPathCapacity) {
            RegCloseKey(key);
            return 0;
        }
        keyPath[mark++] = L'\\';
        keyPath[mark] = L'\0';
    }

    for (;;) {
        WCHAR name[SubkeyNameCapacity];
        DWORD nameLength = SubkeyNameCapacity;
        FILETIME lastWrite;
        if (RegEnumKeyExW(key, 0, name, &nameLength, nullptr, nullptr, nullptr, &lastWrite) !=
            ERROR_SUCCESS)
            break;
        // The previous child is still named at the mark: listed again, it was not deleted.
        if (wcscmp(name, keyPath + mark) == 0) break;
        // A child whose full path would not fit is left whole rather than worked on cut.
        if (mark + lstrlenW(name) >= KeyPathCapacity) break;
        keyPath[mark] = L'\0';
        wcsncat_s(keyPath, KeyPathCapacity, name, SubkeyNameCapacity);
        if (DeleteKeyTreeRecurse(root, keyPath) == 0) break;
    }

    keyPath[mark - 1] = L'\0';
    RegCloseKey(key);
    return DeleteKeyItself(root, keyPath) ? 1 : 0;
}
