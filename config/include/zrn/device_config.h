#pragma once

// The registry format of the cash drawer configuration: service settings,
// device entries and logical device names under HKEY_LOCAL_MACHINE. The one
// place that reads and writes it; the Service Object, the utility, zrncd and
// the tests all go through here.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zrn/device_types.h"
#include "zrn/platform/registry.h"

namespace zrn::config {

// Every value is queried into a buffer of this many bytes.
constexpr std::size_t kValueBuffer = 1024;

// Field limits of the device configuration (characters, terminator excluded).
constexpr std::size_t kFirstOCMax = 4;
constexpr std::size_t kSecondOCMax = 7;
constexpr std::size_t kDeviceDescMax = 49;
constexpr std::size_t kDeviceNameMax = 30;
constexpr std::size_t kTargetPathMax = 255;

// Texts every new device entry carries.
inline constexpr std::string_view kServiceProgId = "ZRNOPOSCD.SO";
inline constexpr std::string_view kAdkConfig = "ZRN 3.38.1_CCO";
inline constexpr std::string_view kServiceVersion = "3.38.1_CCO";
// The same words the Service Object reports as its ServiceObjectDescription.
inline constexpr std::string_view kServiceDesc = "ZRN OPOS CashDrawer Service Object (serial, parallel, USB)";
constexpr std::int32_t kTimeOut = 1000;

// ---- Reading ----

// A value "as text" (REG_SZ its characters, REG_DWORD "%ld", any other type
// "?"), queried with kValueBuffer bytes. On failure text is left unchanged.
platform::RegStatus read_text(platform::Registry& reg, platform::RegKey key, std::string_view name, std::string* text);

struct ServiceSettings {
    std::string TargetPath;
    std::int32_t TraceEnabled = 0;
};

// Reads TargetPath (double quotes removed) and TraceEnabled. True when the
// key was opened and both were read; what could not be read keeps its value.
bool read_service_settings(platform::Registry& reg, ServiceSettings* settings);

// A number of the service settings key (a REG_DWORD, or its decimal text);
// empty when the key or the value is missing.
std::optional<std::int32_t> read_service_number(platform::Registry& reg, std::string_view name);

// TraceKeepDays: how many days of daily trace files are kept besides
// today's. 0 when the value is missing or unreadable: every file is kept.
std::int32_t read_trace_keep_days(platform::Registry& reg);

using LogicalNames = std::vector<std::pair<std::string, std::string>>;  // logical name, device key name

// A value of the device class key as read: its name, its data as text and
// whether that text begins with a type key (a logical name). Data a
// kValueBuffer read would not take counts as no logical name, with no text.
struct ClassValue {
    std::string name;
    std::string text;
    bool logical = false;
};

// The values of an open device class key in enumeration order.
std::vector<ClassValue> class_key_values(platform::Registry& reg, platform::RegKey class_key);

// Every value of the device class key that is a logical name.
LogicalNames read_logical_names(platform::Registry& reg);

// The device class key's sub-key names in enumeration order (read access);
// empty when the key cannot be opened.
std::vector<std::string> device_keys(platform::Registry& reg);
// The same into *keys (emptied first), the key opened with the access a
// change needs when for_change; false when it cannot be opened.
bool list_device_keys(platform::Registry& reg, bool for_change, std::vector<std::string>* keys);

// The device key name as stored for a name that matches it exactly or, failing
// that, without regard to case (registry lookups ignore case, the claim table,
// the drivers' status reports and the documents do not); empty when no key
// matches.
std::optional<std::string> stored_key_name(platform::Registry& reg, std::string_view device_key);

// The device key name a logical name stands for (first exact match), or the
// name itself.
std::string translate_device_name(const LogicalNames& names, const std::string& name);

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

enum class EntryRead { Ok, NoKey, BadText };

// Reads the values the entry's DeviceID calls for into config; values not
// read keep what config held. BadText: a name or opening code longer than
// its field; that value is left alone, the rest is read.
EntryRead read_device_entry(platform::Registry& reg, std::string_view device_key, DeviceConfig* config);

// ---- Writing ----

// REG_SZ with its terminating zero; REG_DWORD.
platform::RegStatus write_text(platform::Registry& reg, platform::RegKey key, std::string_view name,
                               std::string_view text);
platform::RegStatus write_number(platform::Registry& reg, platform::RegKey key, std::string_view name,
                                 std::int32_t number);

// Creates the service settings key when missing. True when both were written.
bool write_service_settings(platform::Registry& reg, const ServiceSettings& settings);

// The settings of one device entry. default_entry gives what a new entry of
// the type holds.
struct DeviceEntry {
    std::string DeviceName;  // the device key name
    std::int32_t DeviceID = 0;
    std::string DeviceDesc;
    std::int32_t Port = 0;
    std::int32_t BaudRate = 0;
    std::int32_t DataBitLen = 0;
    std::int32_t StopBits = 0;
    std::int32_t Parity = 0;
    std::int32_t HandShaking = 0;
    std::int32_t Status = 0;
    std::string FirstOC;
    std::string SecondOC;
    std::int32_t DrawerNo = 0;
};

DeviceEntry default_entry(std::string_view device_key, const DeviceType& type);
// The settings alone of a new entry of the type (name, type and description
// left empty): what the settings pages show before anything is changed.
DeviceEntry default_settings(std::int32_t device_id);

// One setting of a device entry: a number with the codes its "Sel" value
// lists, or a text. Exactly one of number and text is set.
struct Setting {
    std::string_view name;
    std::string_view sel;  // numbers: the allowed codes as "Sel" lists them ("USB": 0 only)
    std::int32_t DeviceEntry::*number = nullptr;
    std::string DeviceEntry::*text = nullptr;
    std::size_t max_length = 0;  // texts: the longest text the Service Object takes
};

// The settings an entry of the type holds, in the format's order; empty for
// a DeviceID that is no type.
std::vector<Setting> settings_of(std::int32_t device_id);
// The setting of that name (exact case) an entry of the type holds, or null.
const Setting* find_setting(std::int32_t device_id, std::string_view name);
// Whether a "Sel" list allows the code.
bool code_allowed(std::string_view sel, std::int32_t code);
// An opening code as the entry stores it: a decimal text of 0 to 255.
bool valid_open_code(std::string_view text);

// A device entry as stored, read for showing, exporting and checking it.
struct StoredEntry {
    DeviceEntry entry;
    std::string prog_id;                    // the default value
    std::vector<std::string> missing;       // values the type calls for that are absent
    std::vector<std::string> other_type;    // values stored with another registry type than the format's
};
// False when the key cannot be opened. The DeviceID decides which settings
// are read; a DeviceID that is no type reads only the common values.
bool read_stored_entry(platform::Registry& reg, std::string_view device_key, StoredEntry* out);

// Writes every value of the entry's DeviceID into an open device key, in the
// format's order (default value first, then the common texts and numbers,
// each setting after its "Sel" list, "TimeOut" last); each type gets only its
// own values. Goes on past a failed write; true when all were written.
// Writes nothing and returns false for a DeviceID that is no type.
bool write_entry_values(platform::Registry& reg, platform::RegKey key, const DeviceEntry& entry);

// Creates (or opens) the entry's key under the device class key and writes
// the entry into it.
bool write_device_entry(platform::Registry& reg, const DeviceEntry& entry);

// One value of a device entry, its key created when missing.
bool write_device_value(platform::Registry& reg, std::string_view device_key, std::string_view name,
                        std::string_view text);
bool write_device_value(platform::Registry& reg, std::string_view device_key, std::string_view name,
                        std::int32_t number);

// A logical device name standing for a device key name; an existing value of
// that name is overwritten.
bool write_logical_name(platform::Registry& reg, std::string_view logical_name, std::string_view device_key);

}  // namespace zrn::config
