// How the registry answers the calls the key-tree deletion makes. Built against the simulation
// and against the real registry alike: where the two disagree, the simulation is wrong.
#include "tests/platform/registry_seed.h"

#include "commands/machine_folders.h"
#include "commands/system_directory.h"
#include "platform.h"
#include "registry/delete_key_tree.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class RegistryBehaviour : public ::testing::Test {
protected:
    void SetUp() override { seed::BeginRegistryTest(); }
    void TearDown() override { seed::EndRegistryTest(); }

    static std::wstring Path(const std::wstring& relative) {
        return std::wstring(seed::ScratchKey) + L"\\" + relative;
    }

    static HKEY Open(const std::wstring& relative, DWORD options = 0, REGSAM access = KEY_READ) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path(relative).c_str(), options, access, &key),
                  ERROR_SUCCESS);
        return key;
    }

    // NtDeleteKey through the handle, which is then closed.
    static NTSTATUS DeleteAndClose(HKEY key) {
        const NTSTATUS status = NtDeleteKey(key);
        RegCloseKey(key);
        return status;
    }

    // NtDeleteKey through a handle that names the key itself, a link not followed.
    static NTSTATUS DeleteThroughHandle(const std::wstring& relative, REGSAM access = DELETE) {
        return DeleteAndClose(Open(relative, REG_OPTION_OPEN_LINK, access));
    }

    // The first subkey's name, or "status N" when the enumeration answers N.
    static std::wstring FirstSubkey(HKEY key) {
        WCHAR name[260];
        DWORD length = 260;
        const LONG status = EnumFirst(key, name, &length);
        return status == ERROR_SUCCESS ? std::wstring(name) : L"status " + std::to_wstring(status);
    }

    // The first subkey's name of the key opened for reading, which is then closed.
    static std::wstring FirstSubkeyOf(const std::wstring& relative, DWORD options = 0) {
        HKEY key = Open(relative, options);
        const std::wstring first = FirstSubkey(key);
        RegCloseKey(key);
        return first;
    }

    static LONG EnumFirst(HKEY key, WCHAR* name, DWORD* length) {
        FILETIME lastWrite;
        return RegEnumKeyExW(key, 0, name, length, nullptr, nullptr, nullptr, &lastWrite);
    }
};

TEST_F(RegistryBehaviour, DeleteRefusesKeyWithSubkeysAndLeavesItWhole) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Parent\\Child")));
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, Path(L"Parent").c_str()), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(seed::KeyExists(Path(L"Parent\\Child")));

    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, Path(L"Parent\\Child").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, Path(L"Parent").c_str()), ERROR_SUCCESS);
    EXPECT_FALSE(seed::KeyExists(Path(L"Parent")));
}

TEST_F(RegistryBehaviour, AbsentKeyIsNotFoundForDeleteAndOpen) {
    HKEY key = nullptr;
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, Path(L"Absent").c_str()), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path(L"Absent").c_str(), 0, KEY_READ, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, Path(L"Absent\\Below").c_str()), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryBehaviour, NamesCompareCaseInsensitively) {
    ASSERT_TRUE(seed::CreateKey(Path(L"MixedCase\\Leaf")));
    EXPECT_EQ(RegCloseKey(Open(L"mIXEDcASE\\LEAF")), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, Path(L"MIXEDCASE\\leaf").c_str()), ERROR_SUCCESS);
    EXPECT_FALSE(seed::KeyExists(Path(L"MixedCase\\Leaf")));
}

TEST_F(RegistryBehaviour, TrailingBackslashNamesTheSameKey) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Slash\\Leaf")));
    EXPECT_EQ(FirstSubkeyOf(L"Slash\\"), L"Leaf");
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, Path(L"Slash\\Leaf\\").c_str()), ERROR_SUCCESS);
    EXPECT_FALSE(seed::KeyExists(Path(L"Slash\\Leaf")));
}

TEST_F(RegistryBehaviour, EnumerationListsSubkeysInCaseInsensitiveOrderWithStoredCase) {
    for (const wchar_t* name : {L"Keys\\bravo", L"Keys\\Charlie", L"Keys\\ALPHA"})
        ASSERT_TRUE(seed::CreateKey(Path(name)));
    HKEY key = Open(L"Keys");
    std::wstring seen;
    FILETIME lastWrite;
    for (DWORD index = 0;; ++index) {
        WCHAR name[260];
        DWORD length = 260;
        const LONG status = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, &lastWrite);
        if (status == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(status, ERROR_SUCCESS);
        EXPECT_EQ(length, std::wstring(name).size()) << "length excludes the terminator";
        seen += std::wstring(name) + L";";
    }
    EXPECT_EQ(seen, L"ALPHA;bravo;Charlie;");
    RegCloseKey(key);
}

TEST_F(RegistryBehaviour, EnumerationOfKeyWithoutSubkeysHasNoItems) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Lonely")));
    EXPECT_EQ(FirstSubkeyOf(L"Lonely"), L"status 259");  // ERROR_NO_MORE_ITEMS
}

TEST_F(RegistryBehaviour, NameThatDoesNotFitGivesMoreData) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Tight\\FIVE5")));
    HKEY key = Open(L"Tight");
    WCHAR name[8];
    // The name fits only with one slot more for its terminator. The buffer and the length are
    // left undefined by an error, and the deletion reads neither then.
    DWORD length = 5;
    EXPECT_EQ(EnumFirst(key, name, &length), ERROR_MORE_DATA);

    length = 6;
    EXPECT_EQ(EnumFirst(key, name, &length), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name), L"FIVE5");
    EXPECT_EQ(length, 5u);
    RegCloseKey(key);
}

// Through a handle whose key is gone, nothing is listed and nothing below it is opened.
TEST_F(RegistryBehaviour, HandleOutlivesItsDeletedKey) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Doomed")));
    HKEY key = Open(L"Doomed", REG_OPTION_OPEN_LINK, DELETE | KEY_READ);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, Path(L"Doomed").c_str()), ERROR_SUCCESS);
    EXPECT_EQ(FirstSubkey(key), L"status 1018");
    ASSERT_TRUE(seed::CreateKey(Path(L"Doomed\\Child")));  // a new key under the old name
    HKEY child = nullptr;
    EXPECT_EQ(RegOpenKeyExW(key, L"Child", REG_OPTION_OPEN_LINK, KEY_READ, &child), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

// What keeps a deletion inside its tree while another process renames and links above it: a
// handle stays on its key through a rename of the key itself or of an ancestor, and lists,
// opens below itself and deletes there; the link now standing at the old name is not touched.
TEST_F(RegistryBehaviour, HandleStaysOnItsKeyThroughARenameOfItselfOrAnAncestor) {
    for (const std::wstring renamed : {L"Top\\Held", L"Top"}) {
        SCOPED_TRACE(testing::Message() << "renamed " << testing::PrintToString(renamed));
        seed::EndRegistryTest();  // a fresh scratch key for each pass
        seed::BeginRegistryTest();
        ASSERT_TRUE(seed::CreateKey(Path(L"Top\\Held\\Below\\Deepest")));
        ASSERT_TRUE(seed::CreateKey(Path(L"Target\\Below")));
        HKEY held = Open(L"Top\\Held", REG_OPTION_OPEN_LINK, DELETE | KEY_READ);
        ASSERT_TRUE(seed::RenameKey(Path(renamed), L"Renamed"));
        ASSERT_TRUE(seed::CreateLink(Path(renamed), Path(L"Target")));
        EXPECT_EQ(FirstSubkey(held), L"Below");
        HKEY below = nullptr, deepest = nullptr;
        ASSERT_EQ(RegOpenKeyExW(held, L"Below", REG_OPTION_OPEN_LINK, DELETE | KEY_READ, &below), ERROR_SUCCESS);
        EXPECT_EQ(FirstSubkey(below), L"Deepest");
        ASSERT_EQ(RegOpenKeyExW(below, L"Deepest", REG_OPTION_OPEN_LINK, DELETE | KEY_READ, &deepest), ERROR_SUCCESS);
        EXPECT_EQ(DeleteAndClose(deepest), STATUS_SUCCESS);
        EXPECT_EQ(DeleteAndClose(below), STATUS_SUCCESS);
        EXPECT_EQ(FirstSubkey(held), L"status 259");
        EXPECT_EQ(DeleteAndClose(held), STATUS_SUCCESS);
        EXPECT_FALSE(seed::KeyExists(Path(renamed == L"Top" ? L"Renamed\\Held" : L"Top\\Renamed")));
        EXPECT_TRUE(seed::KeyExists(Path(renamed)));
        EXPECT_TRUE(seed::KeyExists(Path(L"Target\\Below")));
    }
}

TEST_F(RegistryBehaviour, RelativeOpenAsALinkOfANameThatIsNowALinkOpensTheLink) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Parent")));
    ASSERT_TRUE(seed::CreateKey(Path(L"Target\\Child")));
    HKEY parent = Open(L"Parent", REG_OPTION_OPEN_LINK, DELETE | KEY_READ);
    ASSERT_TRUE(seed::CreateLink(Path(L"Parent\\Name"), Path(L"Target")));
    HKEY link = nullptr;
    ASSERT_EQ(RegOpenKeyExW(parent, L"Name", REG_OPTION_OPEN_LINK, DELETE | KEY_READ, &link), ERROR_SUCCESS);
    EXPECT_EQ(FirstSubkey(link), L"status 259");
    EXPECT_EQ(DeleteAndClose(link), STATUS_SUCCESS);
    EXPECT_EQ(DeleteAndClose(parent), STATUS_SUCCESS);
    EXPECT_TRUE(seed::KeyExists(Path(L"Target\\Child")));
}

// Windows allows names of 255 characters (Wine one more): each is listed whole in the
// deletion's name buffer and opened by that name relative to its parent.
TEST_F(RegistryBehaviour, KeyNamesUpTo255CharactersMakePathsLongerThan519) {
    const std::wstring longName(255, L'n');
    const std::wstring deep = longName + L"\\" + longName + L"\\" + longName;
    ASSERT_TRUE(seed::CreateKey(Path(deep)));
    EXPECT_GT(Path(deep).size(), 519u);
    EXPECT_EQ(RegCloseKey(Open(deep)), ERROR_SUCCESS);
    HKEY parent = Open(longName + L"\\" + longName, REG_OPTION_OPEN_LINK, DELETE | KEY_READ);
    WCHAR name[SubkeyNameCapacity];
    DWORD length = SubkeyNameCapacity;
    EXPECT_EQ(EnumFirst(parent, name, &length), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name), longName);
    HKEY child = nullptr;
    EXPECT_EQ(RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, DELETE | KEY_READ, &child), ERROR_SUCCESS);
    EXPECT_EQ(DeleteAndClose(child), STATUS_SUCCESS);
    RegCloseKey(parent);
    EXPECT_FALSE(seed::KeyExists(Path(deep)));
}

// A key's own security refusing one right refuses the deletion's combined open, and grants the
// other right alone: reading lists and empties a key that refuses DELETE (a link opened as a
// link lists nothing), and DELETE alone deletes a leaf that refuses reading. Whether the refused
// right is granted alone is not pinned: Wine grants DELETE to a key's owner whatever its DACL
// says, and Windows does not.
TEST_F(RegistryBehaviour, KeySecurityRefusesTheCombinedOpenAndGrantsTheOtherRightAlone) {
    struct Row {
        const wchar_t* key;
        bool link;
        REGSAM denied;
        const wchar_t* listed;  // what reading lists first; null where reading is refused
    };
    const Row rows[] = {
        {L"NoDelete", false, DELETE, L"Child"},
        {L"NoRead", false, KEY_READ, nullptr},
        {L"LinkNoDelete", true, DELETE, L"status 259"},
    };
    ASSERT_TRUE(seed::CreateKey(Path(L"Target\\Child")));
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "key " << testing::PrintToString(std::wstring(row.key)));
        const std::wstring name = row.key;
        ASSERT_TRUE(row.link ? seed::CreateLink(Path(name), Path(L"Target"))
                             : seed::CreateKey(Path(row.listed ? name + L"\\Child" : name)));
        ASSERT_TRUE(seed::DenyAccess(Path(name), row.denied));
        HKEY scratch = Open(L"", 0, KEY_READ);
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(scratch, name.c_str(), REG_OPTION_OPEN_LINK, DELETE | KEY_READ, &key),
                  ERROR_ACCESS_DENIED);
        const REGSAM granted = row.denied == DELETE ? KEY_READ : DELETE;
        ASSERT_EQ(RegOpenKeyExW(scratch, name.c_str(), REG_OPTION_OPEN_LINK, granted, &key), ERROR_SUCCESS);
        RegCloseKey(scratch);
        if (granted == DELETE) {
            EXPECT_EQ(NtDeleteKey(key), STATUS_SUCCESS);
            EXPECT_FALSE(seed::KeyExists(Path(name)));
        } else {
            EXPECT_EQ(FirstSubkey(key), row.listed);
            HKEY child = nullptr;
            if (!row.link && RegOpenKeyExW(key, L"Child", REG_OPTION_OPEN_LINK, DELETE | KEY_READ, &child) == ERROR_SUCCESS) {
                EXPECT_EQ(DeleteAndClose(child), STATUS_SUCCESS);
            }
            EXPECT_EQ(FirstSubkey(key), L"status 259");
            EXPECT_TRUE(seed::KeyExists(Path(name)));
        }
        RegCloseKey(key);
        EXPECT_TRUE(seed::KeyExists(Path(L"Target\\Child")));
    }
}

TEST_F(RegistryBehaviour, OpenLinkOptionOnAnOrdinaryKeyIsAnOrdinaryOpen) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Plain\\Child")));
    EXPECT_EQ(FirstSubkeyOf(L"Plain", REG_OPTION_OPEN_LINK), L"Child");
}

TEST_F(RegistryBehaviour, LinkOpenedAsALinkEnumeratesNothingAndOpenedPlainlyItsTarget) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Target\\Child")));
    ASSERT_TRUE(seed::CreateLink(Path(L"Link"), Path(L"Target")));
    EXPECT_EQ(FirstSubkeyOf(L"Link", REG_OPTION_OPEN_LINK), L"status 259");
    EXPECT_EQ(FirstSubkeyOf(L"Link"), L"Child");
}

TEST_F(RegistryBehaviour, LinkInTheMiddleOfAPathIsFollowedEvenWithOpenLink) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Target\\Child\\Grandchild")));
    ASSERT_TRUE(seed::CreateLink(Path(L"Link"), Path(L"Target")));
    EXPECT_EQ(FirstSubkeyOf(L"Link\\Child", REG_OPTION_OPEN_LINK), L"Grandchild");
}

TEST_F(RegistryBehaviour, RegDeleteKeyOnALinkDeletesTheTargetAndLeavesTheLink) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Target")));
    ASSERT_TRUE(seed::CreateLink(Path(L"Link"), Path(L"Target")));
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, Path(L"Link").c_str()), ERROR_SUCCESS);
    EXPECT_FALSE(seed::KeyExists(Path(L"Target")));
    EXPECT_TRUE(seed::KeyExists(Path(L"Link")));
}

TEST_F(RegistryBehaviour, NtDeleteKeyOnALinkOpenedAsALinkDeletesOnlyTheLink) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Target\\Child")));
    ASSERT_TRUE(seed::CreateLink(Path(L"Link"), Path(L"Target")));
    EXPECT_EQ(DeleteThroughHandle(L"Link"), STATUS_SUCCESS);
    EXPECT_FALSE(seed::KeyExists(Path(L"Link")));
    EXPECT_TRUE(seed::KeyExists(Path(L"Target\\Child")));
}

// Windows documents STATUS_CANNOT_DELETE here; Wine answers STATUS_ACCESS_DENIED. Either is a
// failure, which is all the deletion relies on.
TEST_F(RegistryBehaviour, NtDeleteKeyRefusesAKeyWithSubkeys) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Parent\\Child")));
    EXPECT_NE(DeleteThroughHandle(L"Parent"), STATUS_SUCCESS);
    EXPECT_TRUE(seed::KeyExists(Path(L"Parent\\Child")));
}

TEST_F(RegistryBehaviour, NtDeleteKeyNeedsDeleteAccessOnTheHandle) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Leaf")));
    EXPECT_NE(DeleteThroughHandle(L"Leaf", KEY_READ), STATUS_SUCCESS);
    EXPECT_TRUE(seed::KeyExists(Path(L"Leaf")));
}

// Followed, Wine answers ERROR_INVALID_PARAMETER; what Windows answers is not pinned here.
TEST_F(RegistryBehaviour, LinkToItselfCannotBeFollowedButOpensAsALink) {
    ASSERT_TRUE(seed::CreateLink(Path(L"Loop"), Path(L"Loop")));
    HKEY key = nullptr;
    const LONG followed = RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path(L"Loop").c_str(), 0, KEY_READ, &key);
    EXPECT_NE(followed, ERROR_SUCCESS);
    if (followed == ERROR_SUCCESS) RegCloseKey(key);
    EXPECT_EQ(FirstSubkeyOf(L"Loop", REG_OPTION_OPEN_LINK), L"status 259");
}

// How the program reads the machine's folders: a string value whole and unexpanded, its size in
// bytes with the terminator, and what a larger buffer would need.
TEST_F(RegistryBehaviour, StringValuesAreReadWholeAndUnexpandedAndOthersRefused) {
    const std::wstring key = Path(L"Values");
    ASSERT_TRUE(seed::SetValue(key, L"Plain", REG_SZ, L"C:\\Program Files"));
    ASSERT_TRUE(seed::SetValue(key, L"Expand", REG_EXPAND_SZ, L"%SystemDrive%\\ProgramData"));
    ASSERT_TRUE(seed::SetValue(key, L"Number", REG_DWORD, L""));
    const auto read = [&](const std::wstring& path, const wchar_t* name, DWORD capacity) {
        WCHAR data[64] = L"untouched";
        DWORD size = capacity * sizeof(WCHAR);
        const LONG status = RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), name,
                                         RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, data, &size);
        // The size is defined after success and ERROR_MORE_DATA only.
        const std::wstring sized = L", " + std::to_wstring(size / sizeof(WCHAR)) + L" characters";
        if (status == ERROR_SUCCESS) return data + sized;
        return L"status " + std::to_wstring(status) + (status == ERROR_MORE_DATA ? sized : L"");
    };
    EXPECT_EQ(read(key, L"plain", 64), L"C:\\Program Files, 17 characters");
    EXPECT_EQ(read(key, L"Expand", 64), L"%SystemDrive%\\ProgramData, 26 characters");
    EXPECT_EQ(read(key, L"Plain", 4), L"status 234, 17 characters");
    EXPECT_EQ(read(key, L"Absent", 64), L"status 2");
    EXPECT_EQ(read(Path(L"NoSuchKey"), L"Plain", 64), L"status 2");
    EXPECT_EQ(read(key, L"Number", 64), L"status 1630");
}

// What the run relies on from the machine rather than the registry alone.
class PlatformBehaviour : public RegistryBehaviour {};

// Windows keeps ProgramData as %SystemDrive%\ProgramData and gives a new process the expanded
// folder: the run's own reading of the machine's folders must equal what the process was given,
// or the installer would never run anywhere.
TEST_F(PlatformBehaviour, OwnReadingOfTheMachineFoldersEqualsTheNewProcessEnvironment) {
    for (const auto& [name, folder] : {std::pair{"ProgramFiles", MachineFolder::ProgramFiles},
                                       std::pair{"ProgramData", MachineFolder::ProgramData}}) {
        char* value = nullptr;
        size_t size = 0;
        ASSERT_EQ(_dupenv_s(&value, &size, name), 0);
        ASSERT_NE(value, nullptr) << name << " is not set";
        EXPECT_TRUE(IsMachineFolder(value, folder)) << name << "=" << value;
        free(value);
    }
}

TEST_F(PlatformBehaviour, ProgramStartedWithoutADirectoryBeginsInTheCurrentOne) {
    ASSERT_TRUE(EnterSystemDirectory());
    WCHAR system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring started = seed::StartedProgramDirectory();
    EXPECT_EQ(CompareStringOrdinal(started.c_str(), -1, system, -1, TRUE), CSTR_EQUAL)
        << testing::PrintToString(started);
}

}  // namespace
