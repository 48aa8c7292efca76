// The checks of a view's device entries, logical names and ports.
#include "doctor_checks.h"

namespace zrn::cfg::doctor_checks {

void ViewCheck::entries() {
    keys_ = config::device_keys(reg_);
    if (keys_.empty()) {
        add(check::kEntry, Severity::warn, "no device entries: applications find no drawer",
            "add one with QVTUtility or " + config_cmd() + " add");
        return;
    }
    for (const auto& key : keys_) entry(key);
}

void ViewCheck::entry(const std::string& key) {
    const DeviceType* type = device_type_of(key);
    if (!type) {
        add(check::kEntry, Severity::fail,
            key + " is no device entry: its name begins with none of CD926, CD347, CD615, CD730",
            config_cmd() + " remove " + key);
        return;
    }
    config::StoredEntry st;
    platform::NotingRegistry noting(reg_);
    if (!config::read_stored_entry(noting, key, &st)) {
        // Which call the registry refused, and the system's words for why.
        const std::string why = noting.last_failure() == platform::kRegOk
                                    ? std::string()
                                    : ": " + noting.last_call() + " failed: " + noting.error_text(noting.last_failure());
        add(check::kEntry, Severity::fail, key + " cannot be opened" + why, "check the key's permissions");
        return;
    }
    const std::size_t before = out_->size();
    const config::DeviceEntry defaults = config::default_entry(key, *type);
    const config::DeviceEntry& e = st.entry;

    // What mends missing or wrong values: the settings zrncd config
    // changes, the rest written with reg.exe; each gets its default.
    const std::vector<std::string_view> changeable = config::changeable_settings(type->DeviceID);
    const auto change_advice = [&](const std::vector<std::string>& names) {
        std::string args;
        std::vector<std::string> raw;
        for (const auto& n : names) {
            const config::Setting* s = config::find_setting(type->DeviceID, n);
            if (s && std::find(changeable.begin(), changeable.end(), n) != changeable.end()) {
                args += " " + assignment(n, s->number ? std::to_string(defaults.*s->number) : defaults.*s->text);
            } else if (s && s->number) {
                raw.push_back(reg_add(key, n, std::to_string(defaults.*s->number), true));
            } else if (s) {
                raw.push_back(reg_add(key, n, defaults.*s->text, false));
            } else if (n == "DeviceName") {
                raw.push_back(reg_add(key, n, key, false));
            } else if (n == "DeviceDesc") {
                raw.push_back(reg_add(key, n, std::string(type->default_desc), false));
            } else if (n == "DeviceID") {
                raw.push_back(reg_add(key, n, std::to_string(type->DeviceID), true));
            } else if (n.empty()) {
                raw.push_back(reg_add(key, n, std::string(config::kServiceProgId), false));
            }
        }
        std::vector<std::string> steps;
        if (!args.empty())
            steps.push_back(std::string(names.size() == 1 ? "set it" : "set them") + " with " + config_cmd() +
                            " change " + key + args);
        for (const auto& r : raw) steps.push_back((steps.empty() ? "write it with " : "") + r);
        return steps.empty() ? readd_advice(key, *type) : join(steps, "; ");
    };

    bool default_missing = false;
    std::vector<std::string> missing;
    for (const auto& m : st.missing) {
        if (m.empty())
            default_missing = true;
        else
            missing.push_back(m);
    }
    if (default_missing || (!st.prog_id.empty() && st.prog_id != config::kServiceProgId))
        add(check::kEntry, Severity::fail,
            key + ": its default value is " + (default_missing ? "missing" : "\"" + st.prog_id + "\"") +
                ", so a Control Object does not create ZRNOPOSCD.SO for it",
            change_advice({""}));
    const bool id_present = std::find(missing.begin(), missing.end(), "DeviceID") == missing.end();
    if (id_present && e.DeviceID != type->DeviceID) {
        // The stored DeviceID decided which values were read: what is
        // missing for it says nothing about this type.
        add(check::kEntry, Severity::fail,
            key + ": DeviceID " + std::to_string(e.DeviceID) + " does not match its name (" +
                std::string(type->key) + " is DeviceID " + std::to_string(type->DeviceID) + ")",
            readd_advice(key, *type));
    } else {
        if (!missing.empty())
            add(check::kEntry, Severity::fail, key + " is incomplete: it lacks " + join(missing),
                change_advice(missing));
        other_types(key, st.other_type, change_advice);
        if (id_present) settings_in_range(key, st, change_advice);
    }
    const bool name_present = std::find(missing.begin(), missing.end(), "DeviceName") == missing.end();
    if (name_present && e.DeviceName != key)
        add(check::kEntry, Severity::fail,
            key + ": DeviceName \"" + e.DeviceName + "\" differs from the key name, so the drawer's status "
                  "reports do not reach the Service Object",
            change_advice({"DeviceName"}));
    if (e.DeviceDesc.size() > config::kDeviceDescMax)
        add(check::kEntry, Severity::warn,
            key + ": DeviceDesc is longer than " + std::to_string(config::kDeviceDescMax) + " characters",
            change_advice({"DeviceDesc"}));
    if (type->DeviceID != kDeviceIdUsb && (so_unit_index(key) < 0 || port_unit_index(key) < 0))
        add(check::kEntry, Severity::fail, key + ": the drivers derive no unit number from this name",
            readd_advice(key, *type));

    // Whatever else is wrong with it, a drawer on a valid port takes that
    // port from the others.
    const bool port_read = std::find(missing.begin(), missing.end(), "Port") == missing.end() &&
                           std::find(st.other_type.begin(), st.other_type.end(), "Port") == st.other_type.end();
    const config::Setting* port = config::find_setting(type->DeviceID, "Port");
    if (id_present && e.DeviceID == type->DeviceID && port_read && port && config::code_allowed(port->sel, e.Port))
        good_.push_back({key, e});
    if (out_->size() == before)
        add(check::kEntry, Severity::ok, key + ": complete (" + std::string(type->default_desc) + port_text(e) + ")");
}

template <typename Advice>
void ViewCheck::other_types(const std::string& key, const std::vector<std::string>& names, const Advice& change_advice) {
    for (const auto& name : names) {
        const std::uint32_t t = value_type(reg_, entry_path(key), name);
        const bool number = name == "DeviceID" || (config::find_setting(device_type_of(key)->DeviceID, name) &&
                                                   config::find_setting(device_type_of(key)->DeviceID, name)->number);
        // A number stored as text or a text as a number reads the same;
        // any other type reads as "?", which is 0 as a number.
        if (t == kRegTypeSz || t == kRegTypeDword)
            add(check::kEntry, Severity::warn,
                key + ": " + value_label(name) + " is stored as " + (t == kRegTypeSz ? "REG_SZ" : "REG_DWORD") +
                    " where the format has " + (number ? "REG_DWORD" : "REG_SZ") + "; it reads the same",
                "write it again with its type: " + without_prefix(without_prefix(change_advice({name}), "set it with "), "write it with "));
        else
            add(check::kEntry, Severity::fail,
                key + ": " + value_label(name) + " is stored with registry type " + std::to_string(t) +
                    " and reads as \"?\"",
                change_advice({name}));
    }
}

template <typename Advice>
void ViewCheck::settings_in_range(const std::string& key, const config::StoredEntry& st, const Advice& change_advice) {
    const config::DeviceEntry& e = st.entry;
    for (const config::Setting& s : config::settings_of(e.DeviceID)) {
        const std::string name(s.name);
        if (std::find(st.missing.begin(), st.missing.end(), name) != st.missing.end()) continue;
        if (std::find(st.other_type.begin(), st.other_type.end(), name) != st.other_type.end() &&
            value_type(reg_, entry_path(key), name) != kRegTypeSz &&
            value_type(reg_, entry_path(key), name) != kRegTypeDword)
            continue;  // already reported as unreadable
        if (s.number && !config::code_allowed(s.sel, e.*s.number)) {
            add(check::kEntry, Severity::fail,
                key + ": " + name + " " + std::to_string(e.*s.number) + " is not one of " +
                    std::string(s.sel == "USB" ? "0" : s.sel),
                change_advice({name}));
        } else if (s.text) {
            const std::string& t = e.*s.text;
            const bool may_be_empty = name == "SecondOC";
            if (!(may_be_empty && t.empty()) && !config::valid_open_code(t))
                add(check::kEntry, Severity::fail,
                    key + ": " + name + " \"" + t + "\" is no opening code (a number from 0 to 255)",
                    change_advice({name}));
        }
    }
}

void ViewCheck::logical_names() {
    const config::LogicalNames names = config::read_logical_names(reg_);
    std::set<std::string> keys;
    for (const auto& k : keys_) keys.insert(ascii_lower(k));
    int dangling = 0;
    for (const auto& [name, target] : names) {
        if (keys.count(ascii_lower(target))) continue;
        ++dangling;
        add(check::kLogicalName, Severity::fail,
            "the logical name " + name + " points at " + target + ", which has no entry",
            "remove it: " + config_cmd() + " names remove " + target + " " + quoted(name) +
                " (or add the device " + target + ")");
    }
    if (dangling == 0)
        add(check::kLogicalName, Severity::ok,
            names.empty() ? std::string("no logical names")
                          : std::to_string(names.size()) + " logical name" + (names.size() == 1 ? "" : "s") +
                                ", each points at an entry");
}

void ViewCheck::ports() {
    // Serial types share the COM numbers, the parallel type has its own.
    std::map<std::string, std::vector<const std::pair<std::string, config::DeviceEntry>*>> by_port;
    for (const auto& g : good_) {
        const auto& e = g.second;
        if (e.DeviceID == kDeviceIdUsb) continue;
        by_port[(e.DeviceID == kDeviceIdParallel ? "LPT" : "COM") + std::to_string(e.Port)].push_back(&g);
    }
    bool conflict = false;
    std::vector<std::string> shared_lines;
    for (const auto& [port, list] : by_port) {
        if (list.size() < 2) continue;
        std::vector<std::string> names;
        std::set<std::int32_t> units;
        bool all_smart = true;
        for (const auto* g : list) {
            names.push_back(g->first);
            all_smart = all_smart && g->second.DeviceID == kDeviceIdSmartSerial;
            units.insert(port_unit_index(g->first));
        }
        if (all_smart && units.size() == list.size()) {
            std::vector<std::string> unit_texts;
            for (const auto* g : list) unit_texts.push_back(std::to_string(port_unit_index(g->first) + 1));
            shared_lines.push_back(and_list(names) + " share " + port + " as units " + and_list(unit_texts) +
                                   " of one line");
            continue;
        }
        conflict = true;
        add(check::kPorts, Severity::fail, and_list(names) + " share " + port,
            free_port_advice(port, *list.back()));
    }
    if (conflict) return;
    std::string text = "no port conflicts";
    if (!shared_lines.empty()) text += "; " + join(shared_lines, "; ");
    add(check::kPorts, Severity::ok, text);
}

std::string ViewCheck::free_port_advice(const std::string& port, const std::pair<std::string, config::DeviceEntry>& g) {
    const bool lpt = port.rfind("LPT", 0) == 0;
    std::set<std::int32_t> used;
    for (const auto& o : good_) {
        const bool o_lpt = o.second.DeviceID == kDeviceIdParallel;
        if (o.second.DeviceID != kDeviceIdUsb && o_lpt == lpt) used.insert(o.second.Port);
    }
    for (std::int32_t p = 1; p <= (lpt ? 2 : 4); ++p)
        if (!used.count(p))
            return "give one of them another port: " + config_cmd() + " change " + g.first + " Port=" +
                   std::to_string(p);
    return "remove one of them: " + config_cmd() + " remove " + g.first;
}

}  // namespace zrn::cfg::doctor_checks
