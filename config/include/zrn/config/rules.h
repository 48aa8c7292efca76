#pragma once

// The rules the utility's dialogs and main window apply to the store, for
// every program that changes the configuration: the dialogs, and the
// command-line configuration that scripts use.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zrn/config/device_store.h"
#include "zrn/config/usb_config.h"

namespace zrn::config {

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

// Removes a device: its key, then every logical name that stands for it (a
// name left behind would point at nothing, and at the next device that gets
// the key's name), then (USB) its slot in the USB configuration file.
struct Removal {
    // The key is gone. If not, nothing else was touched; status is the
    // registry's code.
    bool removed = false;
    platform::RegStatus status = platform::kRegOk;
    // The names that could not be removed, and the registry's code.
    std::vector<std::string> names_left;
    platform::RegStatus names_status = platform::kRegOk;
    // What releasing the USB slot came to (Done for other types).
    UsbConfig::ReleaseOutcome usb;
};
Removal remove_device(DeviceStore& store, UsbConfig& usb, std::string_view device_key);

// How long a window waits for the configuration lock before it says who
// holds it.
inline constexpr std::uint32_t kWindowLockWaitMs = 5000;

// The configuration lock for one change a window makes: held for the scope.
// When it cannot be had the user is told who holds it (or why it cannot be
// had) and held() is false: the change must not be made.
class ChangeHold {
public:
    ChangeHold(DeviceStore& store, Prompter& prompter, std::string_view who = "QVTUtility");
    bool held() const { return hold_.held(); }

private:
    platform::ConfigLockHold hold_;
};

}  // namespace zrn::config
