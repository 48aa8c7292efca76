#include "zrn/cli/cli.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "zrn/device_types.h"
#include "zrn/json.h"
#include "zrn/opos.h"
#include "zrn/device_config.h"
#include "zrn/text.h"

namespace zrn::cli {

namespace {

struct VerbSpec {
    Verb verb;
    const char* name;
    int text_args;                       // 1: a required text first
    std::vector<std::int32_t> defaults;  // numeric arguments with their defaults
    int required;                        // how many of them must be given
    bool trailing_text;                  // an optional text after the numbers
};

const std::vector<VerbSpec>& verbs() {
    static const std::vector<VerbSpec> v = {
        {Verb::Open, "open", 1, {}, 0, false},
        {Verb::Claim, "claim", 0, {1000}, 0, false},
        {Verb::Enable, "enable", 0, {}, 0, false},
        {Verb::Disable, "disable", 0, {}, 0, false},
        {Verb::Fire, "fire", 0, {}, 0, false},
        {Verb::Status, "status", 0, {}, 0, false},
        {Verb::Caps, "caps", 0, {}, 0, false},
        {Verb::Wait, "wait", 0, {1000, 1000, 500, 1000}, 0, false},
        {Verb::Health, "health", 0, {1}, 0, false},
        {Verb::DirectIO, "directio", 0, {0, 0}, 1, true},
        {Verb::Watch, "watch", 0, {5000}, 0, false},
        {Verb::Freeze, "freeze", 0, {}, 0, false},
        {Verb::Unfreeze, "unfreeze", 0, {}, 0, false},
        {Verb::Release, "release", 0, {}, 0, false},
        {Verb::Close, "close", 0, {}, 0, false},
        {Verb::Sleep, "sleep", 0, {1000}, 1, false},
    };
    return v;
}

const VerbSpec* find_verb(const std::string& s) {
    for (const auto& v : verbs())
        if (s == v.name) return &v;
    return nullptr;
}

bool parse_number(const std::string& s, std::int32_t* out) { return parse_int32(s, out); }

bool is_number(const std::string& s) {
    std::int32_t v;
    return parse_number(s, &v);
}

// Digits, perhaps signed: a number, even when out of range.
bool looks_numeric(const std::string& s) {
    std::size_t i = s.size() > 1 && (s[0] == '-' || s[0] == '+') ? 1 : 0;
    if (i >= s.size()) return false;
    for (; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

}  // namespace

std::string usage() {
    return "usage: zrncd [--json] [--keep-going] STEP...\n"
           "       zrncd [--json] list\n"
           "       zrncd config ...     (zrncd config --help)\n"
           "       zrncd doctor [--json] [--view 32|64]   (the till's health report)\n"
           "Drives a cash drawer through its OPOS Service Object, as a Control Object does.\n"
           "Steps run in order; each prints its result code, its name and ResultCodeExtended.\n"
           "  open NAME            OpenService by device key or logical name\n"
           "  claim [TIMEOUT]      ClaimDevice (default 1000 ms)\n"
           "  enable | disable     DeviceEnabled 1 or 0\n"
           "  fire                 OpenDrawer\n"
           "  status               DrawerOpened\n"
           "  caps                 capabilities, descriptions and version\n"
           "  wait [BEEPTIMEOUT FREQUENCY DURATION DELAY]\n"
           "                       WaitForDrawerClose (default 1000 1000 500 1000)\n"
           "  health [LEVEL]       CheckHealth (1 internal, 2 external, 3 interactive)\n"
           "  directio CMD [DATA] [TEXT]  DirectIO\n"
           "  watch [MS]           print events for MS milliseconds (default 5000)\n"
           "  freeze | unfreeze    FreezeEvents 1 or 0\n"
           "  release | close      ReleaseDevice, CloseService\n"
           "  sleep MS             pause\n"
           "Events (StatusUpdate, DirectIO) are printed with time stamps as they arrive.\n"
           "Exit status: 0 when every step succeeded, 1 when a step failed, 2 for bad arguments.\n";
}

Tool tool_of(const std::vector<std::string>& args, std::vector<std::string>* rest) {
    *rest = args;
    std::size_t i = 0;
    while (i < args.size() && args[i].rfind("--", 0) == 0) {
        // The tools' options that take a value.
        i += args[i] == "--view" || args[i] == "--name" ? 2 : 1;
    }
    if (i >= args.size()) return Tool::Steps;
    const Tool tool = args[i] == "config" ? Tool::Config : args[i] == "doctor" ? Tool::Doctor : Tool::Steps;
    if (tool != Tool::Steps) rest->erase(rest->begin() + static_cast<std::ptrdiff_t>(i));
    return tool;
}

std::string parse(const std::vector<std::string>& args, Options* out) {
    *out = Options{};
    std::size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        if (args[i] == "--json")
            out->json = true;
        else if (args[i] == "--keep-going")
            out->keep_going = true;
        else if (args[i] == "--help")
            out->help = true;
        else
            return "unknown option '" + args[i] + "'";
    }
    if (out->help) return {};
    if (i < args.size() && args[i] == "list") {
        if (i + 1 != args.size()) return "'list' takes no further steps";
        out->list = true;
        return {};
    }
    if (i == args.size()) return "no steps given";
    while (i < args.size()) {
        const VerbSpec* spec = find_verb(args[i]);
        if (!spec) return "unknown step '" + args[i] + "'";
        Step step;
        step.verb = spec->verb;
        const std::string name = spec->name;
        ++i;
        if (spec->text_args) {
            if (i >= args.size() || find_verb(args[i])) return "'" + name + "' needs a device name";
            step.text = args[i++];
        }
        step.numbers = spec->defaults;
        std::size_t given = 0;
        while (given < spec->defaults.size() && i < args.size() && looks_numeric(args[i])) {
            if (!is_number(args[i])) return "'" + name + "': number out of range: " + args[i];
            parse_number(args[i++], &step.numbers[given++]);
        }
        if (static_cast<int>(given) < spec->required) {
            const std::string got = i < args.size() ? "'" + args[i] + "'" : "nothing";
            return "'" + name + "' needs a number, got " + got;
        }
        if (spec->trailing_text && i < args.size() && !find_verb(args[i])) step.text = args[i++];
        out->steps.push_back(std::move(step));
    }
    return {};
}

const char* verb_name(Verb verb) {
    for (const auto& v : verbs())
        if (v.verb == verb) return v.name;
    return "?";
}

const char* result_name(std::int32_t rc) {
    switch (rc) {
        case OPOS_SUCCESS: return "OPOS_SUCCESS";
        case OPOS_E_CLOSED: return "OPOS_E_CLOSED";
        case OPOS_E_CLAIMED: return "OPOS_E_CLAIMED";
        case OPOS_E_NOTCLAIMED: return "OPOS_E_NOTCLAIMED";
        case OPOS_E_NOSERVICE: return "OPOS_E_NOSERVICE";
        case OPOS_E_DISABLED: return "OPOS_E_DISABLED";
        case OPOS_E_ILLEGAL: return "OPOS_E_ILLEGAL";
        case OPOS_E_NOHARDWARE: return "OPOS_E_NOHARDWARE";
        case OPOS_E_OFFLINE: return "OPOS_E_OFFLINE";
        case OPOS_E_NOEXIST: return "OPOS_E_NOEXIST";
        case OPOS_E_EXISTS: return "OPOS_E_EXISTS";
        case OPOS_E_FAILURE: return "OPOS_E_FAILURE";
        case OPOS_E_TIMEOUT: return "OPOS_E_TIMEOUT";
        case OPOS_E_BUSY: return "OPOS_E_BUSY";
        case OPOS_E_EXTENDED: return "OPOS_E_EXTENDED";
        default: return "OPOS_UNKNOWN";
    }
}

std::string json_escape(std::string_view text) { return json::escape(text); }

void StepReport::add(const std::string& name, std::int64_t value) {
    fields.emplace_back(name, std::to_string(value));
    field_is_number.push_back(true);
}

void StepReport::add(const std::string& name, const std::string& value) {
    fields.emplace_back(name, value);
    field_is_number.push_back(false);
}

std::string format_step(const StepReport& r, bool json) {
    if (json) {
        std::string s = "{\"step\":\"" + json_escape(r.step) + "\"";
        if (!r.device.empty()) s += ",\"device\":\"" + json_escape(r.device) + "\"";
        s += ",\"ok\":" + std::string(r.ok ? "true" : "false");
        s += ",\"rc\":" + std::to_string(r.rc) + ",\"rc_name\":\"" + result_name(r.rc) + "\"";
        s += ",\"rce\":" + std::to_string(r.rce);
        for (std::size_t i = 0; i < r.fields.size(); ++i) {
            s += ",\"" + json_escape(r.fields[i].first) + "\":";
            s += r.field_is_number[i] ? r.fields[i].second : "\"" + json_escape(r.fields[i].second) + "\"";
        }
        return s + "}";
    }
    std::string s = (r.ok ? "ok   " : "FAIL ") + r.step;
    if (!r.device.empty()) s += " " + r.device;
    s += ": " + std::to_string(r.rc) + " " + result_name(r.rc) + " (extended " + std::to_string(r.rce) + ")";
    for (const auto& [name, value] : r.fields) s += "\n       " + name + " = " + value;
    return s;
}

std::string format_event(const EventReport& e, bool json) {
    if (json) {
        std::string s = "{\"event\":\"" + json_escape(e.kind) + "\",\"time\":\"" + json_escape(e.time) + "\"";
        if (e.kind == "StatusUpdate") {
            s += ",\"status\":" + std::to_string(e.value);
        } else {
            s += ",\"number\":" + std::to_string(e.value) + ",\"data\":" + std::to_string(e.data) +
                 ",\"text\":\"" + json_escape(e.text) + "\"";
        }
        return s + ",\"thread\":" + std::to_string(e.thread) + "}";
    }
    std::string s = "[" + e.time + "] event " + e.kind + " ";
    if (e.kind == "StatusUpdate") {
        s += std::to_string(e.value);
        if (e.value == CASH_SUE_DRAWEROPEN) s += " (drawer open)";
        if (e.value == CASH_SUE_DRAWERCLOSED) s += " (drawer closed)";
    } else {
        s += "number " + std::to_string(e.value) + ", data " + std::to_string(e.data) + ", text \"" + e.text + "\"";
    }
    return s;
}

void list_devices(platform::Registry& reg, std::vector<DeviceListing>* devices, std::vector<LogicalListing>* names) {
    devices->clear();
    names->clear();
    platform::ScopedKey cls(reg);
    if (reg.open_key(platform::kHklm, kDeviceClassKey, false, cls.out()) != platform::kRegOk) return;
    for (const std::string& key : config::device_keys(reg)) {
        DeviceListing d;
        d.key = key;
        platform::ScopedKey k(reg);
        if (reg.open_key(cls.get(), key, false, k.out()) == platform::kRegOk) {
            config::read_text(reg, k.get(), "", &d.prog_id);
            config::read_text(reg, k.get(), "DeviceDesc", &d.description);
            std::string text;
            if (config::read_text(reg, k.get(), "DeviceID", &text) == platform::kRegOk)
                d.device_id = decimal_value(text);
            text.clear();
            if (config::read_text(reg, k.get(), "Port", &text) == platform::kRegOk)
                d.port = decimal_value(text);
        }
        devices->push_back(std::move(d));
    }
    for (const auto& [name, target] : config::read_logical_names(reg)) names->push_back({name, target});
}

namespace {

std::string port_text(const DeviceListing& d) {
    switch (d.device_id) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial: return "COM" + std::to_string(d.port);
        case kDeviceIdParallel: return "LPT" + std::to_string(d.port);
        case kDeviceIdUsb: return "USB";
        default: return "?";
    }
}

}  // namespace

std::string format_listing(const std::vector<DeviceListing>& devices, const std::vector<LogicalListing>& names,
                           bool json) {
    std::string s;
    if (json) {
        for (const auto& d : devices) {
            s += "{\"device\":\"" + json_escape(d.key) + "\",\"prog_id\":\"" + json_escape(d.prog_id) +
                 "\",\"device_id\":" + std::to_string(d.device_id) + ",\"port\":\"" + json_escape(port_text(d)) +
                 "\",\"description\":\"" + json_escape(d.description) + "\"}\n";
        }
        for (const auto& n : names)
            s += "{\"logical_name\":\"" + json_escape(n.name) + "\",\"device\":\"" + json_escape(n.target) + "\"}\n";
        return s;
    }
    if (devices.empty()) s += "no cash drawer devices configured\n";
    for (const auto& d : devices) {
        s += d.key + "  " + port_text(d) + "  " + (d.prog_id.empty() ? "(no Service Object)" : d.prog_id) + "  " +
             d.description + "\n";
    }
    for (const auto& n : names) s += "logical name " + n.name + " -> " + n.target + "\n";
    return s;
}

Resolved resolve(platform::Registry& reg, const std::string& name) {
    Resolved r;
    r.key = config::translate_device_name(config::read_logical_names(reg), name);
    platform::ScopedKey k(reg);
    if (reg.open_key(platform::kHklm, std::string(kDeviceClassKey) + "\\" + r.key, false, k.out()) !=
        platform::kRegOk)
        return r;
    r.found = true;
    config::read_text(reg, k.get(), "", &r.prog_id);
    return r;
}

}  // namespace zrn::cli
