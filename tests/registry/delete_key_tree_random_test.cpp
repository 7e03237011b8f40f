// Random trees with random faults and links, and another process that renames, swaps for links,
// deletes and creates keys inside the row while the deletion works: whatever the registry
// answers, wherever the links point and whatever the other process does, the deletion opens
// nothing outside the row, changes nothing outside it, closes what it opens, ends in linear
// time, and reports exactly the refused opens.
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
// The cases in parts of their own, so that the test runner can run them side by side.
constexpr int Shards = 4;
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

bool InRow(const std::wstring& path) {
    return path.rfind(Row, 0) == 0 && (path.size() == Row.size() || path[Row.size()] == L'\\');
}

// A listing line's key: a link's line without its target.
std::wstring KeyOf(const std::wstring& line) { return line.substr(0, line.find(L" -> ")); }

// The whole registry but the row's own subtree.
std::vector<std::wstring> Outside() { return KeysWhere([](const auto& line) { return !InRow(KeyOf(line)); }); }

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
        if (Chance(0.03)) AddLink(made, Row, 0);
        else Add(made, Row, 0);
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
        case 5: if (depth > 0) sim::FailCall(sim::Op::OpenKey, path, ERROR_FILE_NOT_FOUND); break;
        default: break;
        }
    }
};

// Between the program's calls, now and then: a key of the row renamed and a link put in its
// place, a key deleted, or a key created, each somewhere inside the row, never the row itself.
class OtherProcess {
public:
    explicit OtherProcess(unsigned seed) : random_(seed ^ 0x9E3779B9u) {}

    void Turn() {
        if (acts_ == MaxActs || !Chance(0.08)) return;
        std::vector<std::wstring> keys, plain;
        for (const auto& line : sim::KeyListing()) {
            const std::wstring path = KeyOf(line);
            if (path == Row || !InRow(path)) continue;
            keys.push_back(path);
            if (path == line) plain.push_back(path);
        }
        if (keys.empty()) return;
        ++acts_;
        switch (Between(0, 3)) {
        case 0:
        case 1: Swap(Chance(0.5) ? Busy() : Pick(keys)); break;
        case 2: deleted += sim::DeleteTree(Pick(keys)); break;
        default:
            if (!plain.empty()) created += sim::CreateKey(Pick(plain) + L"\\new" + std::to_wstring(acts_));
        }
    }

    int swapped = 0, deleted = 0, created = 0;

private:
    static constexpr int MaxActs = 6;

    bool Chance(double p) { return std::bernoulli_distribution(p)(random_); }
    int Between(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    const std::wstring& Pick(const std::vector<std::wstring>& from) {
        return from[Between(0, static_cast<int>(from.size()) - 1)];
    }

    // The key the program works on now, or one of its ancestors inside the row.
    std::wstring Busy() {
        std::wstring path = sim::RegistryCalls().empty() ? Row : sim::RegistryCalls().back().path;
        while (InRow(path) && path != Row && Chance(0.5)) path = path.substr(0, path.rfind(L'\\'));
        return path;
    }

    void Swap(const std::wstring& path) {
        if (path == Row || !InRow(path) || !sim::RenameKey(path, L"moved" + std::to_wstring(acts_))) return;
        const std::wstring targets[] = {Victim, Victim + L"\\A", Sibling, Parent, L"SOFTWARE", Row, path};
        EXPECT_TRUE(sim::CreateLink(path, targets[Between(0, std::size(targets) - 1)]));
        ++swapped;
    }

    std::mt19937 random_;
    int acts_ = 0;
};

// One line for each open for reading that was refused, not found being no refusal.
std::string ExpectedOutput() {
    std::string text;
    for (const auto& call : sim::RegistryCalls())
        if (call.op == sim::Op::OpenKey && call.access == KEY_READ && call.status != ERROR_SUCCESS &&
            call.status != ERROR_FILE_NOT_FOUND)
            text += "Error opening key.\n";
    return text;
}

class DeleteKeyTreeRandom : public SimTest, public ::testing::WithParamInterface<int> {};

TEST_P(DeleteKeyTreeRandom, HoldsItsInvariantsUnderRandomTreesFaultsAndAnotherProcess) {
    const auto start = std::chrono::steady_clock::now();
    std::size_t keys = 0;
    int rowsLeft = 0, links = 0, raced = 0, swapped = 0, deleted = 0, created = 0;
    const int first = GetParam() * Cases / Shards, last = (GetParam() + 1) * Cases / Shards;
    for (int i = first; i < last; ++i) {
        const unsigned seed = FirstSeed + i;
        SCOPED_TRACE("seed " + std::to_string(seed));
        sim::Reset();
        ArrangeOutside();
        const Case made = Generator(seed).Build();
        const auto outsideBefore = Outside();
        keys += made.keys.size();
        links += made.links;
        OtherProcess other(seed);
        const bool racing = i % 2 == 1;
        if (racing) sim::SetOtherProcess([&] { other.Turn(); });

        CapturedStdout out;
        const int result = DeleteKeyTree(Row.c_str());
        const std::string output = out.Take();
        sim::SetOtherProcess(nullptr);

        raced += racing;
        swapped += other.swapped;
        deleted += other.deleted;
        created += other.created;
        EXPECT_EQ(result == 1, !sim::KeyExists(Row));
        rowsLeft += result == 0;
        EXPECT_EQ(Outside(), outsideBefore) << "a key outside the row changed";
        EXPECT_EQ(output, ExpectedOutput());
        EXPECT_LE(sim::RegistryCalls().size(), 10 * (made.keys.size() + other.created + 1));
        for (const auto& call : sim::RegistryCalls()) {
            if (call.op != sim::Op::OpenKey || call.status != ERROR_SUCCESS) continue;
            ASSERT_TRUE(InRow(call.reached)) << "opened outside the row: " << testing::PrintToString(call.reached);
        }
        EXPECT_EQ(sim::OpenHandleCount(), 0);
        ASSERT_THAT(sim::Violations(), ::testing::IsEmpty());
        if (HasFailure()) return;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d random cases, %zu keys, %d links, %d rows left; %d cases with another process: "
                "%d swaps for a link, %d deletions, %d creations; %.2f s\n",
                last - first, keys, links, rowsLeft, raced, swapped, deleted, created, seconds);
}

INSTANTIATE_TEST_SUITE_P(Seeds, DeleteKeyTreeRandom, ::testing::Range(0, Shards));

}  // namespace
