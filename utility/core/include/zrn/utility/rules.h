#pragma once

// The rules the utility's dialogs and main window apply to the store, for
// every program that changes the configuration: the dialogs, and the
// command-line configuration that scripts use.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zrn/utility/device_store.h"
#include "zrn/utility/usb_config.h"

namespace zrn::utility {

// "COM" for the serial types, "LPT" for the parallel type, empty otherwise.
std::string_view port_prefix(std::int32_t device_id);
// The port number a port text names for the type ("COM1" to "COM4" serial,
// "LPT1" and "LPT2" parallel), or -1.
std::int32_t port_number(std::int32_t device_id, std::string_view text);

// Another entry on the same port: a serial entry for a serial type, a
// parallel entry for the parallel type.
struct PortConflict {
    std::string device_key;
    std::int32_t port = 0;
};
// The entries other than own_key that use the port. A USB entry, and a port
// no list names, conflict with nothing; an entry without a type or port is
// no conflict (a missing value must not stand in as 0).
std::vector<PortConflict> find_port_conflicts(DeviceStore& store, std::string_view own_key, std::int32_t device_id,
                                              std::int32_t port);

// A logical name is taken when a value of that name exists, exactly or
// differing only in case: the registry stores value names without regard to
// case, so writing it would overwrite another device's name.
bool logical_name_taken(DeviceStore& store, std::string_view device_key, std::string_view name);

// Whether the store could have made a device key of this name: a type key,
// alone or with "-" and an index of 2 to 9; the USB device only as "CD730".
bool device_key_allowed(std::string_view key);

// The settings the settings pages let a technician change for the type, in
// their order: what the type's controls enable.
std::vector<std::string_view> changeable_settings(std::int32_t device_id);

// Removes a device: its key, then logical names that stand for it, then
// (USB) its slot in the USB configuration file. The main window removes the
// first name only and leaves the others; a script removes them all, so no
// name is left standing for nothing. False, with nothing else touched, when
// the key is still there afterwards.
enum class NamesRemoved { First, All };
bool remove_device(DeviceStore& store, UsbConfig& usb, std::string_view device_key, NamesRemoved names);

}  // namespace zrn::utility
