#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace zrn {

constexpr std::int32_t kDeviceIdSerialII = 0;
constexpr std::int32_t kDeviceIdSmartSerial = 1;
constexpr std::int32_t kDeviceIdParallel = 2;
constexpr std::int32_t kDeviceIdUsb = 3;

struct DeviceType {
    std::string_view key;  // five-character type key
    std::int32_t DeviceID;
    std::string_view default_desc;
};

inline constexpr DeviceType kDeviceTypes[] = {
    {"CD926", kDeviceIdSerialII, "ZRN Model 926A SerialLINE(r) II Interface"},
    {"CD347", kDeviceIdSmartSerial, "Model 347A Smart SerialLINE(r) Interface"},
    {"CD615", kDeviceIdParallel, "Model 615 ParallelLINE(tm) Interface"},
    {"CD730", kDeviceIdUsb, "Model 730 USBLine(tm) Interface"},
};

constexpr std::size_t kTypeKeyLength = 5;

// The type a device key name (or a logical name's target) stands for, decided
// by its first five characters; none when they are no type key.
const DeviceType* device_type_of(std::string_view name);

// Registry locations, all under HKEY_LOCAL_MACHINE.
inline constexpr std::string_view kServiceSettingsKey = "SOFTWARE\\OLEforRetail\\ServiceInfo\\ZRN OPOS ADK";
inline constexpr std::string_view kDeviceClassKey = "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer";
inline constexpr std::string_view kControlObjectInfoKey = "SOFTWARE\\OLEforRetail\\ServiceInfo\\OposCCOs";

}  // namespace zrn
