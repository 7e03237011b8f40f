// The tree shapes the benchmark deletes, shared by the timing run under Wine and the call count
// on the simulation.
#pragma once

#include <cwchar>
#include <string>
#include <vector>

namespace bench {

// Every scratch tree lives here; nothing outside it is created or deleted.
constexpr wchar_t ScratchKey[] = L"SOFTWARE\\ProductCleanupBench";
constexpr int PathLimit = 519;  // characters of a key path the deletion can hold

struct Shape {
    const char* name;
    std::vector<int> fanout;  // subkeys of each key, level by level
    int repetitions;
};

inline std::wstring RootOf(const Shape& shape) {
    std::wstring root = std::wstring(ScratchKey) + L"\\";
    for (const char* c = shape.name; *c; ++c) root += static_cast<wchar_t>(*c);
    return root;
}

// A chain of one-character names, as deep as the path limit allows.
inline std::vector<int> DeepChain() {
    const int rootLength = static_cast<int>(std::wcslen(ScratchKey)) + 5;  // "\deep"
    return std::vector<int>((PathLimit - rootLength) / 2, 1);
}

inline std::vector<Shape> Shapes() {
    return {
        {"bushy", {10, 10, 10, 10}, 5},
        {"wide", {5000}, 5},
        {"deep", DeepChain(), 5},
        {"bushy-1k", {10, 10, 10}, 5},
        {"bushy-100k", {10, 10, 10, 10, 10}, 3},
    };
}

inline long KeyCount(const Shape& shape) {
    long keys = 1, level = 1;
    for (int n : shape.fanout) keys += (level *= n);
    return keys;
}

inline std::wstring ChildName(const Shape& shape, int index) {
    return shape.fanout.front() == 1 ? L"k" : std::to_wstring(index);
}

}  // namespace bench
