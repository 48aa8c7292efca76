#pragma once

// Service settings and device entries written through the device-entry
// format library, for tests against the fake registry and the real one alike.
#include <cstdint>
#include <string>

#include "zrn/device_config.h"

namespace zrn::so::testing {

inline void write_settings(platform::Registry& reg, const std::string& target_path, std::int32_t trace_enabled) {
    config::write_service_settings(reg, {target_path, trace_enabled});
}

inline void write_value(platform::Registry& reg, const std::string& key, const std::string& name,
                        const std::string& text) {
    config::write_device_value(reg, key, name, text);
}

inline void write_value(platform::Registry& reg, const std::string& key, const std::string& name,
                        std::uint32_t number) {
    config::write_device_value(reg, key, name, static_cast<std::int32_t>(number));
}

// A complete new entry of the type with DeviceID id, its defaults but the
// port: COMn for serial, LPTn for parallel.
inline void write_device(platform::Registry& reg, const std::string& key, std::int32_t id, std::uint32_t port = 1) {
    const DeviceType* type = &kDeviceTypes[0];
    for (const DeviceType& t : kDeviceTypes)
        if (t.DeviceID == id) type = &t;
    config::DeviceEntry entry = config::default_entry(key, *type);
    if (id != kDeviceIdUsb) entry.Port = static_cast<std::int32_t>(port);
    config::write_device_entry(reg, entry);
}

inline void write_logical(platform::Registry& reg, const std::string& name, const std::string& target) {
    config::write_logical_name(reg, name, target);
}

}  // namespace zrn::so::testing
