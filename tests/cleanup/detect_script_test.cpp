#include "cleanup/catalogue.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

// The keys the built detection script looks for, in its order: its single-quoted lines.
std::vector<std::wstring> ScriptKeys(const std::string& path) {
    std::ifstream script(path, std::ios::binary);
    std::vector<std::wstring> keys;
    for (std::string line; std::getline(script, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string indent = "    '";
        if (line.rfind(indent, 0) == 0 && line.size() > indent.size() && line.back() == '\'')
            keys.emplace_back(line.begin() + static_cast<std::ptrdiff_t>(indent.size()), line.end() - 1);
    }
    return keys;
}

TEST(DetectScript, LooksForExactlyTheCatalogueKeysInTheNativeView) {
    const std::vector<std::wstring> catalogue(std::begin(CleanupCatalogue::RegistryKeys),
                                              std::end(CleanupCatalogue::RegistryKeys));
    EXPECT_EQ(ScriptKeys(DETECT_SCRIPT), catalogue);
    std::ifstream script(DETECT_SCRIPT, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(script), std::istreambuf_iterator<char>()};
    EXPECT_THAT(text, ::testing::HasSubstr("OpenBaseKey('LocalMachine', 'Registry64')"));
}

}  // namespace
