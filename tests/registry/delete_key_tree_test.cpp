#include "registry/delete_key_tree.h"

#include "tests/support/captured_stdout.h"
#include "tests/support/sim_fixture.h"

#include <string>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::wstring Root = L"SOFTWARE\\Vendor\\Product";

std::wstring Text(sim::Op op) {
    switch (op) {
    case sim::Op::DeleteKey: return L"delete";
    case sim::Op::OpenKey: return L"open";
    case sim::Op::EnumKey: return L"enum";
    case sim::Op::CloseKey: return L"close";
    }
    return L"?";
}

// The registry calls made so far, one "op path=status" line each, paths relative to Root.
std::vector<std::wstring> Calls() {
    std::vector<std::wstring> lines;
    for (const auto& call : sim::RegistryCalls()) {
        std::wstring path = call.path;
        if (path.rfind(Root, 0) == 0) path = L"~" + path.substr(Root.size());
        lines.push_back(Text(call.op) + L" " + path + L"=" + std::to_wstring(call.status));
    }
    return lines;
}

class DeleteKeyTreeTest : public SimTest {
protected:
    static void Create(std::initializer_list<const wchar_t*> relatives) {
        for (const wchar_t* relative : relatives) ASSERT_TRUE(sim::CreateKey(Root + relative));
    }
    static int Delete(const std::wstring& path, std::string* output = nullptr) {
        CapturedStdout out;
        const int result = DeleteKeyTree(path.c_str());
        const std::string text = out.Take();
        if (output) *output = text;
        else EXPECT_EQ(text, "");
        return result;
    }
};

TEST_F(DeleteKeyTreeTest, AbsentKeyCountsAsDeletedWithoutOutputOrEnumeration) {
    EXPECT_EQ(Delete(Root), 1);
    EXPECT_THAT(Calls(), ElementsAre(L"delete ~=2", L"open ~=2"));
}

TEST_F(DeleteKeyTreeTest, KeyWithoutSubkeysIsDeletedWithoutBeingOpened) {
    Create({L""});
    EXPECT_EQ(Delete(Root), 1);
    EXPECT_THAT(Calls(), ElementsAre(L"delete ~=0"));
    EXPECT_TRUE(sim::KeyExists(L"SOFTWARE\\Vendor"));
}

TEST_F(DeleteKeyTreeTest, RemovesThreeLevelTreeChildrenBeforeParents) {
    Create({L"\\A\\A1\\x", L"\\A\\A1\\y", L"\\A\\A2", L"\\B\\B1", L"\\B\\B2\\z", L"\\C"});
    EXPECT_EQ(Delete(Root), 1);
    EXPECT_FALSE(sim::KeyExists(Root));
    EXPECT_TRUE(sim::KeyExists(L"SOFTWARE\\Vendor"));

    std::vector<std::wstring> deleted;
    for (const auto& call : sim::RegistryCalls())
        if (call.op == sim::Op::DeleteKey && call.status == ERROR_SUCCESS) deleted.push_back(call.path);
    EXPECT_THAT(deleted, ElementsAre(Root + L"\\A\\A1\\x", Root + L"\\A\\A1\\y", Root + L"\\A\\A1",
                                     Root + L"\\A\\A2", Root + L"\\A", Root + L"\\B\\B1",
                                     Root + L"\\B\\B2\\z", Root + L"\\B\\B2", Root + L"\\B",
                                     Root + L"\\C", Root));
}

TEST_F(DeleteKeyTreeTest, PathEndingInBackslashGetsNoSecondOneAndLosesItAtTheEnd) {
    Create({L"\\Only"});
    EXPECT_EQ(Delete(Root + L"\\"), 1);
    EXPECT_THAT(Calls(), ElementsAre(L"delete ~\\=5", L"open ~\\=0", L"enum ~\\=0",
                                     L"delete ~\\Only=0", L"enum ~\\=259", L"close ~\\=0",
                                     L"delete ~=0"));
}

TEST_F(DeleteKeyTreeTest, StopsAtFirstChildThatCannotBeDeleted) {
    Create({L"\\first", L"\\second\\inner", L"\\third"});
    sim::FailCall(sim::Op::DeleteKey, Root + L"\\second\\inner", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Delete(Root), 0);
    EXPECT_FALSE(sim::KeyExists(Root + L"\\first"));
    EXPECT_TRUE(sim::KeyExists(Root + L"\\second\\inner"));
    EXPECT_TRUE(sim::KeyExists(Root + L"\\third"));
    for (const auto& call : sim::RegistryCalls()) EXPECT_EQ(call.path.find(L"third"), std::wstring::npos);
    EXPECT_EQ(sim::RegistryCalls().back().path, Root);
    EXPECT_EQ(sim::RegistryCalls().back().status, ERROR_ACCESS_DENIED);
}

TEST_F(DeleteKeyTreeTest, KeyThatCannotBeOpenedIsReportedOnceAndLeftAlone) {
    Create({L"\\Locked\\below"});
    sim::FailCall(sim::Op::OpenKey, Root, ERROR_ACCESS_DENIED);
    std::string output;
    EXPECT_EQ(Delete(Root, &output), 0);
    EXPECT_EQ(output, "Error opening key.\n");
    EXPECT_THAT(Calls(), ElementsAre(L"delete ~=5", L"open ~=5"));
}

TEST_F(DeleteKeyTreeTest, ChildThatCannotBeOpenedIsReportedAndStopsEveryAncestor) {
    Create({L"\\A\\locked\\deep", L"\\B"});
    sim::FailCall(sim::Op::OpenKey, Root + L"\\A\\locked", ERROR_ACCESS_DENIED);
    std::string output;
    EXPECT_EQ(Delete(Root, &output), 0);
    EXPECT_EQ(output, "Error opening key.\n");
    EXPECT_TRUE(sim::KeyExists(Root + L"\\A\\locked\\deep"));
    EXPECT_TRUE(sim::KeyExists(Root + L"\\B"));
}

TEST_F(DeleteKeyTreeTest, EnumerationFailureLeavesKeyWithoutOutput) {
    Create({L"\\child"});
    sim::FailCall(sim::Op::EnumKey, Root, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Delete(Root), 0);
    EXPECT_TRUE(sim::KeyExists(Root + L"\\child"));
    EXPECT_THAT(Calls(), ElementsAre(L"delete ~=5", L"open ~=0", L"enum ~=87", L"close ~=0",
                                     L"delete ~=5"));
}

// A path at the capacity would have to be cut: nothing is acted on under such a name.
TEST_F(DeleteKeyTreeTest, PathsThatDoNotFitAreNeverCutOrActedOn) {
    for (std::size_t length : {519u, 520u, 700u}) {
        sim::Reset();
        const std::wstring path = L"SOFTWARE\\" + std::wstring(length - 9, L'k');
        EXPECT_EQ(Delete(path), 0) << length;
        EXPECT_THAT(sim::RegistryCalls(), IsEmpty()) << length;
    }
}

TEST_F(DeleteKeyTreeTest, KeyWithNoRoomForItsSeparatorIsClosedAndCountsAsNotDeleted) {
    // Root\a\b is exactly 519 characters: it fits, but a backslash after it would not.
    const std::wstring a(255, L'a');
    const std::wstring b(519 - Root.size() - 2 - a.size(), L'b');
    Create({(L"\\" + a + L"\\" + b + L"\\grandchild").c_str(), L"\\later"});
    EXPECT_EQ(Delete(Root), 0);
    EXPECT_TRUE(sim::KeyExists(Root + L"\\" + a + L"\\" + b + L"\\grandchild"));
    EXPECT_TRUE(sim::KeyExists(Root + L"\\later"));
    for (const auto& call : sim::RegistryCalls()) EXPECT_LE(call.path.size(), 519u);
    EXPECT_EQ(sim::RegistryCalls().back().path, Root);
}

TEST_F(DeleteKeyTreeTest, ChildWhosePathWouldNotFitIsLeftWholeAndNotCut) {
    const std::wstring prefix(255, L'p');
    const std::wstring child(255, L'c');  // Root\prefix\child has 535 characters
    Create({(L"\\" + prefix + L"\\" + child).c_str()});
    EXPECT_EQ(Delete(Root), 0);
    EXPECT_TRUE(sim::KeyExists(Root + L"\\" + prefix + L"\\" + child));
    for (const auto& call : sim::RegistryCalls()) {
        const bool known = call.path == Root || call.path == Root + L"\\" + prefix;
        EXPECT_TRUE(known) << "a cut path reached the registry";
    }
}

TEST_F(DeleteKeyTreeTest, SubkeyListedAgainAfterItsDeletionSucceededStopsTheLoop) {
    // The child has subkeys, so its delete is refused, yet its open answers not-found.
    Create({L"\\ghost\\inner"});
    sim::FailCall(sim::Op::OpenKey, Root + L"\\ghost", ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Delete(Root), 0);
    EXPECT_TRUE(sim::KeyExists(Root + L"\\ghost\\inner"));
    EXPECT_THAT(Calls(), ElementsAre(L"delete ~=5", L"open ~=0", L"enum ~=0", L"delete ~\\ghost=5",
                                     L"open ~\\ghost=2", L"enum ~=0", L"close ~=0", L"delete ~=5"));
}

}  // namespace
