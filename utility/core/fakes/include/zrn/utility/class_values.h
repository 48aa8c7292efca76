#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zrn/device_types.h"
#include "zrn/platform/registry.h"
#include "zrn/text.h"

namespace zrn::utility::testing {

// The device class key's values as "name=data", in enumeration order: what
// the utility's tests read back after a command.
inline std::vector<std::string> class_values(platform::Registry& reg) {
    std::vector<std::string> out;
    platform::ScopedKey k(reg);
    if (reg.open_key(platform::kHklm, kDeviceClassKey, false, k.out()) != platform::kRegOk) return out;
    std::string name;
    platform::RegData d;
    for (std::uint32_t i = 0; reg.enum_value(k.get(), i, &name, &d) == platform::kRegOk; ++i)
        out.push_back(name + "=" + value_as_text(d.type, d.bytes));
    return out;
}

}  // namespace zrn::utility::testing
