#pragma once

// The technician's command-line OPOS client: what it is asked to do, how it
// finds a device, and how it prints what happened. The Windows program
// drives the Service Object; everything it decides is here.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zrn/platform/registry.h"

namespace zrn::cli {

// The steps zrncd knows, in the order its usage lists them.
enum class Verb {
    Open, Claim, Enable, Disable, Fire, Status, Caps, Wait, Health, DirectIO, Watch, Freeze, Unfreeze, Release,
    Close, Sleep
};
// The step's word on the command line and in the output ("open", ...).
const char* verb_name(Verb verb);

// One step of a run, in the order given on the command line.
struct Step {
    Verb verb = Verb::Open;
    std::vector<std::int32_t> numbers;  // the step's numeric arguments, defaults filled in
    std::string text;                   // open: the device name; directio: the command text
};

struct Options {
    bool json = false;        // one JSON object per line
    bool keep_going = false;  // run every step even after a failure
    bool help = false;
    bool list = false;        // list the configured devices and stop
    std::vector<Step> steps;
};

// zrncd's tools: the drawer steps (and "list"), the scripted configuration
// ("config") and the health report ("doctor").
enum class Tool { Steps, Config, Doctor };
// Which tool a command line asks for. Options may stand before the tool's
// word ("--json config list"); *rest is the command line without that word,
// for the tool's own parser.
Tool tool_of(const std::vector<std::string>& args, std::vector<std::string>* rest);

// Empty on success, else a message naming the offending argument.
std::string parse(const std::vector<std::string>& args, Options* out);
std::string usage();

// "OPOS_SUCCESS", "OPOS_E_CLAIMED", ...; "OPOS_UNKNOWN" for any other code.
const char* result_name(std::int32_t rc);
std::string json_escape(std::string_view text);

// What one step did.
struct StepReport {
    std::string step;
    std::string device;
    std::int32_t rc = 0;
    std::int32_t rce = 0;
    bool ok = true;
    // Further fields of the step, printed in order ("DrawerOpened" -> "1").
    std::vector<std::pair<std::string, std::string>> fields;
    std::vector<bool> field_is_number;
    void add(const std::string& name, std::int64_t value);
    void add(const std::string& name, const std::string& value);
};

struct EventReport {
    std::string kind;  // "StatusUpdate" or "DirectIO"
    std::int32_t value = 0;
    std::int32_t data = 0;
    std::string text;
    std::string time;  // local time "HH:MM:SS.mmm"
    std::uint32_t thread = 0;
};

std::string format_step(const StepReport& r, bool json);
std::string format_event(const EventReport& e, bool json);

// A configured device and the logical names of the device class key.
struct DeviceListing {
    std::string key;
    std::string prog_id;
    std::string description;
    std::int32_t device_id = -1;
    std::int32_t port = -1;
};
struct LogicalListing {
    std::string name;
    std::string target;
};
void list_devices(platform::Registry& reg, std::vector<DeviceListing>* devices, std::vector<LogicalListing>* names);
std::string format_listing(const std::vector<DeviceListing>& devices, const std::vector<LogicalListing>& names,
                           bool json);

// The device a name stands for, as a Control Object finds it: a logical name
// is translated, then the entry's default value names the Service Object.
struct Resolved {
    bool found = false;  // the device key exists
    std::string key;
    std::string prog_id;
};
Resolved resolve(platform::Registry& reg, const std::string& name);

}  // namespace zrn::cli
