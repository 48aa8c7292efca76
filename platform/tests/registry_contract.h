#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "zrn/platform/registry.h"

namespace zrn::testing {

// One implementation of the Registry port under test. The same contract runs
// against the in-memory fake (host and Windows builds) and against the real
// registry (Windows builds, under Wine), so the two cannot drift apart.
struct RegistryImpl {
    std::string name;
    std::function<std::unique_ptr<platform::Registry>()> make;
};
inline void PrintTo(const RegistryImpl& impl, std::ostream* os) { *os << impl.name; }

class RegistryContract : public ::testing::TestWithParam<RegistryImpl> {
protected:
    void SetUp() override;
    void TearDown() override;
    // A fresh scratch key under HKLM for this test.
    platform::RegKey scratch() const { return scratch_; }
    std::string scratch_path() const { return path_; }

    std::unique_ptr<platform::Registry> reg_;

private:
    platform::RegKey scratch_ = 0;
    std::string path_;
};

// Deletes a key and everything below it.
void delete_tree(platform::Registry& reg, platform::RegKey parent, const std::string& subkey);

}  // namespace zrn::testing
