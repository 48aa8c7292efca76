#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "zrn/cfg/commands.h"
#include "zrn/device_config.h"
#include "zrn/device_types.h"
#include "zrn/fakes/fake_config_lock.h"
#include "zrn/fakes/fake_files.h"
#include "zrn/fakes/faulty_registry.h"
#include "zrn/text.h"

namespace zrn::cfg::testing {

using platform::kHklm;
using platform::kRegOk;
using platform::ScopedKey;

// Every key and value below a key, types and bytes included, one per line.
inline std::string tree(platform::Registry& reg, const std::string& path) {
    ScopedKey key(reg);
    if (reg.open_key(kHklm, path, false, key.out()) != kRegOk) return path + " (none)\n";
    std::string out = path + "\n";
    std::string name;
    platform::RegData d;
    for (std::uint32_t i = 0; reg.enum_value(key.get(), i, &name, &d) == kRegOk; ++i)
        out += "  " + name + " " + std::to_string(d.type) + " " + value_as_text(d.type, d.bytes) + " " +
               std::to_string(d.bytes.size()) + "\n";
    std::vector<std::string> subs;
    for (std::uint32_t i = 0; reg.enum_key(key.get(), i, &name) == kRegOk; ++i) subs.push_back(name);
    for (const std::string& s : subs) out += tree(reg, path + "\\" + s);
    return out;
}

inline std::string everything(platform::Registry& reg) {
    return tree(reg, std::string(kDeviceClassKey)) + tree(reg, std::string(kServiceSettingsKey));
}

class ConfigTest : public ::testing::Test {
protected:
    // Every Windows has HKLM\SOFTWARE; the store opens it to make a key. Every
    // till has Program Files\Common Files, where the backups go.
    void SetUp() override {
        for (platform::Registry* r : {static_cast<platform::Registry*>(&reg), static_cast<platform::Registry*>(&other)}) {
            ScopedKey k(*r);
            ASSERT_EQ(r->create_key(kHklm, "SOFTWARE", "", k.out(), nullptr), kRegOk);
        }
        ASSERT_TRUE(files.create_directory("C:\\Program Files"));
        ASSERT_TRUE(files.create_directory("C:\\Program Files\\Common Files"));
    }
    Outcome run(std::vector<std::string> args, std::string_view input = {}) { return run_on(reg, args, input); }
    Outcome run_on(platform::Registry& r, std::vector<std::string> args, std::string_view input = {},
                   platform::Files* through = nullptr) {
        Command cmd;
        const std::string error = parse_config(args, &cmd);
        EXPECT_EQ(error, "");
        Views views{r, "the 64-bit view", other_ptr, "the 32-bit view"};
        return run_config(cmd, views, through ? *through : files, lock, input);
    }
    std::string value(const std::string& key, const std::string& name) {
        ScopedKey k(reg);
        if (reg.open_key(kHklm, std::string(kDeviceClassKey) + (key.empty() ? "" : "\\" + key), false, k.out()) !=
            kRegOk)
            return "(no key)";
        std::string text = "(none)";
        config::read_text(reg, k.get(), name, &text);
        return text;
    }

    fakes::FaultyRegistry reg;
    fakes::FakeRegistry other;
    platform::Registry* other_ptr = &other;
    fakes::FakeFiles files;
    fakes::FakeLockMachine machine;
    fakes::FakeConfigLock lock{machine};
};

}  // namespace zrn::cfg::testing
