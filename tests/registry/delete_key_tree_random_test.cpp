// Random trees with random faults and links: whatever the registry answers and wherever the
// links point, the deletion changes nothing outside its subtree, names only whole paths,
// closes what it opens, ends in linear time, and reports exactly the refused opens.
#include "registry/delete_key_tree.h"

#include "tests/support/captured_stdout.h"
#include "tests/support/sim_fixture.h"

#include <chrono>
#include <cwctype>
#include <random>
#include <set>
#include <string>

namespace {

constexpr unsigned FirstSeed = 20261208;
constexpr int Cases = 10000;
constexpr int MaxKeys = 80;

const std::wstring Parent = L"SOFTWARE\\Fuzz";
const std::wstring Row = Parent + L"\\Row";
const std::wstring Sibling = Parent + L"\\Row2";
const std::wstring Victim = L"SOFTWARE\\Victim";
const std::wstring Chain = L"SOFTWARE\\Chain";

// Keys outside the row that links may point at, some through a chain of links.
void ArrangeOutside() {
    for (const auto& path : {Sibling + L"\\x\\y", Victim + L"\\A\\B", Victim + L"\\C"})
        EXPECT_TRUE(sim::CreateKey(path));
    EXPECT_TRUE(sim::CreateLink(Chain + L"\\L1", Chain + L"\\L2"));
    EXPECT_TRUE(sim::CreateLink(Chain + L"\\L2", Victim));
}

// The whole registry but the row's own subtree.
std::vector<std::wstring> Outside() {
    std::vector<std::wstring> lines;
    for (const auto& line : sim::KeyListing()) {
        const bool inRow = line.rfind(Row, 0) == 0 && (line.size() == Row.size() || line[Row.size()] == L'\\' ||
                                                      line.compare(Row.size(), 4, L" -> ") == 0);
        if (!inRow) lines.push_back(line);
    }
    return lines;
}

struct Case {
    std::set<std::wstring> keys;  // exact full paths of the row's tree, row and links included
    int links = 0;
};

class Generator {
public:
    explicit Generator(unsigned seed) : random_(seed) {}

    Case Build() {
        Case made;
        if (Chance(0.05)) return made;  // the row is absent
        if (Chance(0.03)) {
            AddLink(made, Row, 0);
            return made;
        }
        Add(made, Row, 0);
        return made;
    }

private:
    bool Chance(double p) { return std::bernoulli_distribution(p)(random_); }
    int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

    std::wstring Name() {
        static const wchar_t alphabet[] = L"abcdefghijKLMNOPQRST0123456789 ._-{}";
        const int length = Chance(0.1) ? Between(200, 255) : Between(1, 12);
        std::wstring name;
        for (int i = 0; i < length; ++i) name += alphabet[Between(0, std::size(alphabet) - 2)];
        return name;
    }

    void Add(Case& made, const std::wstring& path, int depth) {
        EXPECT_TRUE(sim::CreateKey(path));
        made.keys.insert(path);
        Inject(path, depth);
        if (depth == 8) return;
        const int children = Chance(0.3) ? 0 : Between(1, Chance(0.1) ? 30 : 4);
        std::set<std::wstring> folded;
        for (int i = 0; i < children && static_cast<int>(made.keys.size()) < MaxKeys; ++i) {
            std::wstring name = Name();
            std::wstring upper;
            for (wchar_t c : name) upper += static_cast<wchar_t>(std::towupper(c));
            if (!folded.insert(upper).second) continue;
            if (Chance(0.06)) AddLink(made, path + L"\\" + name, depth + 1);
            else Add(made, path + L"\\" + name, depth + 1);
        }
    }

    // To outside the row (a tree or a leaf), a sibling row, an ancestor, the row itself, itself,
    // or a chain.
    void AddLink(Case& made, const std::wstring& path, int depth) {
        const std::wstring targets[] = {Victim, Victim + L"\\A", Victim + L"\\C", Sibling, Sibling + L"\\x\\y",
                                        Parent, L"SOFTWARE", Row, path, Chain + L"\\L1"};
        EXPECT_TRUE(sim::CreateLink(path, targets[Between(0, std::size(targets) - 1)]));
        made.keys.insert(path);
        ++made.links;
        Inject(path, depth);
    }

    std::mt19937 random_;

    // Not-found is only ever a listed subkey's answer: for the row itself it would be the truth.
    void Inject(const std::wstring& path, int depth) {
        switch (Between(0, 39)) {
        case 0: sim::DenyAccess(path, KEY_READ | DELETE); break;
        case 1: sim::DenyAccess(path, DELETE); break;
        case 2: sim::FailCall(sim::Op::OpenKey, path, ERROR_ACCESS_DENIED); break;
        case 3: sim::FailCall(sim::Op::NtDeleteKey, path, STATUS_ACCESS_DENIED); break;
        case 4: sim::FailCall(sim::Op::EnumKey, path, ERROR_MORE_DATA); break;
        case 5:
            if (depth > 0) sim::FailCall(sim::Op::OpenKey, path, ERROR_FILE_NOT_FOUND);
            break;
        default: break;
        }
    }
};

int RefusedOpensReached() {
    int refused = 0;
    for (const auto& call : sim::RegistryCalls())
        if (call.op == sim::Op::OpenKey && call.access == KEY_READ && call.status != ERROR_SUCCESS &&
            call.status != ERROR_FILE_NOT_FOUND)
            ++refused;
    return refused;
}

std::string Repeat(const std::string& line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += line;
    return text;
}

class DeleteKeyTreeRandom : public SimTest {};

TEST_F(DeleteKeyTreeRandom, HoldsItsInvariantsUnderRandomTreesAndFaults) {
    const auto start = std::chrono::steady_clock::now();
    std::size_t keys = 0;
    int pastCapacity = 0, rowsLeft = 0, links = 0;
    for (int i = 0; i < Cases; ++i) {
        const unsigned seed = FirstSeed + i;
        SCOPED_TRACE("seed " + std::to_string(seed));
        sim::Reset();
        ArrangeOutside();
        const Case made = Generator(seed).Build();
        const auto outsideBefore = Outside();
        keys += made.keys.size();
        links += made.links;
        for (const auto& key : made.keys) {
            if (key.size() <= 519) continue;
            ++pastCapacity;
            break;
        }

        CapturedStdout out;
        const int result = DeleteKeyTree(Row.c_str());
        const std::string output = out.Take();

        EXPECT_EQ(result == 1, !sim::KeyExists(Row));
        rowsLeft += result == 0;
        EXPECT_EQ(Outside(), outsideBefore) << "a key outside the row changed";
        EXPECT_EQ(output, Repeat("Error opening key.\n", RefusedOpensReached()));
        EXPECT_LE(sim::RegistryCalls().size(), 10 * (made.keys.size() + 1));

        std::multiset<std::wstring> open;
        for (const auto& call : sim::RegistryCalls()) {
            const bool meant = call.path == Row || made.keys.count(call.path) == 1;
            ASSERT_TRUE(meant) << "call outside the tree or on a cut path, length " << call.path.size();
            if (call.op == sim::Op::OpenKey && call.status == ERROR_SUCCESS) open.insert(call.path);
            if (call.op == sim::Op::CloseKey) {
                auto it = open.find(call.path);
                ASSERT_NE(it, open.end()) << "close without open";
                open.erase(it);
            }
        }
        EXPECT_TRUE(open.empty());
        EXPECT_EQ(sim::OpenHandleCount(), 0);
        ASSERT_THAT(sim::Violations(), ::testing::IsEmpty());
        if (HasFailure()) return;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d random cases, %zu keys, %d links, %d with paths past 519 characters, %d rows left, "
                "%.2f s\n", Cases, keys, links, pastCapacity, rowsLeft, seconds);
}

}  // namespace
