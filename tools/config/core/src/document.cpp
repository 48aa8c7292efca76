#include "zrn/cfg/document.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "zrn/device_types.h"
#include "zrn/text.h"
#include "zrn/config/values.h"
#include "zrn/config/rules.h"

namespace zrn::cfg {

using platform::kRegOk;
using platform::ScopedKey;

namespace {

constexpr std::string_view kStatusTexts[] = {"CTS", "RI", "CTS+RI", "none"};

// The texts a number setting is shown with, by code; empty when its codes
// are shown as they are.
std::vector<std::pair<std::int32_t, std::string>> code_texts(std::int32_t device_id, std::string_view name) {
    std::vector<std::pair<std::int32_t, std::string>> t;
    if (name == "Port") {
        const std::string prefix(config::port_prefix(device_id));
        if (prefix.empty()) return t;
        for (std::int32_t i = 1; i <= (prefix == "COM" ? 4 : 2); ++i) t.emplace_back(i, prefix + std::to_string(i));
    } else if (name == "BaudRate") {
        for (std::size_t i = 0; i < config::kBaudRateItems.size(); ++i)
            t.emplace_back(static_cast<std::int32_t>(i + 1), std::string(config::kBaudRateItems[i]));
    } else if (name == "Parity") {
        for (std::size_t i = 0; i < config::kParityItems.size(); ++i)
            t.emplace_back(static_cast<std::int32_t>(i), std::string(config::kParityItems[i]));
    } else if (name == "HandShaking") {
        for (std::size_t i = 0; i < config::kHandShakingItems.size(); ++i)
            t.emplace_back(static_cast<std::int32_t>(i), std::string(config::kHandShakingItems[i]));
        t.emplace_back(2, std::string(config::kHandShakingXonXoff));
    } else if (name == "Status") {
        for (std::size_t i = 0; i < std::size(kStatusTexts); ++i)
            t.emplace_back(static_cast<std::int32_t>(i), std::string(kStatusTexts[i]));
    }
    return t;
}

}  // namespace

bool has_control_character(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F;
    });
}

std::string setting_text(std::int32_t device_id, const config::Setting& s, const config::DeviceEntry& e) {
    if (s.text) return e.*s.text;
    const std::int32_t code = e.*s.number;
    for (const auto& [c, text] : code_texts(device_id, s.name))
        if (c == code) return text;
    return std::to_string(code);
}

bool parse_setting(std::int32_t device_id, const config::Setting& s, std::string_view text, config::DeviceEntry* e,
                   std::string* error) {
    if (s.text) {
        // The first opening code is what fires the drawer; the second may be
        // left empty.
        if ((text.empty() && s.name == "SecondOC") || config::valid_open_code(text)) {
            e->*s.text = std::string(text);
            return true;
        }
        *error = "'" + std::string(text) + "' is no opening code; give a decimal character code from 0 to 255" +
                 (s.name == "SecondOC" ? " (or nothing)" : "");
        return false;
    }
    const auto texts = code_texts(device_id, s.name);
    std::int32_t code = 0;
    bool found = parse_int32(text, &code) && config::code_allowed(s.sel, code);
    for (const auto& [c, t] : texts)
        if (!found && ascii_lower(t) == ascii_lower(text)) {
            code = c;
            found = true;
        }
    if (found) {
        e->*s.number = code;
        return true;
    }
    std::vector<std::string> allowed;
    for (const auto& [c, t] : texts)
        if (config::code_allowed(s.sel, c)) allowed.push_back(t);
    std::string codes(s.sel);
    std::replace(codes.begin(), codes.end(), ',', ' ');
    if (s.sel == "USB") codes = "0";
    *error = "'" + std::string(text) + "' is not allowed; use " +
             (allowed.empty() ? "one of the codes " + codes : join(allowed, ", ") + " (or the codes " + codes + ")");
    return false;
}

Configuration read_configuration(platform::Registry& reg) {
    Configuration c;
    {
        ScopedKey key(reg);
        if (reg.open_key(platform::kHklm, kServiceSettingsKey, false, key.out()) == kRegOk) {
            std::string text;
            if (config::read_text(reg, key.get(), "TargetPath", &text) == kRegOk) c.service.TargetPath = text;
            for (const std::string_view name : kServiceNumbers)
                if (config::read_text(reg, key.get(), name, &text) == kRegOk)
                    c.service.numbers.emplace_back(std::string(name), decimal_value(text));
        }
    }
    for (const std::string& k : config::device_keys(reg)) {
        config::StoredEntry stored;
        if (!config::read_stored_entry(reg, k, &stored)) continue;
        Device d;
        d.entry = stored.entry;
        // The key's name is the device's name, whatever its DeviceName value says.
        d.entry.DeviceName = k;
        for (const std::string& m : stored.missing)
            if (config::find_setting(d.entry.DeviceID, m)) d.missing.push_back(m);
        c.devices.push_back(std::move(d));
    }
    c.names = config::read_logical_names(reg);
    return c;
}

bool has_configuration(const Configuration& c) {
    return c.service.TargetPath || !c.service.numbers.empty() || !c.devices.empty() || !c.names.empty();
}

json::Value to_json(const Configuration& c) {
    json::Value doc = json::Value::object();
    doc.set("schema", kSchemaName);
    doc.set("version", kSchemaVersion);
    json::Value service = json::Value::object();
    if (c.service.TargetPath) service.set("TargetPath", *c.service.TargetPath);
    for (const auto& [name, value] : c.service.numbers) service.set(name, value);
    doc.set("service", service);
    json::Value devices = json::Value::array();
    for (const Device& d : c.devices) {
        const config::DeviceEntry& e = d.entry;
        json::Value o = json::Value::object();
        o.set("key", e.DeviceName);
        o.set("DeviceID", e.DeviceID);
        o.set("DeviceDesc", e.DeviceDesc);
        for (const config::Setting& s : config::settings_of(e.DeviceID)) {
            if (std::find(d.missing.begin(), d.missing.end(), s.name) != d.missing.end()) continue;
            if (s.number)
                o.set(s.name, e.*s.number);
            else
                o.set(s.name, e.*s.text);
        }
        devices.push(std::move(o));
    }
    doc.set("devices", devices);
    json::Value names = json::Value::array();
    for (const auto& [name, target] : c.names) {
        json::Value o = json::Value::object();
        o.set("name", name);
        o.set("device", target);
        names.push(std::move(o));
    }
    doc.set("logicalNames", names);
    return doc;
}

namespace {

class Checker {
public:
    explicit Checker(std::vector<std::string>* errors) : errors_(errors) {}
    // Device keys and logical names met so far, by the name the registry
    // compares (case ignored): duplicates are found in one pass, each
    // reported once.
    std::unordered_set<std::string> device_keys;
    std::unordered_set<std::string> logical_names;
    std::unordered_map<std::string, std::size_t> device_index;  // exact key name: its device
    void error(const std::string& place, const std::string& text) { errors_->push_back(place + ": " + text); }
    bool ok() const { return errors_->empty(); }

    // Members outside the allowed set are errors: a misspelt name must not
    // be dropped without a word.
    void only(const json::Value& o, const std::string& place, const std::vector<std::string_view>& allowed,
              const std::string& what) {
        for (const auto& [name, v] : o.members())
            if (std::find(allowed.begin(), allowed.end(), name) == allowed.end())
                error(place, what + " has no member \"" + name + "\"");
    }

private:
    std::vector<std::string>* errors_;
};

bool int32_of(const json::Value& v, std::int32_t* out) {
    if (!v.is_number() || v.as_number() < INT32_MIN || v.as_number() > INT32_MAX) return false;
    *out = static_cast<std::int32_t>(v.as_number());
    return true;
}

void read_service(const json::Value& v, Checker& check, ServiceValues* out) {
    if (!v.is_object()) {
        check.error("service", "must be an object");
        return;
    }
    std::vector<std::string_view> allowed{"TargetPath"};
    allowed.insert(allowed.end(), std::begin(kServiceNumbers), std::end(kServiceNumbers));
    check.only(v, "service", allowed, "the service settings");
    if (const json::Value* p = v.find("TargetPath")) {
        if (!p->is_string() || p->as_string().empty())
            check.error("service.TargetPath", "must be a folder name");
        else if (has_control_character(p->as_string()))
            check.error("service.TargetPath", "holds a control character, which no folder name has");
        else if (p->as_string().size() > config::kTargetPathMax)
            check.error("service.TargetPath", "longer than " + std::to_string(config::kTargetPathMax) + " characters");
        else
            out->TargetPath = p->as_string();
    }
    for (const std::string_view name : kServiceNumbers) {
        const json::Value* n = v.find(name);
        if (!n) continue;
        std::int32_t value = 0;
        if (!int32_of(*n, &value))
            check.error("service." + std::string(name), "must be a whole number of 32 bits");
        else
            out->numbers.emplace_back(std::string(name), value);
    }
}

void read_device(const json::Value& v, const std::string& place, Checker& check, Configuration* out) {
    if (!v.is_object()) {
        check.error(place, "must be an object");
        return;
    }
    const json::Value* key = v.find("key");
    if (!key || !key->is_string()) {
        check.error(place, "\"key\" (the device key name, such as \"CD926-2\") is missing");
        return;
    }
    const std::string name = key->as_string();
    const DeviceType* type = device_type_of(name);
    if (!type || !config::device_key_allowed(name)) {
        check.error(place + ".key",
                    "'" + json::escape(name) +
                        "' is no device key name: CD926, CD347 or CD615 alone or with -2 to -9, or CD730");
        return;
    }
    const bool again = !check.device_keys.insert(ascii_lower(name)).second;
    if (again) check.error(place + ".key", "'" + name + "' is given twice");

    Device d;
    d.entry = config::default_entry(name, *type);
    const std::vector<config::Setting> settings = config::settings_of(type->DeviceID);
    std::vector<std::string_view> allowed{"key", "DeviceID", "DeviceDesc", "DeviceName"};
    for (const config::Setting& s : settings) allowed.push_back(s.name);
    for (const auto& [member, value] : v.members())
        if (std::find(allowed.begin(), allowed.end(), member) == allowed.end())
            check.error(place, std::string(type->key) + " has no setting \"" + member + "\"");

    if (const json::Value* id = v.find("DeviceID"); id && !(id->is_number() && id->as_number() == type->DeviceID))
        check.error(place + ".DeviceID", "must be " + std::to_string(type->DeviceID) + " for " + name);
    if (const json::Value* n = v.find("DeviceName"); n && !(n->is_string() && n->as_string() == name))
        check.error(place + ".DeviceName", "must be the key name '" + name + "'");
    if (const json::Value* desc = v.find("DeviceDesc")) {
        if (!desc->is_string() || desc->as_string().empty())
            check.error(place + ".DeviceDesc", "must be a text");
        else if (has_control_character(desc->as_string()))
            check.error(place + ".DeviceDesc", "holds a control character; the registry would not keep it as given");
        else if (desc->as_string().size() > config::kDeviceDescMax)
            check.error(place + ".DeviceDesc",
                        "longer than " + std::to_string(config::kDeviceDescMax) + " characters");
        else
            d.entry.DeviceDesc = desc->as_string();
    }
    for (const config::Setting& s : settings) {
        const json::Value* value = v.find(s.name);
        if (!value) continue;
        std::string text;
        if (value->is_number())
            text = std::to_string(value->as_number());
        else if (value->is_string())
            text = value->as_string();
        else {
            check.error(place + "." + std::string(s.name), "must be a number or a text");
            continue;
        }
        std::string why;
        if (!parse_setting(type->DeviceID, s, text, &d.entry, &why))
            check.error(place + "." + std::string(s.name), why);
    }
    if (!again) check.device_index.emplace(name, out->devices.size());
    out->devices.push_back(std::move(d));
}

void read_name(const json::Value& v, const std::string& place, Checker& check, Configuration* out) {
    if (!v.is_object()) {
        check.error(place, "must be an object");
        return;
    }
    check.only(v, place, {"name", "device"}, "a logical name");
    const json::Value* name = v.find("name");
    const json::Value* device = v.find("device");
    if (!name || !name->is_string() || !device || !device->is_string()) {
        check.error(place, "needs \"name\" and \"device\" texts");
        return;
    }
    const std::string& n = name->as_string();
    if (n.empty() || n.front() == ' ' || n.back() == ' ' || n.size() > 127) {
        check.error(place + ".name", "'" + json::escape(n) +
                                         "' is no logical name: 1 to 127 characters, no blank at either end");
        return;
    }
    if (has_control_character(n)) {
        check.error(place + ".name", "'" + json::escape(n) +
                                         "' is no logical name: it holds a control character, which the registry "
                                         "would not keep as given");
        return;
    }
    if (check.device_index.count(device->as_string()) == 0) {
        check.error(place + ".device", "'" + json::escape(device->as_string()) + "' is none of the document's devices");
        return;
    }
    if (!check.logical_names.insert(ascii_lower(n)).second) {
        check.error(place + ".name", "'" + n + "' is given twice (the registry ignores case in names)");
        return;
    }
    out->names.emplace_back(n, device->as_string());
}

}  // namespace

bool from_json(const json::Value& doc, Configuration* out, std::vector<std::string>* errors) {
    errors->clear();
    Checker check(errors);
    Configuration c;
    if (!doc.is_object()) {
        check.error("document", "must be a JSON object");
        return false;
    }
    const json::Value* schema = doc.find("schema");
    if (!schema || !schema->is_string() || schema->as_string() != kSchemaName) {
        check.error("schema", "this is no cash drawer configuration (expected \"" + std::string(kSchemaName) + "\")");
        return false;
    }
    const json::Value* version = doc.find("version");
    if (!version || !version->is_number() || version->as_number() < 1) {
        check.error("version", "must be a whole number from 1");
        return false;
    }
    if (version->as_number() > kSchemaVersion) {
        check.error("version", std::to_string(version->as_number()) + " is newer than this zrncd reads (" +
                                   std::to_string(kSchemaVersion) + "); use the zrncd that wrote it, or a newer one");
        return false;
    }
    check.only(doc, "document", {"schema", "version", "service", "devices", "logicalNames"}, "the document");
    if (const json::Value* s = doc.find("service"))
        read_service(*s, check, &c.service);
    else
        c.service.given = false;
    const json::Value* devices = doc.find("devices");
    if (!devices || !devices->is_array()) {
        check.error("devices", "must be a list of device entries");
    } else {
        for (std::size_t i = 0; i < devices->items().size(); ++i)
            read_device(devices->items()[i], "devices[" + std::to_string(i) + "]", check, &c);
    }
    if (const json::Value* names = doc.find("logicalNames")) {
        if (!names->is_array()) {
            check.error("logicalNames", "must be a list");
        } else {
            for (std::size_t i = 0; i < names->items().size(); ++i)
                read_name(names->items()[i], "logicalNames[" + std::to_string(i) + "]", check, &c);
        }
    }
    if (!check.ok()) return false;
    *out = std::move(c);
    return true;
}

std::vector<std::string> shared_ports(const Configuration& c) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < c.devices.size(); ++i) {
        const config::DeviceEntry& a = c.devices[i].entry;
        const std::string_view prefix = config::port_prefix(a.DeviceID);
        if (prefix.empty()) continue;
        for (std::size_t j = i + 1; j < c.devices.size(); ++j) {
            const config::DeviceEntry& b = c.devices[j].entry;
            if (config::port_prefix(b.DeviceID) == prefix && b.Port == a.Port)
                out.push_back(a.DeviceName + " and " + b.DeviceName + " both use " + std::string(prefix) +
                              std::to_string(a.Port));
        }
    }
    return out;
}

std::vector<std::string> differences(const Configuration& a, std::string_view a_name, const Configuration& b,
                                     std::string_view b_name) {
    std::vector<std::string> out;
    const std::string an(a_name), bn(b_name);
    if (a.service.numbers != b.service.numbers) out.push_back("the service settings differ");
    const auto find = [](const Configuration& c, const std::string& key) -> const Device* {
        for (const Device& d : c.devices)
            if (d.entry.DeviceName == key) return &d;
        return nullptr;
    };
    for (const Device& d : a.devices) {
        const Device* other = find(b, d.entry.DeviceName);
        if (!other) {
            out.push_back(d.entry.DeviceName + " is only in " + an);
            continue;
        }
        const config::DeviceEntry& x = d.entry;
        const config::DeviceEntry& y = other->entry;
        std::vector<std::string> changed;
        if (x.DeviceID != y.DeviceID) changed.push_back("DeviceID");
        if (x.DeviceDesc != y.DeviceDesc) changed.push_back("DeviceDesc");
        for (const config::Setting& s : config::settings_of(x.DeviceID)) {
            const bool mx = std::find(d.missing.begin(), d.missing.end(), s.name) != d.missing.end();
            const bool my = std::find(other->missing.begin(), other->missing.end(), s.name) != other->missing.end();
            const bool same = mx == my && (mx || (s.number ? x.*s.number == y.*s.number : x.*s.text == y.*s.text));
            if (!same) changed.emplace_back(s.name);
        }
        if (!changed.empty()) out.push_back(x.DeviceName + " differs in " + join(changed, ", "));
    }
    for (const Device& d : b.devices)
        if (!find(a, d.entry.DeviceName)) out.push_back(d.entry.DeviceName + " is only in " + bn);
    for (const auto& entry : a.names) {
        const std::string& name = entry.first;
        const std::string& target = entry.second;
        const auto it = std::find_if(b.names.begin(), b.names.end(), [&](const auto& p) { return p.first == name; });
        if (it == b.names.end())
            out.push_back("logical name " + name + " is only in " + an);
        else if (it->second != target)
            out.push_back("logical name " + name + " stands for " + target + " in " + an + " but for " + it->second +
                          " in " + bn);
    }
    for (const auto& entry : b.names) {
        const std::string& name = entry.first;
        if (std::find_if(a.names.begin(), a.names.end(), [&](const auto& p) { return p.first == name; }) ==
            a.names.end())
            out.push_back("logical name " + name + " is only in " + bn);
    }
    return out;
}

}  // namespace zrn::cfg
