#pragma once

#include <string>

#include "zrn/device_config.h"
#include "zrn/param_block.h"
#include "zrn/platform/registry.h"

namespace zrn::so {

// The registry format is read through the device-entry format library; the
// Service Object adds only the driver parameter block.
using config::DeviceConfig;
using config::EntryRead;
using config::kDeviceDescMax;
using config::kDeviceNameMax;
using config::kFirstOCMax;
using config::kSecondOCMax;
using config::kTargetPathMax;
using config::LogicalNames;
using config::read_logical_names;
using config::read_service_settings;
using config::ServiceSettings;
using config::translate_device_name;

// The device key name as the registry stores it, for a name that matches it
// without regard to case (registry lookups ignore case, the claim table and
// the drivers' status reports do not); the name itself when no key matches.
std::string stored_device_key_name(platform::Registry& reg, const std::string& device_key);

// Reads the device entry into config and the settings fields of block.
// BadText: a name or opening code longer than its field; nothing is
// truncated, the entry is refused.
EntryRead read_device_entry(platform::Registry& reg, const std::string& device_key, DeviceConfig* config,
                            DriverParamBlock* block);

}  // namespace zrn::so
