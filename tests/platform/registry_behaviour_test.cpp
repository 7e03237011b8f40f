// How the registry answers the calls the key-tree deletion makes. Built against the simulation
// and against the real registry alike: where the two disagree, the simulation is wrong.
#include "tests/platform/registry_seed.h"

#include "platform.h"

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

    static HKEY Open(const std::wstring& relative) {
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, Path(relative).c_str(), 0, KEY_READ, &key),
                  ERROR_SUCCESS);
        return key;
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
    HKEY key = Open(L"mIXEDcASE\\LEAF");
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, Path(L"MIXEDCASE\\leaf").c_str()), ERROR_SUCCESS);
    EXPECT_FALSE(seed::KeyExists(Path(L"MixedCase\\Leaf")));
}

TEST_F(RegistryBehaviour, TrailingBackslashNamesTheSameKey) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Slash\\Leaf")));
    HKEY key = Open(L"Slash\\");
    WCHAR name[260];
    DWORD length = 260;
    EXPECT_EQ(EnumFirst(key, name, &length), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name), L"Leaf");
    RegCloseKey(key);

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
    HKEY key = Open(L"Lonely");
    WCHAR name[260] = L"untouched";
    DWORD length = 260;
    EXPECT_EQ(EnumFirst(key, name, &length), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(std::wstring(name), L"untouched");
    RegCloseKey(key);
}

TEST_F(RegistryBehaviour, NameThatDoesNotFitGivesMoreDataAndWritesNothing) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Tight\\FIVE5")));
    HKEY key = Open(L"Tight");
    WCHAR name[8] = L"xxxxxxx";
    DWORD length = 5;  // the name fits only with one slot more for its terminator
    EXPECT_EQ(EnumFirst(key, name, &length), ERROR_MORE_DATA);
    EXPECT_EQ(std::wstring(name), L"xxxxxxx");
    EXPECT_EQ(length, 5u);

    length = 6;
    EXPECT_EQ(EnumFirst(key, name, &length), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name), L"FIVE5");
    EXPECT_EQ(length, 5u);
    RegCloseKey(key);
}

TEST_F(RegistryBehaviour, HandleOutlivesItsDeletedKey) {
    ASSERT_TRUE(seed::CreateKey(Path(L"Doomed")));
    HKEY key = Open(L"Doomed");
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, Path(L"Doomed").c_str()), ERROR_SUCCESS);
    WCHAR name[260];
    DWORD length = 260;
    EXPECT_EQ(EnumFirst(key, name, &length), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryBehaviour, KeyNamesUpTo255CharactersMakePathsLongerThan519) {
    const std::wstring longName(255, L'n');
    const std::wstring deep = longName + L"\\" + longName + L"\\" + longName;
    ASSERT_TRUE(seed::CreateKey(Path(deep)));
    EXPECT_GT(Path(deep).size(), 519u);
    HKEY key = Open(deep);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, Path(deep).c_str()), ERROR_SUCCESS);
}

}  // namespace
