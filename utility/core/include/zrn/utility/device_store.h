#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zrn/device_config.h"
#include "zrn/platform/registry.h"
#include "zrn/utility/prompter.h"

namespace zrn::utility {

// The single USB device entry; the store never creates it.
inline constexpr std::string_view kUsbDeviceKey = "CD730";

// The logical names the USB device gets by default, in the order written.
inline constexpr std::array<std::string_view, 9> kDefaultLogicalNames = {
    "CashDrawer", "CashDrawer1", "CashDrawerA", "CD", "CD1", "CD730", "Drawer", "Drawer1", "Drawer1A"};

// Texts every new device entry carries, as the registry format defines them.
inline constexpr std::string_view kServiceProgId = config::kServiceProgId;
inline constexpr std::string_view kAdkConfig = config::kAdkConfig;
inline constexpr std::string_view kServiceVersion = config::kServiceVersion;
// The "ServiceDesc" value and the information page's description of the
// service object: the same words the Service Object reports as its
// ServiceObjectDescription, so a technician sees one name everywhere.
inline constexpr std::string_view kServiceDescription = config::kServiceDesc;

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
    // open_device_key
    static constexpr std::int32_t kOpened = 1;
    static constexpr std::int32_t kOpenFailed = -1;
    // close_key
    static constexpr std::int32_t kClosed = 1;
    static constexpr std::int32_t kCloseFailed = -2;
    // enum_device_keys
    static constexpr std::int32_t kEnumerated = 1;
    static constexpr std::int32_t kClassKeyNotOpened = -3;
    // create_device_key
    static constexpr std::int32_t kCreated = 1;
    static constexpr std::int32_t kIndexLimit = -4;
    static constexpr std::int32_t kSoftwareKeyNotOpened = -5;
    static constexpr std::int32_t kKeyNotCreated = -6;
    static constexpr std::int32_t kSingleUsbDevice = -7;
    // write_text, write_number
    static constexpr std::int32_t kWritten = 1;
    static constexpr std::int32_t kTextNotWritten = -7;
    static constexpr std::int32_t kNumberNotWritten = -8;
    // read_text
    static constexpr std::int32_t kRead = 1;
    static constexpr std::int32_t kOtherType = -8;
    static constexpr std::int32_t kNotRead = -9;
    // delete_device_key
    static constexpr std::int32_t kClassKeyOpened = 1;
    static constexpr std::int32_t kClassKeyMissing = 0;
    // test_logical_name, add_logical_name, remove_logical_name
    static constexpr std::int32_t kNameFree = 1;
    static constexpr std::int32_t kNameAdded = 1;
    static constexpr std::int32_t kNameTaken = 0;
    static constexpr std::int32_t kNameRemoved = 0;
    static constexpr std::int32_t kNoNameMatched = 1;
    static constexpr std::int32_t kNamesNotStored = -9;

    DeviceStore(platform::Registry& registry, Prompter& prompter) : reg_(registry), prompter_(prompter) {}

    // Opens a device entry with full access. kOpened or kOpenFailed.
    std::int32_t open_device_key(std::string_view device_key, platform::RegKey* key);
    // Closes a key this store handed out. kClosed, or kCloseFailed for a key
    // that was never opened (0).
    std::int32_t close_key(platform::RegKey key);
    // The device class key's sub-key names in enumeration order; the list is
    // emptied first. kEnumerated or kClassKeyNotOpened.
    std::int32_t enum_device_keys(std::vector<std::string>* names);
    // Creates (or opens) the key of a new device of type type_key: named by
    // the type key alone for the first device, with "-" and the index 2 to 9
    // after it otherwise. Gives back the index (0 for the type key alone), the
    // open key and, when asked, the key name. kCreated, kIndexLimit,
    // kSoftwareKeyNotOpened, kKeyNotCreated or kSingleUsbDevice.
    std::int32_t create_device_key(std::string_view type_key, std::int32_t* index, platform::RegKey* key,
                                   std::string* key_name = nullptr);
    // The index and key name create_device_key would make now, without
    // making it: kCreated, kIndexLimit or kSingleUsbDevice.
    std::int32_t next_device_key(std::string_view type_key, std::int32_t* index, std::string* key_name);
    // Every value of a device entry, in the format's order, into an open key.
    // kWritten, or kTextNotWritten when any write failed.
    std::int32_t write_entry(platform::RegKey key, const config::DeviceEntry& entry);
    // A whole entry under the key named by its DeviceName, made when missing
    // (an import copies key names as they are). kWritten, kKeyNotCreated or
    // kTextNotWritten.
    std::int32_t put_entry(const config::DeviceEntry& entry);
    // REG_SZ with its terminating zero. kWritten or kTextNotWritten.
    std::int32_t write_text(platform::RegKey key, std::string_view name, std::string_view text);
    // REG_DWORD. kWritten or kNumberNotWritten.
    std::int32_t write_number(platform::RegKey key, std::string_view name, std::int32_t number);
    // A value as text: REG_SZ its characters, REG_DWORD its signed decimal;
    // any other type gives "?" and kOtherType. kNotRead leaves text unchanged.
    std::int32_t read_text(platform::RegKey key, std::string_view name, std::string* text);
    // Deletes a device entry; its logical names stay. kClassKeyOpened (the
    // deletion's own outcome is not reported) or kClassKeyMissing.
    std::int32_t delete_device_key(std::string_view device_key);
    // Whether no value of the device class key has this name (exact case).
    // kNameFree, kNameTaken or kNamesNotStored.
    std::int32_t test_logical_name(std::string_view device_key, std::string_view logical_name);
    // Whether a value of the device class key has this name when case is
    // ignored, as the registry compares value names: writing such a name
    // would overwrite that value. False when the key cannot be opened.
    bool value_name_taken_any_case(std::string_view name);
    // Adds the logical name for the device unless any value of that name
    // exists. kNameAdded, kNameTaken (nothing written) or kNamesNotStored
    // (class key not opened, or the value could not be written).
    std::int32_t add_logical_name(std::string_view device_key, std::string_view logical_name);
    // Removes the first logical name (any name for "*") that stands for the
    // device. kNameRemoved, kNoNameMatched or kNamesNotStored (class key not
    // opened, or the matching value could not be deleted).
    std::int32_t remove_logical_name(std::string_view device_key, std::string_view logical_name);
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
    // The installed control objects' description and version; unchanged when
    // their key cannot be opened.
    void read_control_object_info(ControlObjectInfo* info);
    static ServiceObjectInfo service_object_info();

private:
    platform::Registry& reg_;
    Prompter& prompter_;
};

}  // namespace zrn::utility
