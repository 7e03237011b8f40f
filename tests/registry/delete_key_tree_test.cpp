#include "registry/delete_key_tree.h"

#include "tests/support/captured_stdout.h"
#include "tests/support/sim_fixture.h"

#include <cstdio>
#include <string>

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const std::wstring Root = L"SOFTWARE\\Vendor\\Product";
const std::wstring Victim = L"SOFTWARE\\Victim";

// The registry calls made so far, one "op path=status" line each, paths relative to Root and
// NtDeleteKey's failures in hex, as NTSTATUS values are written.
std::vector<std::wstring> Calls() {
    using sim::Op;
    std::vector<std::wstring> lines;
    for (const auto& call : sim::RegistryCalls()) {
        static const wchar_t* const ops[] = {L"RegDeleteKeyW", L"open", L"enum", L"close", L"ntdelete", L"?"};
        std::wstring text = ops[static_cast<int>(call.op)];  // in sim::Op's order
        if (call.op == Op::OpenKey)
            text += std::wstring(call.access == DELETE ? L"-delete" : call.access == KEY_READ ? L"-read" : L"") +
                    (call.options & REG_OPTION_OPEN_LINK ? L"" : L"-following");
        wchar_t status[16];
        std::swprintf(status, 16, call.op == Op::NtDeleteKey && call.status ? L"%08X" : L"%u",
                      static_cast<unsigned>(call.status));
        std::wstring path = call.path;
        if (path.rfind(Root, 0) == 0) path = L"~" + path.substr(Root.size());
        lines.push_back(text + L" " + path + L"=" + status);
    }
    return lines;
}

// The calls that delete a key without subkeys: one handle, one delete.
std::vector<std::wstring> Deleted(const std::wstring& path) {
    return {L"open " + path + L"=0", L"ntdelete " + path + L"=0", L"close " + path + L"=0"};
}

std::vector<std::wstring> Sequence(std::initializer_list<std::vector<std::wstring>> parts) {
    std::vector<std::wstring> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

class DeleteKeyTreeTest : public SimTest {
protected:
    static void Create(std::initializer_list<const wchar_t*> relatives) {
        for (const wchar_t* relative : relatives) ASSERT_TRUE(sim::CreateKey(Root + relative));
    }
    static int Delete(const std::wstring& path, const std::string& output = "") {
        CapturedStdout out;
        const int result = DeleteKeyTree(path.c_str());
        EXPECT_EQ(out.Take(), output);
        return result;
    }
    // The deletion of Root answers `result`, prints `output` and makes exactly `calls`.
    static void ExpectRun(int result, const std::vector<std::wstring>& calls, const std::string& output = "") {
        EXPECT_EQ(Delete(Root, output), result);
        EXPECT_THAT(Calls(), ElementsAreArray(calls));
    }
};

TEST_F(DeleteKeyTreeTest, AbsentKeyCountsAsDeletedWithoutOutputOrEnumeration) { ExpectRun(1, {L"open ~=2"}); }

TEST_F(DeleteKeyTreeTest, KeyWithoutSubkeysIsDeletedWithoutBeingEnumerated) {
    Create({L""});
    ExpectRun(1, Deleted(L"~"));
    EXPECT_TRUE(sim::KeyExists(L"SOFTWARE\\Vendor"));
}

TEST_F(DeleteKeyTreeTest, RemovesThreeLevelTreeChildrenBeforeParents) {
    Create({L"\\A\\A1\\x", L"\\A\\A1\\y", L"\\A\\A2", L"\\B\\B1", L"\\B\\B2\\z", L"\\C"});
    EXPECT_EQ(Delete(Root), 1);
    EXPECT_FALSE(sim::KeyExists(Root));
    EXPECT_TRUE(sim::KeyExists(L"SOFTWARE\\Vendor"));

    std::vector<std::wstring> deleted;
    for (const auto& call : sim::RegistryCalls())
        if (call.op == sim::Op::NtDeleteKey && call.status == STATUS_SUCCESS) deleted.push_back(call.path);
    EXPECT_THAT(deleted, ElementsAre(Root + L"\\A\\A1\\x", Root + L"\\A\\A1\\y", Root + L"\\A\\A1",
                                     Root + L"\\A\\A2", Root + L"\\A", Root + L"\\B\\B1",
                                     Root + L"\\B\\B2\\z", Root + L"\\B\\B2", Root + L"\\B",
                                     Root + L"\\C", Root));
}

TEST_F(DeleteKeyTreeTest, RowPathEndingInBackslashIsEmptiedAndDeletedThroughOneHandle) {
    Create({L"\\Only"});
    EXPECT_EQ(Delete(Root + L"\\"), 1);
    EXPECT_THAT(Calls(), ElementsAreArray(Sequence({{L"open ~\\=0", L"ntdelete ~\\=C0000121", L"enum ~\\=0"},
                                                    Deleted(L"~\\Only"),
                                                    {L"enum ~\\=259", L"ntdelete ~\\=0", L"close ~\\=0"}})));
}

// After a child that stays, the key is not enumerated again: its final delete comes next.
TEST_F(DeleteKeyTreeTest, StopsAtFirstChildThatCannotBeDeleted) {
    Create({L"\\first", L"\\second\\inner", L"\\third"});
    sim::FailCall(sim::Op::NtDeleteKey, Root + L"\\second\\inner", STATUS_ACCESS_DENIED);
    ExpectRun(0, Sequence({{L"open ~=0", L"ntdelete ~=C0000121", L"enum ~=0"}, Deleted(L"~\\first"),
                           {L"enum ~=0", L"open ~\\second=0", L"ntdelete ~\\second=C0000121", L"enum ~\\second=0",
                            L"open ~\\second\\inner=0", L"ntdelete ~\\second\\inner=C0000022",
                            L"enum ~\\second\\inner=259", L"ntdelete ~\\second\\inner=C0000022",
                            L"close ~\\second\\inner=0", L"ntdelete ~\\second=C0000121", L"close ~\\second=0",
                            L"ntdelete ~=C0000121", L"close ~=0"}}));
    EXPECT_FALSE(sim::KeyExists(Root + L"\\first"));
    EXPECT_TRUE(sim::KeyExists(Root + L"\\second\\inner"));
    EXPECT_TRUE(sim::KeyExists(Root + L"\\third"));
}

TEST_F(DeleteKeyTreeTest, KeyThatCannotBeOpenedIsReportedOnceAndLeftAlone) {
    Create({L"\\Locked\\below"});
    sim::FailCall(sim::Op::OpenKey, Root, ERROR_ACCESS_DENIED);
    ExpectRun(0, {L"open ~=5", L"open-delete ~=5", L"open-read ~=5"}, "Error opening key.\n");
}

TEST_F(DeleteKeyTreeTest, ChildThatCannotBeOpenedIsReportedAndStopsEveryAncestor) {
    Create({L"\\A\\locked\\deep", L"\\B"});
    sim::FailCall(sim::Op::OpenKey, Root + L"\\A\\locked", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Delete(Root, "Error opening key.\n"), 0);
    EXPECT_TRUE(sim::KeyExists(Root + L"\\A\\locked\\deep"));
    EXPECT_TRUE(sim::KeyExists(Root + L"\\B"));
}

TEST_F(DeleteKeyTreeTest, EnumerationFailureLeavesKeyWithoutOutput) {
    Create({L"\\child"});
    sim::FailCall(sim::Op::EnumKey, Root, ERROR_INVALID_PARAMETER);
    ExpectRun(0, {L"open ~=0", L"ntdelete ~=C0000121", L"enum ~=87", L"ntdelete ~=C0000121", L"close ~=0"});
    EXPECT_TRUE(sim::KeyExists(Root + L"\\child"));
}

// Names of 255 characters make paths of thousands; the deepest chain goes to 512 levels.
TEST_F(DeleteKeyTreeTest, LongAndDeepTreesAreDeletedWhole) {
    const std::wstring name(255, L'n');
    std::wstring wide = Root, deep = Root;
    for (int level = 0; level < 8; ++level) wide += L"\\" + name;
    for (int level = 3; level < 512; ++level) deep += L"\\d";
    for (const auto& path : {wide, deep}) ASSERT_TRUE(sim::CreateKey(path));
    EXPECT_EQ(Delete(Root), 1);
    EXPECT_FALSE(sim::KeyExists(Root));
    EXPECT_TRUE(sim::KeyExists(L"SOFTWARE\\Vendor"));
}

TEST_F(DeleteKeyTreeTest, SubkeyListedAgainAfterItsDeletionSucceededStopsTheLoop) {
    // The child has subkeys, so its delete is refused, yet its open answers not-found.
    Create({L"\\ghost\\inner"});
    sim::FailCall(sim::Op::OpenKey, Root + L"\\ghost", ERROR_FILE_NOT_FOUND);
    ExpectRun(0, {L"open ~=0", L"ntdelete ~=C0000121", L"enum ~=0", L"open ~\\ghost=2", L"enum ~=0",
                  L"ntdelete ~=C0000121", L"close ~=0"});
    EXPECT_TRUE(sim::KeyExists(Root + L"\\ghost\\inner"));
}

// One handle for both rights is refused: separate opens give each right what it allows.
TEST_F(DeleteKeyTreeTest, KeyThatRefusesOneRightGetsWhatTheOtherAllows) {
    struct Row {
        REGSAM denied;
        bool withSubkey;
        int result;
        const char* output;
        bool keyStays, subkeyStays;
    };
    const Row rows[] = {
        {DELETE, true, 0, "", true, false},                        // read and emptied, not deleted
        {KEY_READ, false, 1, "", false, false},                    // a leaf needs no reading
        {KEY_READ, true, 0, "Error opening key.\n", true, true},   // its subkeys cannot be listed
        {DELETE | KEY_READ, true, 0, "Error opening key.\n", true, true},
        {DELETE | KEY_READ, false, 0, "Error opening key.\n", true, false},
    };
    for (const Row& row : rows) {
        sim::Reset();
        Create({row.withSubkey ? L"\\Locked\\below" : L"\\Locked"});
        sim::DenyAccess(Root + L"\\Locked", row.denied);
        SCOPED_TRACE(testing::Message() << "denied " << std::hex << row.denied << " subkey " << row.withSubkey);
        EXPECT_EQ(Delete(Root + L"\\Locked", row.output), row.result);
        EXPECT_EQ(sim::KeyExists(Root + L"\\Locked"), row.keyStays);
        EXPECT_EQ(sim::KeyExists(Root + L"\\Locked\\below"), row.subkeyStays);
        EXPECT_EQ(sim::OpenHandleCount(), 0);
    }
}

// Another process acts right after one of the opens is refused: the key it deletes counts as
// deleted, silently; the rights it gives back let the separate handles finish the key.
TEST_F(DeleteKeyTreeTest, AnotherProcessBetweenTheOpensDecidesWhatTheSeparateHandlesDo) {
    struct Row {
        REGSAM denied;
        REGSAM after;  // the refused open that the other process acts after
        bool deletes;  // else it gives every right back
        std::vector<std::wstring> calls;
    };
    const Row rows[] = {
        {DELETE, DELETE, true, {L"open ~\\Locked=5", L"open-delete ~\\Locked=5", L"open-read ~\\Locked=2"}},
        {KEY_READ, DELETE | KEY_READ, true, {L"open ~\\Locked=5", L"open-delete ~\\Locked=2"}},
        {KEY_READ, DELETE | KEY_READ, false,
         Sequence({{L"open ~\\Locked=5", L"open-delete ~\\Locked=0", L"ntdelete ~\\Locked=C0000121",
                    L"open-read ~\\Locked=0", L"enum ~\\Locked=0"},
                   Deleted(L"~\\Locked\\below"),
                   {L"enum ~\\Locked=259", L"close ~\\Locked=0", L"ntdelete ~\\Locked=0", L"close ~\\Locked=0"}})},
    };
    for (const Row& row : rows) {
        sim::Reset();
        Create({L"\\Locked\\below"});
        sim::DenyAccess(Root + L"\\Locked", row.denied);
        bool acted = false;
        sim::SetOtherProcess([&] {
            const auto& calls = sim::RegistryCalls();
            if (acted || calls.empty() || calls.back().access != row.after || calls.back().status == 0) return;
            acted = row.deletes ? sim::DeleteTree(Root + L"\\Locked") : (sim::DenyAccess(Root + L"\\Locked", 0), true);
        });
        SCOPED_TRACE(testing::Message() << "denied " << std::hex << row.denied << " deletes " << row.deletes);
        EXPECT_EQ(Delete(Root + L"\\Locked"), 1);
        sim::SetOtherProcess(nullptr);
        EXPECT_TRUE(acted);
        EXPECT_FALSE(sim::KeyExists(Root + L"\\Locked"));
        EXPECT_THAT(Calls(), ElementsAreArray(row.calls));
    }
}

// The native API makes names that start with a NUL, which sort first. Cut there, such a name
// would open the key itself again: it is taken as listed again and stops the loop.
TEST_F(DeleteKeyTreeTest, SubkeyNameStartingWithANulIsNeverOpened) {
    ASSERT_TRUE(sim::CreateKey(Root + L"\\" + std::wstring(L"\0hidden", 7)));
    ASSERT_TRUE(sim::CreateKey(Root + L"\\" + std::wstring(L"x\0y", 3)));
    ExpectRun(0, {L"open ~=0", L"ntdelete ~=C0000121", L"enum ~=0", L"ntdelete ~=C0000121", L"close ~=0"});
}

// Another process renames the parent or the grandparent of the keys being deleted and puts a
// link to a victim in its place: the run finishes the renamed key through its handles, and stops
// at the link, listed under the name it just deleted, so the row stays holding only that.
TEST_F(DeleteKeyTreeTest, KeySwappedForALinkMidwayIsFinishedThroughItsHandle) {
    for (const std::wstring swapped : {Root + L"\\A", Root + L"\\G"}) {
        sim::Reset();
        const std::wstring parent = swapped == Root + L"\\A" ? swapped : swapped + L"\\A";
        const std::wstring victim = Victim + parent.substr(swapped.size());
        for (const wchar_t* child : {L"\\V0", L"\\V1", L"\\V2"}) {
            ASSERT_TRUE(sim::CreateKey(parent + child));
            ASSERT_TRUE(sim::CreateKey(victim + child + L"\\Inner"));
        }
        const auto outside = [] { return KeysWhere([](const auto& line) { return line.rfind(Root, 0) != 0; }); };
        const auto outsideBefore = outside();
        bool done = false;
        sim::SetOtherProcess([&] {
            if (!done && !sim::KeyExists(parent + L"\\V0"))
                done = sim::RenameKey(swapped, L"Old") && sim::CreateLink(swapped, Victim);
        });
        SCOPED_TRACE(testing::Message() << "swapped " << testing::PrintToString(swapped));
        EXPECT_EQ(Delete(Root), 0);
        sim::SetOtherProcess(nullptr);
        EXPECT_TRUE(done);
        EXPECT_EQ(outside(), outsideBefore);
        EXPECT_THAT(sim::KeyListing(), testing::IsSupersetOf({Root, swapped + L" -> SOFTWARE\\Victim"}));
        EXPECT_EQ(sim::KeyListing().size(), outsideBefore.size() + 2);
    }
}

// A link where an ordinary empty key could stand gives the same result and leaves the same
// registry behind, but for the link line itself: what it points to is never touched.
class DeleteKeyTreeLinks : public DeleteKeyTreeTest {
protected:
    // The deletion's result, and the whole registry afterwards with link targets cut off.
    static std::pair<int, std::vector<std::wstring>> Run(const std::wstring& at, bool asLink, REGSAM denied) {
        sim::Reset();
        Create({L"\\A\\other", L"\\B\\C"});
        for (const auto& path : {Victim + L"\\A\\B", Victim + L"\\C"}) EXPECT_TRUE(sim::CreateKey(path));
        EXPECT_TRUE(asLink ? sim::CreateLink(at, Victim) : sim::CreateKey(at));
        if (denied) sim::DenyAccess(at, denied);
        const auto victimKeys = [] { return KeysWhere([](const auto& line) { return line.rfind(Victim, 0) == 0; }); };
        const auto victimBefore = victimKeys();

        std::pair<int, std::vector<std::wstring>> outcome{Delete(Root), {}};
        for (auto line : sim::KeyListing()) outcome.second.push_back(line.substr(0, line.find(L" -> ")));
        EXPECT_EQ(victimKeys(), victimBefore);
        for (const auto& call : sim::RegistryCalls()) {
            EXPECT_EQ(call.path.rfind(Victim, 0), std::wstring::npos) << "the target was named";
            if (call.op == sim::Op::OpenKey) EXPECT_TRUE(call.options & REG_OPTION_OPEN_LINK);
        }
        return outcome;
    }

    static void ExpectLikeAnOrdinaryKey(const std::wstring& at, REGSAM denied, int expected) {
        const auto [result, keys] = Run(at, false, denied);
        const auto [linkResult, linkKeys] = Run(at, true, denied);
        EXPECT_EQ(result, expected);
        EXPECT_EQ(linkResult, result);
        EXPECT_EQ(linkKeys, keys);
        EXPECT_EQ(sim::KeyExists(at), expected == 0);
    }
};

TEST_F(DeleteKeyTreeLinks, LeafLinkIsDeletedAsALink) { ExpectLikeAnOrdinaryKey(Root + L"\\leaf", 0, 1); }

TEST_F(DeleteKeyTreeLinks, LinkThreeLevelsDownIsDeletedAsALink) {
    ExpectLikeAnOrdinaryKey(Root + L"\\B\\C\\D\\link", 0, 1);
}

TEST_F(DeleteKeyTreeLinks, RowThatIsALinkIsDeletedAsALink) {
    ASSERT_TRUE(sim::CreateKey(Victim + L"\\A"));
    ASSERT_TRUE(sim::CreateLink(Root, Victim));
    ExpectRun(1, Deleted(L"~"));
    EXPECT_FALSE(sim::KeyExists(Root));
    EXPECT_TRUE(sim::KeyExists(Victim + L"\\A"));
}

TEST_F(DeleteKeyTreeLinks, LinkThatRefusesDeletionStaysAndSoDoesItsTarget) {
    ExpectLikeAnOrdinaryKey(Root + L"\\A\\link", DELETE, 0);
}

// Above the row a link belongs to the machine's configuration: it is followed as before.
TEST_F(DeleteKeyTreeLinks, LinkAboveTheRowIsFollowed) {
    ASSERT_TRUE(sim::CreateKey(L"SOFTWARE\\Real\\Product\\Sub"));
    ASSERT_TRUE(sim::CreateLink(L"SOFTWARE\\Vendor", L"SOFTWARE\\Real"));
    EXPECT_EQ(Delete(Root), 1);
    EXPECT_FALSE(sim::KeyExists(L"SOFTWARE\\Real\\Product"));
    EXPECT_TRUE(sim::KeyExists(L"SOFTWARE\\Vendor"));
}

}  // namespace
