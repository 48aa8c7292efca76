#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zrn/platform/registry.h"

namespace zrn::fakes {

struct NamedValue {
    std::string name;
    platform::RegData data;
};

// The values of HKLM\<path> in enumeration order, for a test to read back
// what the code under test wrote; nullopt when the key cannot be opened.
inline std::optional<std::vector<NamedValue>> key_values(platform::Registry& reg, std::string_view path) {
    platform::ScopedKey key(reg);
    if (reg.open_key(platform::kHklm, path, false, key.out()) != platform::kRegOk) return std::nullopt;
    std::vector<NamedValue> out;
    NamedValue v;
    for (std::uint32_t i = 0; reg.enum_value(key.get(), i, &v.name, &v.data) == platform::kRegOk; ++i)
        out.push_back(v);
    return out;
}

}  // namespace zrn::fakes
