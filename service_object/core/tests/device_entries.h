#pragma once

// Service settings and device entries as the configuration utility writes
// them, for tests against the fake registry and the real one alike.
#include <cstdint>
#include <string>

#include "zrn/device_types.h"
#include "zrn/platform/registry.h"

namespace zrn::so::testing {

inline void write_settings(platform::Registry& reg, const std::string& target_path, std::int32_t trace_enabled) {
    platform::ScopedKey k(reg);
    reg.create_key(platform::kHklm, kServiceSettingsKey, "", k.out(), nullptr);
    platform::set_sz(reg, k.get(), "TargetPath", target_path);
    platform::set_dword(reg, k.get(), "TraceEnabled", static_cast<std::uint32_t>(trace_enabled));
}

inline void write_value(platform::Registry& reg, const std::string& key, const std::string& name,
                        const std::string& text) {
    platform::ScopedKey k(reg);
    reg.create_key(platform::kHklm, std::string(kDeviceClassKey) + "\\" + key, "", k.out(), nullptr);
    platform::set_sz(reg, k.get(), name, text);
}

inline void write_value(platform::Registry& reg, const std::string& key, const std::string& name,
                        std::uint32_t number) {
    platform::ScopedKey k(reg);
    reg.create_key(platform::kHklm, std::string(kDeviceClassKey) + "\\" + key, "", k.out(), nullptr);
    platform::set_dword(reg, k.get(), name, number);
}

// A complete entry for the interface model with DeviceID id on port `port`
// (COMn for serial, LPTn for parallel).
inline void write_device(platform::Registry& reg, const std::string& key, std::int32_t id, std::uint32_t port = 1) {
    write_value(reg, key, "", std::string("ZRNOPOSCD.SO"));
    write_value(reg, key, "DeviceID", static_cast<std::uint32_t>(id));
    write_value(reg, key, "DeviceName", key);
    write_value(reg, key, "DeviceDesc", std::string(device_type_of(key) ? device_type_of(key)->default_desc : "desc"));
    write_value(reg, key, "Status", 0u);
    if (id == 0 || id == 1) {
        write_value(reg, key, "Port", port);
        write_value(reg, key, "BaudRate", 5u);
        write_value(reg, key, "DataBitLen", 8u);
        write_value(reg, key, "StopBits", 1u);
        write_value(reg, key, "Parity", 0u);
        write_value(reg, key, "HandShaking", 0u);
        write_value(reg, key, "FirstOC", std::string(id == 0 ? "7" : "91"));
    }
    if (id == 1 || id == 2) {
        write_value(reg, key, "SecondOC", std::string("91"));
        write_value(reg, key, "DrawerNo", 1u);
    }
    if (id == 2) {
        write_value(reg, key, "Port", port);
        write_value(reg, key, "FirstOC", std::string("91"));
    }
}

inline void write_logical(platform::Registry& reg, const std::string& name, const std::string& target) {
    platform::ScopedKey k(reg);
    reg.create_key(platform::kHklm, kDeviceClassKey, "", k.out(), nullptr);
    platform::set_sz(reg, k.get(), name, target);
}

}  // namespace zrn::so::testing
