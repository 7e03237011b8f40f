// Registry calls per key that DeleteKeyTree makes on each benchmark shape, counted on the
// simulated registry. Prints "calls SHAPE KEYS CALLS_PER_KEY" lines.
#include "bench/shapes.h"
#include "registry/delete_key_tree.h"
#include "sim_control.h"

#include <cstdio>

namespace {

void Build(const bench::Shape& shape, const std::wstring& path, std::size_t level) {
    sim::CreateKey(path);
    if (level == shape.fanout.size()) return;
    for (int i = 0; i < shape.fanout[level]; ++i)
        Build(shape, path + L"\\" + bench::ChildName(shape, i), level + 1);
}

}  // namespace

int main() {
    int failures = 0;
    for (const auto& shape : bench::Shapes()) {
        sim::Reset();
        const std::wstring root = bench::RootOf(shape);
        Build(shape, root, 0);
        const int result = DeleteKeyTree(root.c_str());
        if (result != 1 || sim::KeyExists(root) || !sim::Violations().empty()) ++failures;
        const long keys = bench::KeyCount(shape);
        std::printf("calls %s %ld %.2f\n", shape.name, keys,
                    static_cast<double>(sim::RegistryCalls().size()) / keys);
    }
    return failures ? 1 : 0;
}
