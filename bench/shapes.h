// The tree shapes the benchmark deletes, shared by the timing run under Wine and the call count
// on the simulation.
#pragma once

#include <string>
#include <vector>

namespace bench {

// Every scratch tree lives here; nothing outside it is created or deleted.
constexpr wchar_t ScratchKey[] = L"SOFTWARE\\ProductCleanupBench";
// Windows holds trees up to 512 levels deep; a shape's root is the third level.
constexpr int DeepestLevel = 512;

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

// Chains of one-character names: "deep" as deep as a 519-character path allowed, "deep-512"
// down to the deepest level Windows holds.
inline std::vector<int> Chain(int levels) { return std::vector<int>(levels, 1); }

inline std::vector<Shape> Shapes() {
    return {
        {"bushy", {10, 10, 10, 10}, 5},
        {"wide", {5000}, 5},
        {"deep", Chain(243), 5},
        {"deep-512", Chain(DeepestLevel - 3), 5},
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
