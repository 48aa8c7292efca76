#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "zrn/device_types.h"
#include "zrn/fakes/fake_registry.h"
#include "zrn/fakes/faulty_registry.h"
#include "zrn/fakes/key_values.h"
#include "zrn/platform/registry.h"
#include "zrn/text.h"
#include "zrn/config/class_values.h"
#include "zrn/config/device_store.h"
#include "zrn/config/fake_prompter.h"

namespace zrn::config::testing {

using platform::kHklm;
using platform::kRegOk;
using platform::RegData;
using platform::RegKey;
using Strings = std::vector<std::string>;

// A value to store: a DWORD, a string, or data of any type as it stands.
using Value = std::variant<std::int32_t, std::string, RegData>;
using Values = std::vector<std::pair<std::string, Value>>;

inline std::string device_key_path(const std::string& key) {
    return std::string(kDeviceClassKey) + "\\" + key;
}

// Creates HKLM\<path> (when missing) and stores the values in it, in order.
inline void put_values(platform::Registry& reg, const std::string& path, const Values& values) {
    platform::ScopedKey k(reg);
    ASSERT_EQ(reg.create_key(kHklm, path, "", k.out(), nullptr), kRegOk) << path;
    for (const auto& [name, v] : values) {
        if (auto* n = std::get_if<std::int32_t>(&v))
            ASSERT_EQ(platform::set_dword(reg, k.get(), name, static_cast<std::uint32_t>(*n)), kRegOk) << name;
        else if (auto* t = std::get_if<std::string>(&v))
            ASSERT_EQ(platform::set_sz(reg, k.get(), name, *t), kRegOk) << name;
        else
            ASSERT_EQ(reg.set_value(k.get(), name, std::get<RegData>(v)), kRegOk) << name;
    }
}

// A key's values as "name=data" joined by "|", in stored order; "<none>"
// when the key is missing.
inline std::string joined_values(platform::Registry& reg, const std::string& path) {
    const auto values = fakes::key_values(reg, path);
    if (!values) return "<none>";
    std::string out;
    for (const auto& [name, d] : *values) out += name + "=" + value_as_text(d.type, d.bytes) + "|";
    return out;
}

inline int open_handles(const fakes::FakeRegistry& reg) {
    return reg.open_handles();
}
inline int open_handles(const fakes::FaultyRegistry& reg) {
    return reg.f.open_handles();
}

// What the utility's core tests share: a registry of type Reg, a scripted
// prompter and the device store over both, with the helpers that put devices
// and logical names in place and read back what a command left. Every key
// opened must be closed again by the end of a test.
template <class Reg>
class StoreFixture : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(open_handles(reg), 0) << "a key was left open"; }

    void add_device(const std::string& key, const Values& values = {}) {
        put_values(reg, device_key_path(key), values);
    }
    void put_class_value(const std::string& name, const std::string& data) {
        put_values(reg, std::string(kDeviceClassKey), {{name, data}});
    }
    void set_target_path(const std::string& path) {
        put_values(reg, std::string(kServiceSettingsKey), {{"TargetPath", path}});
    }
    // A device entry's values as "name=data" joined by "|", in stored order.
    std::string entry(const std::string& key) { return joined_values(reg, device_key_path(key)); }
    // The class key's values as "name=data", in enumeration order.
    Strings class_values() { return testing::class_values(reg); }
    Strings device_keys() {
        Strings names;
        store.enum_device_keys(&names);
        return names;
    }
    // The text of the last prompt shown, "(none)" before the first.
    std::string last_prompt() const {
        return prompter.prompts().empty() ? "(none)" : prompter.prompts().back().text;
    }
    // The texts of every prompt shown, in order.
    Strings prompt_texts() const {
        Strings out;
        for (const auto& p : prompter.prompts()) out.push_back(p.text);
        return out;
    }

    Reg reg;
    FakePrompter prompter;
    DeviceStore store{reg, prompter};
};

}  // namespace zrn::config::testing
