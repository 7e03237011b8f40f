#pragma once

#include "sim_control.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

// A fresh simulated machine per test; at the end nothing unmodelled or fatal was called, no
// handle is left open and every environment copy was freed.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override {
        EXPECT_THAT(sim::Violations(), ::testing::IsEmpty());
        EXPECT_EQ(sim::OpenHandleCount(), 0) << "registry handles left open";
        EXPECT_EQ(sim::OpenProcessHandleCount(), 0) << "process or thread handles left open";
        EXPECT_EQ(sim::LiveEnvCopies(), 0) << "environment copies not freed";
    }
};

// The lines of sim::KeyListing() that `keep` accepts.
template <class Keep>
std::vector<std::wstring> KeysWhere(const Keep& keep) {
    std::vector<std::wstring> lines;
    for (const auto& line : sim::KeyListing())
        if (keep(line)) lines.push_back(line);
    return lines;
}
