#include "tests/platform/registry_seed.h"

#include "sim_control.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace seed {

const wchar_t ScratchKey[] = L"SOFTWARE\\ProductCleanupTests";

void BeginRegistryTest() {
    sim::Reset();
    sim::CreateKey(ScratchKey);
}

void EndRegistryTest() {
    EXPECT_THAT(sim::Violations(), ::testing::IsEmpty());
    EXPECT_EQ(sim::OpenHandleCount(), 0);
}

bool CreateKey(const std::wstring& path) { return sim::CreateKey(path); }

bool CreateLink(const std::wstring& path, const std::wstring& target) { return sim::CreateLink(path, target); }

bool KeyExists(const std::wstring& path) { return sim::KeyExists(path); }

bool SetValue(const std::wstring& path, const std::wstring& name, unsigned long type, const std::wstring& text) {
    return sim::SetValue(path, name, static_cast<DWORD>(type), text);
}

bool RenameKey(const std::wstring& path, const std::wstring& newName) { return sim::RenameKey(path, newName); }

}  // namespace seed
