// Times DeleteKeyTree against RegDeleteTreeW and SHDeleteKeyW on the same tree shapes, in one
// process, interleaved, with the tree rebuilt (untimed) before every deletion. Prints
// "time SHAPE KEYS OURS THEIRS SHELL" lines, each the median microseconds per key.
// "bench_timing trace SHAPE METHOD" instead deletes one tree once between two marker opens, so
// that a wineserver trace of the run can be cut to the requests of that deletion.
#include "bench/shapes.h"
#include "registry/delete_key_tree.h"

#include <windows.h>

#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

bool Build(HKEY parent, const wchar_t* name, const bench::Shape& shape, std::size_t level) {
    HKEY key;
    if (RegCreateKeyExW(parent, name, 0, nullptr, 0, KEY_CREATE_SUB_KEY, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    bool ok = true;
    if (level < shape.fanout.size()) {
        for (int i = 0; ok && i < shape.fanout[level]; ++i)
            ok = Build(key, bench::ChildName(shape, i).c_str(), shape, level + 1);
    }
    RegCloseKey(key);
    return ok;
}

bool Exists(const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

double Seconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency.QuadPart;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

using Method = std::function<bool(const std::wstring&)>;
const char* const MethodNames[] = {"ours", "RegDeleteTreeW", "SHDeleteKeyW"};
const Method Methods[] = {
    [](const std::wstring& path) { return DeleteKeyTree(path.c_str()) == 1; },
    [](const std::wstring& path) { return RegDeleteTreeW(HKEY_LOCAL_MACHINE, path.c_str()) == ERROR_SUCCESS; },
    [](const std::wstring& path) { return SHDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str()) == ERROR_SUCCESS; },
};

void Marker(const wchar_t* name) {
    HKEY key;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, name, 0, KEY_READ, &key);
}

int Trace(const std::string& shapeName, const std::string& methodName) {
    for (const auto& shape : bench::Shapes()) {
        if (shapeName != shape.name) continue;
        for (int m = 0; m < 3; ++m) {
            if (methodName != MethodNames[m]) continue;
            const std::wstring root = bench::RootOf(shape);
            if (!Build(HKEY_LOCAL_MACHINE, root.c_str(), shape, 0)) return 1;
            Marker(L"TRACE-BEGIN");
            const bool deleted = Methods[m](root);
            Marker(L"TRACE-END");
            return deleted ? 0 : 1;
        }
    }
    std::fprintf(stderr, "usage: bench_timing [trace SHAPE ours|RegDeleteTreeW|SHDeleteKeyW]\n");
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc == 4 && std::string(argv[1]) == "trace") return Trace(argv[2], argv[3]);
    const auto& methods = Methods;
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, bench::ScratchKey);
    int failures = 0;
    for (const auto& shape : bench::Shapes()) {
        const std::wstring root = bench::RootOf(shape);
        const std::wstring name = root.substr(root.rfind(L'\\') + 1);
        const std::wstring parent = root.substr(0, root.rfind(L'\\'));
        HKEY scratch;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, parent.c_str(), 0, nullptr, 0, KEY_CREATE_SUB_KEY, nullptr,
                        &scratch, nullptr);
        std::vector<double> seconds[3];
        for (int repetition = 0; repetition < shape.repetitions; ++repetition) {
            for (int m = 0; m < 3; ++m) {
                if (!Build(scratch, name.c_str(), shape, 0)) ++failures;
                const double start = Seconds();
                const bool deleted = methods[m](root);
                seconds[m].push_back(Seconds() - start);
                if (!deleted || Exists(root)) ++failures;
            }
        }
        RegCloseKey(scratch);
        const long keys = bench::KeyCount(shape);
        std::printf("time %s %ld %.3f %.3f %.3f\n", shape.name, keys, Median(seconds[0]) * 1e6 / keys,
                    Median(seconds[1]) * 1e6 / keys, Median(seconds[2]) * 1e6 / keys);
        std::fflush(stdout);
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, bench::ScratchKey);
    if (failures) std::printf("%d build or deletion failures\n", failures);
    return failures ? 1 : 0;
}
