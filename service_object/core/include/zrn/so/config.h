#pragma once

#include <string>

#include "zrn/device_config.h"
#include "zrn/param_block.h"
#include "zrn/platform/registry.h"

namespace zrn::so {

// Reads the device entry into config and the settings fields of block.
// BadText: a name or opening code longer than its field; nothing is
// truncated, the entry is refused.
config::EntryRead read_device_entry(platform::Registry& reg, const std::string& device_key, config::DeviceConfig* config,
                            DriverParamBlock* block);

}  // namespace zrn::so
