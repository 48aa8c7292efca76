#pragma once

// The whole cash drawer configuration of one registry view (service
// settings, device entries, logical names) as one value: read from the
// registry, compared, and written to and read from the export document.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zrn/device_config.h"
#include "zrn/json.h"
#include "zrn/platform/registry.h"

namespace zrn::cfg {

// The document's "schema" text and the highest "version" this build reads.
inline constexpr std::string_view kSchemaName = "zrn-opos-cashdrawer-configuration";
constexpr std::int64_t kSchemaVersion = 1;

// The number values of the service settings key besides TargetPath, in the
// order they are written.
inline constexpr std::string_view kServiceNumbers[] = {"TraceEnabled", "ODVEnabled", "RDKInterval", "RDKDelay",
                                                      "DCSDelay",     "TraceKeepDays"};

struct ServiceValues {
    std::optional<std::string> TargetPath;
    std::vector<std::pair<std::string, std::int32_t>> numbers;  // those present, in kServiceNumbers order
    // False for a document without "service": the till's settings then stay
    // as they are, instead of being replaced by none.
    bool given = true;
    bool operator==(const ServiceValues&) const = default;
};

struct Device {
    config::DeviceEntry entry;          // DeviceName is the key name
    std::vector<std::string> missing;   // settings the entry lacks (read from the registry only)
};

struct Configuration {
    ServiceValues service;
    std::vector<Device> devices;     // in the registry's key order
    config::LogicalNames names;      // in the registry's value order
};

// Everything one view holds. Entries are read as the format defines them;
// a value of another registry type reads as its text.
Configuration read_configuration(platform::Registry& reg);
// Whether the view holds any cash drawer configuration at all.
bool has_configuration(const Configuration& c);

// The export document. Settings are the registry's codes; missing ones are
// left out.
json::Value to_json(const Configuration& c);

// Reads and checks a whole document: every error is listed with its place
// ("devices[2].Port: ..."); a setting a device leaves out gets its type's
// default. Port sharing is no error here (see shared_ports).
bool from_json(const json::Value& doc, Configuration* out, std::vector<std::string>* errors);

// Port sharing between devices of the configuration, as the settings pages
// warn of it: one text per pair ("CD926-2 and CD347 both use COM1").
std::vector<std::string> shared_ports(const Configuration& c);

// Where two views differ, ignoring TargetPath (each view names the drivers
// of its own bitness). Empty when they agree.
// a_name and b_name say which is which ("the 64-bit view").
std::vector<std::string> differences(const Configuration& a, std::string_view a_name, const Configuration& b,
                                     std::string_view b_name);

// A byte the registry's names and texts cannot hold as given: a zero would
// cut the text short where the Windows API reads it, and no other control
// character belongs in a name or a description.
bool has_control_character(std::string_view text);

// The text of a setting as a technician reads it ("COM2", "9600", "None",
// "CTS") and the code a text or number given for it stands for.
std::string setting_text(std::int32_t device_id, const config::Setting& s, const config::DeviceEntry& e);
// Sets the setting from text ("COM2" or "2", "9600" or "5", ...). False with
// *error saying what is allowed.
bool parse_setting(std::int32_t device_id, const config::Setting& s, std::string_view text,
                   config::DeviceEntry* e, std::string* error);

}  // namespace zrn::cfg
