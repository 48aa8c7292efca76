#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "zrn/param_block.h"
#include "zrn/platform/registry.h"

namespace zrn::so {

// Field limits of the device configuration (characters, terminator excluded).
constexpr std::size_t kFirstOCMax = 4;
constexpr std::size_t kSecondOCMax = 7;
constexpr std::size_t kDeviceDescMax = 49;
constexpr std::size_t kDeviceNameMax = 30;
constexpr std::size_t kTargetPathMax = 255;

struct DeviceConfig {
    std::int32_t DeviceID = -1;
    std::int32_t Port = -1;
    std::int32_t BaudRate = -1;
    std::int32_t DataBitLen = -1;
    std::int32_t StopBits = -1;
    std::int32_t HandShaking = -1;
    std::int32_t Parity = -1;
    std::int32_t Status = -1;
    std::int32_t DrawerNo = -1;
    std::string FirstOC;
    std::string SecondOC;
    std::string DeviceDesc;
    std::string DeviceName;
    bool CapStatus = false;
    bool CapStatusMultiDrawerDetect = false;
};

struct ServiceSettings {
    std::string TargetPath;
    std::int32_t TraceEnabled = 0;
};

// Reads TargetPath (double quotes removed) and TraceEnabled. True when the
// key was opened and both were read; what could not be read keeps its value.
bool read_service_settings(platform::Registry& reg, ServiceSettings* settings);

using LogicalNames = std::vector<std::pair<std::string, std::string>>;  // logical name, device key name

// Every value of the device class key whose data begins with a type key.
LogicalNames read_logical_names(platform::Registry& reg);

// The device key name a logical name stands for (first exact match), or the
// name itself.
std::string translate_device_name(const LogicalNames& names, const std::string& name);

enum class EntryRead { Ok, NoKey, BadText };

// Reads the device entry into config and the settings fields of block.
// BadText: a name or opening code longer than its field; nothing is
// truncated, the entry is refused.
EntryRead read_device_entry(platform::Registry& reg, const std::string& device_key, DeviceConfig* config,
                            DriverParamBlock* block);

}  // namespace zrn::so
