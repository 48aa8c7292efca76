#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zrn/device_types.h"
#include "zrn/fakes/key_values.h"
#include "zrn/platform/registry.h"
#include "zrn/text.h"

namespace zrn::config::testing {

// The device class key's values as "name=data", in enumeration order: what
// the utility's tests read back after a command.
inline std::vector<std::string> class_values(platform::Registry& reg) {
    std::vector<std::string> out;
    for (const fakes::NamedValue& v : fakes::key_values(reg, kDeviceClassKey).value_or(std::vector<fakes::NamedValue>{}))
        out.push_back(v.name + "=" + value_as_text(v.data.type, v.data.bytes));
    return out;
}

}  // namespace zrn::config::testing
