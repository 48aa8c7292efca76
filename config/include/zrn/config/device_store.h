#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zrn/device_config.h"
#include "zrn/platform/config_lock.h"
#include "zrn/platform/noting_registry.h"
#include "zrn/platform/registry.h"
#include "zrn/config/prompter.h"

namespace zrn::config {

// The single USB device entry; the store never creates it.
inline constexpr std::string_view kUsbDeviceKey = "CD730";

// The logical names the USB device gets by default, in the order written.
inline constexpr std::array<std::string_view, 9> kDefaultLogicalNames = {
    "CashDrawer", "CashDrawer1", "CashDrawerA", "CD", "CD1", "CD730", "Drawer", "Drawer1", "Drawer1A"};

struct ControlObjectInfo {
    std::string description;
    std::string version;
    std::string device_class;
};

struct ServiceObjectInfo {
    std::string description;
    std::string version;
    std::string standard;
};

// The utility's only access to the device entries and logical device names
// under HKEY_LOCAL_MACHINE. It holds no state between calls; every operation
// opens and closes its keys, except that collect_logical_names hands the open
// device class key to its caller. Results are the status codes below.
class DeviceStore {
public:
    // What an operation came to, one name per outcome. Each operation's
    // success is 1 (0 and 1 for the two outcomes of the logical-name and
    // class-key operations); every failure has a code of its own.
    enum Result : std::int32_t {
        // open_device_key
        kOpened = 1,
        kOpenFailed = -1,
        // close_key
        kClosed = 1,
        kCloseFailed = -2,
        // enum_device_keys
        kEnumerated = 1,
        kClassKeyNotOpened = -3,
        // create_device_key
        kCreated = 1,
        kIndexLimit = -4,
        kSoftwareKeyNotOpened = -5,
        kKeyNotCreated = -6,
        kSingleUsbDevice = -7,
        // write_text, write_number
        kWritten = 1,
        kTextNotWritten = -8,
        kNumberNotWritten = -9,
        // read_text
        kRead = 1,
        kOtherType = -10,
        kNotRead = -11,
        // delete_device_key
        kClassKeyOpened = 1,
        kClassKeyMissing = 0,
        // test_logical_name, add_logical_name, remove_logical_name
        kNameFree = 1,
        kNameAdded = 1,
        kNameTaken = 0,
        kNameRemoved = 0,
        kNoNameMatched = 1,
        kNamesNotStored = -12,
    };

    // lock: the machine-wide configuration lock the windows take around a
    // change; null where no other program can change the configuration.
    DeviceStore(platform::Registry& registry, Prompter& prompter, platform::ConfigLock* lock = nullptr)
        : reg_(registry), prompter_(prompter), lock_(lock) {}

    // Opens a device entry with full access. kOpened or kOpenFailed.
    Result open_device_key(std::string_view device_key, platform::RegKey* key);
    // Closes a key this store handed out. kClosed, or kCloseFailed for a key
    // that was never opened (0).
    Result close_key(platform::RegKey key);
    // The device class key's sub-key names in enumeration order; the list is
    // emptied first. kEnumerated or kClassKeyNotOpened.
    Result enum_device_keys(std::vector<std::string>* names);
    // Creates (or opens) the key of a new device of type type_key: named by
    // the type key alone for the first device, with "-" and the index 2 to 9
    // after it otherwise. Gives back the index (0 for the type key alone), the
    // open key and, when asked, the key name. kCreated, kIndexLimit,
    // kSoftwareKeyNotOpened, kKeyNotCreated or kSingleUsbDevice.
    Result create_device_key(std::string_view type_key, std::int32_t* index, platform::RegKey* key,
                                   std::string* key_name = nullptr);
    // The index and key name create_device_key would make now, without
    // making it: kCreated, kIndexLimit or kSingleUsbDevice.
    Result next_device_key(std::string_view type_key, std::int32_t* index, std::string* key_name);
    // Every value of a device entry, in the format's order, into an open key.
    // kWritten, or kTextNotWritten when any write failed.
    Result write_entry(platform::RegKey key, const config::DeviceEntry& entry);
    // A whole entry under the key named by its DeviceName, made when missing
    // (an import copies key names as they are). kWritten, kKeyNotCreated or
    // kTextNotWritten.
    Result put_entry(const config::DeviceEntry& entry);
    // REG_SZ with its terminating zero. kWritten or kTextNotWritten.
    Result write_text(platform::RegKey key, std::string_view name, std::string_view text);
    // REG_DWORD. kWritten or kNumberNotWritten.
    Result write_number(platform::RegKey key, std::string_view name, std::int32_t number);
    // A value as text: REG_SZ its characters, REG_DWORD its signed decimal;
    // any other type gives "?" and kOtherType. kNotRead leaves text unchanged.
    Result read_text(platform::RegKey key, std::string_view name, std::string* text);
    // Deletes a device entry; its logical names stay. kClassKeyOpened (the
    // deletion's own outcome is not reported) or kClassKeyMissing.
    Result delete_device_key(std::string_view device_key);
    // Whether no value of the device class key has this name (exact case).
    // kNameFree, kNameTaken or kNamesNotStored.
    Result test_logical_name(std::string_view device_key, std::string_view logical_name);
    // Whether a value of the device class key has this name when case is
    // ignored, as the registry compares value names: writing such a name
    // would overwrite that value. False when the key cannot be opened.
    bool value_name_taken_any_case(std::string_view name);
    // Adds the logical name for the device unless any value of that name
    // exists. kNameAdded, kNameTaken (nothing written) or kNamesNotStored
    // (class key not opened, or the value could not be written).
    Result add_logical_name(std::string_view device_key, std::string_view logical_name);
    // Removes the first logical name (any name for "*") that stands for the
    // device. kNameRemoved, kNoNameMatched or kNamesNotStored (class key not
    // opened, or the matching value could not be deleted).
    Result remove_logical_name(std::string_view device_key, std::string_view logical_name);
    // The logical names standing for the device and their data, in
    // enumeration order. True with the class key left open in *class_key for
    // the caller to close; false, after telling the user, when it could not be
    // opened.
    bool collect_logical_names(std::string_view device_key, std::vector<std::string>* names,
                               std::vector<std::string>* data, platform::RegKey* class_key);
    // The logical names standing for the device, in enumeration order, for
    // showing them: no message, the key closed again. False when the class
    // key could not be opened (names then unchanged).
    bool read_logical_names(std::string_view device_key, std::vector<std::string>* names);
    // Replaces the device's logical names by the default set, all of which
    // stand for the USB device.
    void default_logical_names(std::string_view device_key);
    // The driver folder, double quotes removed. 1 read, 0 not read (path
    // unchanged).
    std::int32_t read_target_path(std::string* path);
    // A number of the service settings ("TraceEnabled", "TraceKeepDays");
    // empty when it is not set.
    std::optional<std::int32_t> read_service_number(std::string_view name);
    // The installed control objects' description and version; unchanged when
    // their key cannot be opened.
    void read_control_object_info(ControlObjectInfo* info);
    static ServiceObjectInfo service_object_info();

    // The registry's code of the last call of any operation that failed
    // (kRegOk when none did since clear_failure), and the system's words
    // for it: what a message names when a save did not go through.
    platform::RegStatus last_failure() const { return reg_.last_failure(); }
    void clear_failure() { reg_.clear_failure(); }
    std::string error_text(platform::RegStatus status) const { return reg_.error_text(status); }
    // "RegOpenKeyExA "...\CD926" failed: Access is denied. (Windows error 5)"
    // for the last call that failed since clear_failure; empty when none did.
    std::string failure_text() const {
        if (reg_.last_failure() == platform::kRegOk) return {};
        return reg_.last_call() + " failed: " + reg_.error_text(reg_.last_failure());
    }
    // failure_text(), or the system's words for status when no call noted
    // its failure.
    std::string failure_words(platform::RegStatus status) const {
        std::string text = failure_text();
        return text.empty() ? error_text(status) : text;
    }
    platform::ConfigLock* config_lock() const { return lock_; }

private:
    platform::NotingRegistry reg_;
    Prompter& prompter_;
    platform::ConfigLock* lock_;
};

}  // namespace zrn::config
