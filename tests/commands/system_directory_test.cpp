#include "commands/system_directory.h"

#include "tests/support/sim_fixture.h"

#include <string>

namespace {

class EnterSystemDirectoryTest : public SimTest {};

TEST_F(EnterSystemDirectoryTest, EntersTheSystemDirectoryUpTo259Characters) {
    EXPECT_TRUE(EnterSystemDirectory());
    EXPECT_EQ(sim::CurrentDirectory(), sim::SystemDirectory);

    const std::wstring longest = L"D:\\" + std::wstring(MAX_PATH - 4, L'w');
    sim::SetSystemDirectory(longest);
    EXPECT_TRUE(EnterSystemDirectory());
    EXPECT_EQ(sim::CurrentDirectory(), longest);
}

// A directory that does not fit whole is never entered cut short.
TEST_F(EnterSystemDirectoryTest, FailsAndStaysPutWhenTheDirectoryCannotBeHadWhole) {
    for (int way = 0; way < 3; ++way) {
        sim::Reset();
        if (way == 0) sim::SetSystemDirectory(L"");
        if (way == 1) sim::SetSystemDirectory(L"D:\\" + std::wstring(MAX_PATH - 3, L'w'));
        if (way == 2) sim::FailSetCurrentDirectory();
        EXPECT_FALSE(EnterSystemDirectory()) << way;
        EXPECT_EQ(sim::CurrentDirectory(), sim::StartDirectory) << way;
    }
}

}  // namespace
