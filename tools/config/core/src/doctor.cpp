#include "zrn/cfg/doctor.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>

#include "zrn/cfg/document.h"
#include "zrn/cfg/pe_image.h"
#include "zrn/device_config.h"
#include "zrn/device_types.h"
#include "zrn/driver_exports.h"
#include "zrn/json.h"
#include "zrn/text.h"
#include "zrn/utility/rules.h"

namespace zrn::cfg {

namespace {

using platform::Registry;
using platform::RegStatus;
using platform::ScopedKey;

constexpr std::size_t kTextCapacity = 1024;

const std::vector<std::string> kPortExports(kPortDriverExports.begin(), kPortDriverExports.end());
const std::vector<std::string> kUsbExports(kUsbDriverExports.begin(), kUsbDriverExports.end());

bool key_exists(Registry& reg, const std::string& path) {
    ScopedKey key(reg);
    return reg.open_key(platform::kHklm, path, false, key.out()) == platform::kRegOk;
}

// A key's default value (or a named one) as text; false when the key or the
// value is missing.
bool read_value(Registry& reg, const std::string& path, std::string_view name, std::string* text) {
    ScopedKey key(reg);
    if (reg.open_key(platform::kHklm, path, false, key.out()) != platform::kRegOk) return false;
    platform::RegData d;
    if (reg.query_value(key.get(), name, kTextCapacity, &d) != platform::kRegOk) return false;
    // Servers are often registered as REG_EXPAND_SZ; the file port expands them.
    constexpr std::uint32_t kRegTypeExpandSz = 2;
    if (d.type != kRegTypeSz && d.type != kRegTypeExpandSz) return false;
    std::string t(d.bytes.begin(), d.bytes.end());
    t.resize(std::min(t.size(), t.find('\0')));
    *text = t;
    return true;
}

std::vector<std::string> sub_keys(Registry& reg, const std::string& path) {
    std::vector<std::string> names;
    ScopedKey key(reg);
    if (reg.open_key(platform::kHklm, path, false, key.out()) != platform::kRegOk) return names;
    std::string name;
    for (std::uint32_t i = 0; i < 100000 && reg.enum_key(key.get(), i, &name) == platform::kRegOk; ++i)
        names.push_back(name);
    return names;
}

// "a", "a and b", "a, b and c".
std::string and_list(const std::vector<std::string>& items) {
    std::string s;
    for (std::size_t i = 0; i < items.size(); ++i)
        s += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    return s;
}

// The registry type of a value, 0 when it cannot be read.
std::uint32_t value_type(Registry& reg, const std::string& path, std::string_view name) {
    ScopedKey key(reg);
    if (reg.open_key(platform::kHklm, path, false, key.out()) != platform::kRegOk) return 0;
    platform::RegData d;
    if (reg.query_value(key.get(), name, config::kValueBuffer, &d) != platform::kRegOk) return 0;
    return d.type;
}

std::string without_prefix(const std::string& s, std::string_view prefix) {
    return s.rfind(prefix, 0) == 0 ? s.substr(prefix.size()) : s;
}

std::string value_label(const std::string& name) { return name.empty() ? "(default)" : name; }

// A value as a command line argument: quoted when it holds blanks.
std::string assignment(const std::string& name, const std::string& value) {
    if (value.find_first_of(" \t") == std::string::npos && !value.empty()) return name + "=" + value;
    return "\"" + name + "=" + value + "\"";
}

std::string entry_path(const std::string& key) { return std::string(kDeviceClassKey) + "\\" + key; }

std::uint16_t machine_of_view(const std::string& view) { return view == "32" ? kPeMachineI386 : kPeMachineAmd64; }

std::string bits_text(const std::string& view) { return view + "-bit"; }

class ViewCheck {
public:
    ViewCheck(const DoctorInput& in, const DoctorView& v, std::vector<Finding>* out)
        : in_(in), v_(v), reg_(*v.registry), out_(out) {
        package_ = v.name == "32" ? "the x86 package" : "the x64 package";
        regsvr32_ = in.two_views && v.name == "32" ? "C:\\Windows\\SysWOW64\\regsvr32.exe" : "regsvr32";
        own_ = in.own_view == v.name;
        config::read_service_settings(reg_, &settings_);
    }

    // The class id ZRNOPOSCD.SO names. Since Windows 7 both views share the
    // program identifiers (class keys are not shared), so every view is
    // asked, this one first.
    std::string so_clsid() const {
        std::string clsid;
        if (read_value(reg_, kServiceProgIdKey, "", &clsid) && !clsid.empty()) return clsid;
        for (const auto& other : in_.all_views)
            if (other.registry && other.registry != &reg_ && read_value(*other.registry, kServiceProgIdKey, "", &clsid) &&
                !clsid.empty())
                return clsid;
        return {};
    }

    // Whether anything of ours is in this view: the Service Object's class
    // or any cash drawer configuration.
    bool installed() {
        const std::string clsid = so_clsid();
        if (!clsid.empty() && key_exists(reg_, "SOFTWARE\\Classes\\CLSID\\" + clsid)) return true;
        return has_configuration(read_configuration(reg_));
    }

    // False when the view was skipped as not installed.
    bool run() {
        if (!installed()) {
            add(check::kInstalled, Severity::skip,
                "not installed in this view: no Service Object and no cash drawer configuration",
                "nothing to do unless " + bits_text(v_.name) + " POS applications use a drawer: then install " +
                    package_);
            return false;
        }
        service_object();
        target_path_and_drivers();
        entries();
        logical_names();
        ports();
        control_object();
        return true;
    }

private:
    void add(const char* check, Severity s, std::string text, std::string advice = {}) {
        out_->push_back(Finding{v_.name, check, s, std::move(text), s == Severity::ok ? "" : std::move(advice)});
    }

    std::string so_path_hint() const {
        return settings_.TargetPath.empty() ? "<folder>\\ZRNOPOSCD.dll" : settings_.TargetPath + "\\ZRNOPOSCD.dll";
    }
    std::string register_advice(const std::string& dll) const {
        return "reinstall " + package_ + ", or register the Service Object: " + regsvr32_ + " \"" + dll + "\"";
    }

    // Reads a PE file; a finding and false when it is missing or unreadable.
    bool read_pe(const char* check, const std::string& what, const std::string& path, PeImage* image,
                 const std::string& missing_advice) {
        if (!in_.files->exists(path)) {
            add(check, Severity::fail, what + " " + path + " does not exist", missing_advice);
            return false;
        }
        std::vector<std::uint8_t> bytes;
        if (!in_.files->read(path, &bytes, kPeMaxFileBytes)) {
            add(check, Severity::fail, what + " " + path + " cannot be read",
                "check the file's permissions, or replace it from " + package_);
            return false;
        }
        std::string error;
        if (!read_pe_image(bytes, image, &error)) {
            add(check, Severity::fail, what + " " + path + " is no Windows DLL (" + error + ")",
                "replace it with the file from " + package_);
            return false;
        }
        if (image->machine != machine_of_view(v_.name)) {
            add(check, Severity::fail,
                what + " " + path + " is built for " + machine_name(image->machine) + ", but " +
                    bits_text(v_.name) + " applications need " + machine_name(machine_of_view(v_.name)),
                "replace it with the file from " + package_);
            return false;
        }
        return true;
    }

    // zrncd config working on this view.
    std::string config_cmd() const { return in_.two_views ? "zrncd config --view " + v_.name : "zrncd config"; }
    std::string reg_view() const { return in_.two_views ? " /reg:" + v_.name : ""; }
    static std::string quoted(const std::string& s) { return "\"" + s + "\""; }

    // A reg.exe command writing one value of a device entry ("" the default value).
    std::string reg_add(const std::string& key, const std::string& name, const std::string& data, bool number) const {
        return "reg add \"HKLM\\" + entry_path(key) + "\"" + (name.empty() ? " /ve" : " /v " + quoted(name)) +
               (number ? " /t REG_DWORD /d " + data : " /t REG_SZ /d " + quoted(data)) + reg_view() + " /f";
    }

    // An entry beyond mending value by value.
    std::string readd_advice(const std::string& key, const DeviceType& type) const {
        if (type.DeviceID == kDeviceIdUsb)
            return config_cmd() + " remove " + key + ", then reinstall " + package_ +
                   ", which writes the USB entry CD730 when there is none";
        return config_cmd() + " remove " + key + ", then add the device again: " + config_cmd() + " add " +
               std::string(type.key);
    }

    void service_object() {
        const std::string clsid = so_clsid();
        if (clsid.empty()) {
            add(check::kServiceObject, Severity::fail, "the Service Object ZRNOPOSCD.SO is not registered",
                register_advice(so_path_hint()));
            return;
        }
        const std::string class_key = "SOFTWARE\\Classes\\CLSID\\" + clsid;
        std::string path;
        if (!read_value(reg_, class_key + "\\InprocServer32", "", &path) || path.empty()) {
            add(check::kServiceObject, Severity::fail,
                "ZRNOPOSCD.SO names the class " + clsid + ", which has no InprocServer32 file in this view",
                register_advice(so_path_hint()));
            return;
        }
        PeImage image;
        if (!read_pe(check::kServiceObject, "the Service Object", path, &image, register_advice(so_path_hint())))
            return;
        add(check::kServiceObject, Severity::ok,
            "ZRNOPOSCD.SO " + clsid + ": " + path + " (" + machine_name(image.machine) + ")");
        type_library(clsid, path);
    }

    void type_library(const std::string& clsid, const std::string& so_path) {
        std::string libid;
        if (!read_value(reg_, "SOFTWARE\\Classes\\CLSID\\" + clsid + "\\TypeLib", "", &libid) || libid.empty()) {
            add(check::kTypeLibrary, Severity::fail, "the class " + clsid + " names no type library",
                register_advice(so_path));
            return;
        }
        const std::string platform = v_.name == "32" ? "win32" : "win64";
        // The type library key is shared by the views on 64-bit Windows; look
        // in this view first, then in the others.
        std::vector<Registry*> regs{&reg_};
        for (const auto& other : in_.all_views)
            if (other.registry && other.registry != &reg_) regs.push_back(other.registry);
        const std::string lib_key = "SOFTWARE\\Classes\\TypeLib\\" + libid;
        std::string found_key, found_path;
        for (Registry* r : regs) {
            for (const auto& version : sub_keys(*r, lib_key)) {
                for (const auto& lcid : sub_keys(*r, lib_key + "\\" + version)) {
                    const std::string k = lib_key + "\\" + version + "\\" + lcid + "\\" + platform;
                    std::string p;
                    if (found_path.empty() && read_value(*r, k, "", &p) && !p.empty()) {
                        found_key = version + "\\" + lcid + "\\" + platform;
                        found_path = p;
                    }
                }
            }
            if (!found_path.empty()) break;
        }
        if (found_path.empty()) {
            add(check::kTypeLibrary, Severity::fail,
                "the type library " + libid + " is not registered for " + platform, register_advice(so_path));
            return;
        }
        if (!in_.files->exists(found_path)) {
            add(check::kTypeLibrary, Severity::fail,
                "the type library " + libid + " " + found_key + " names " + found_path + ", which does not exist",
                register_advice(so_path));
            return;
        }
        add(check::kTypeLibrary, Severity::ok, "type library " + libid + " " + found_key + ": " + found_path);
    }

    void target_path_and_drivers() {
        const std::string& target = settings_.TargetPath;
        const std::string settings_key = "HKLM\\" + std::string(kServiceSettingsKey);
        if (target.empty()) {
            add(check::kTargetPath, Severity::fail, "TargetPath is not set in " + settings_key,
                "reinstall " + package_ + ", or set TargetPath to the folder that holds " + kPortDriverFile + " and " +
                    kUsbDriverFile);
            return;
        }
        // The Service Object forms each driver's path in 255 characters.
        if (target.size() + 1 + std::string(kPortDriverFile).size() > config::kTargetPathMax) {
            add(check::kTargetPath, Severity::fail,
                "TargetPath is too long for the Service Object to form the drivers' paths (" +
                    std::to_string(target.size()) + " characters)",
                "install the drivers in a folder with a shorter path and point TargetPath at it");
            return;
        }
        add(check::kTargetPath, Severity::ok, "TargetPath " + target);
        driver(kPortDriverFile, kPortExports);
        driver(kUsbDriverFile, kUsbExports);
    }

    void driver(const std::string& file, const std::vector<std::string>& names) {
        const std::string& target = settings_.TargetPath;
        const std::string path = target + "\\" + file;
        if (!in_.files->exists(path)) {
            add(check::kDriver, Severity::fail, file + " is missing from " + target,
                "copy " + file + " into " + target + ", or point TargetPath at the folder that holds it");
            return;
        }
        PeImage image;
        if (!read_pe(check::kDriver, file, path, &image, {})) return;
        std::vector<std::string> missing;
        for (const auto& n : names)
            if (!has_export(image, n)) missing.push_back(n);
        if (!missing.empty()) {
            add(check::kDriver, Severity::fail, path + " lacks the exports " + join(missing),
                "replace it with the " + file + " of " + package_);
            return;
        }
        std::string loads;
        if (own_) {
            std::string error;
            if (!in_.files->load(path, &error)) {
                add(check::kDriver, Severity::fail, path + " cannot be loaded: " + error,
                    "install what it depends on, or replace it with the " + file + " of " + package_);
                return;
            }
            loads = ", loads";
        }
        add(check::kDriver, Severity::ok,
            path + ": " + machine_name(image.machine) + ", all " + std::to_string(names.size()) + " exports" + loads);
    }

    void entries() {
        keys_ = sub_keys(reg_, std::string(kDeviceClassKey));
        if (keys_.empty()) {
            add(check::kEntry, Severity::warn, "no device entries: applications find no drawer",
                "add one with QVTUtility or " + config_cmd() + " add");
            return;
        }
        for (const auto& key : keys_) entry(key);
    }

    void entry(const std::string& key) {
        const DeviceType* type = device_type_of(key);
        if (!type) {
            add(check::kEntry, Severity::fail,
                key + " is no device entry: its name begins with none of CD926, CD347, CD615, CD730",
                config_cmd() + " remove " + key);
            return;
        }
        config::StoredEntry st;
        if (!config::read_stored_entry(reg_, key, &st)) {
            add(check::kEntry, Severity::fail, key + " cannot be opened", "check the key's permissions");
            return;
        }
        const std::size_t before = out_->size();
        const config::DeviceEntry defaults = config::default_entry(key, *type);
        const config::DeviceEntry& e = st.entry;

        // What mends missing or wrong values: the settings zrncd config
        // changes, the rest written with reg.exe; each gets its default.
        const std::vector<std::string_view> changeable = utility::changeable_settings(type->DeviceID);
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
    void other_types(const std::string& key, const std::vector<std::string>& names, const Advice& change_advice) {
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
    void settings_in_range(const std::string& key, const config::StoredEntry& st, const Advice& change_advice) {
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

    static std::string port_text(const config::DeviceEntry& e) {
        if (e.DeviceID == kDeviceIdSerialII || e.DeviceID == kDeviceIdSmartSerial)
            return ", COM" + std::to_string(e.Port);
        if (e.DeviceID == kDeviceIdParallel) return ", LPT" + std::to_string(e.Port);
        return ", USB";
    }

    void logical_names() {
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

    void ports() {
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

    std::string free_port_advice(const std::string& port, const std::pair<std::string, config::DeviceEntry>& g) {
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

    void control_object() {
        std::string clsid;
        if (!read_value(reg_, kControlProgIdKey, "", &clsid) || clsid.empty()) clsid = kControlObjectClsid;
        std::string path;
        if (read_value(reg_, "SOFTWARE\\Classes\\CLSID\\" + clsid + "\\InprocServer32", "", &path) && !path.empty() &&
            in_.files->exists(path)) {
            add(check::kControlObject, Severity::ok, "OPOS CashDrawer Control Object " + clsid + ": " + path);
            return;
        }
        add(check::kControlObject, Severity::warn,
            "POS applications of this bitness cannot open a drawer until the OPOS CashDrawer Control Object is "
            "installed",
            "install the OPOS Control Objects (" + bits_text(v_.name) + ") that include CashDrawer");
    }

    const DoctorInput& in_;
    const DoctorView& v_;
    Registry& reg_;
    std::vector<Finding>* out_;
    std::string package_;
    std::string regsvr32_;
    bool own_ = false;
    config::ServiceSettings settings_;
    std::vector<std::string> keys_;
    std::vector<std::pair<std::string, config::DeviceEntry>> good_;  // entries with a valid port
};

// Both views installed: a 32-bit and a 64-bit application on this till must
// find the same drawers under the same names.
void compare_views(const std::vector<const DoctorView*>& installed, std::vector<Finding>* out) {
    if (installed.size() != 2) return;
    const DoctorView& a = *installed[0];
    const DoctorView& b = *installed[1];
    const std::string a_name = "the " + bits_text(a.name) + " view";
    const std::string b_name = "the " + bits_text(b.name) + " view";
    const std::vector<std::string> diffs =
        differences(read_configuration(*a.registry), a_name, read_configuration(*b.registry), b_name);
    if (diffs.empty()) {
        out->push_back(Finding{"", check::kViews, Severity::ok,
                               "both views hold the same drawers and logical names (TargetPath aside)", ""});
        return;
    }
    // Which view holds the wanted configuration is for the technician to say.
    const std::string advice = "copy the right view over the other: zrncd config --view " + b.name +
                               " sync copies " + b_name + ", zrncd config --view " + a.name + " sync " + a_name;
    out->push_back(Finding{"", check::kViews, Severity::fail, "the views differ: " + join(diffs, "; "), advice});
}

}  // namespace

std::vector<Finding> run_doctor(const DoctorInput& input) {
    std::vector<Finding> out;
    std::vector<const DoctorView*> installed;
    for (const auto& v : input.views) {
        if (!v.registry) continue;
        ViewCheck c(input, v, &out);
        if (c.run()) installed.push_back(&v);
    }
    compare_views(installed, &out);
    return out;
}

const char* severity_name(Severity s) {
    switch (s) {
        case Severity::ok:
            return "ok";
        case Severity::warn:
            return "warn";
        case Severity::fail:
            return "fail";
        case Severity::skip:
            return "skip";
    }
    return "?";
}

std::string format_table(const std::vector<Finding>& findings) {
    std::size_t check_width = 5;
    for (const auto& f : findings) check_width = std::max(check_width, f.check.size());
    const auto pad = [](std::string s, std::size_t w) {
        if (s.size() < w) s.append(w - s.size(), ' ');
        return s;
    };
    const std::size_t text_col = 5 + check_width + 1 + 7;
    std::string out = pad("VIEW", 5) + pad("CHECK", check_width + 1) + pad("STATUS", 7) + "FINDING\n";
    int counts[4] = {0, 0, 0, 0};
    for (const auto& f : findings) {
        ++counts[static_cast<int>(f.severity)];
        out += pad(f.view.empty() ? "-" : f.view, 5) + pad(f.check, check_width + 1) +
               pad(severity_name(f.severity), 7) + f.text + "\n";
        if (f.severity != Severity::ok && !f.advice.empty())
            out += std::string(text_col, ' ') + "-> " + f.advice + "\n";
    }
    out += "\n" + std::to_string(counts[0]) + " ok, " + std::to_string(counts[1]) + " warn, " +
           std::to_string(counts[2]) + " fail, " + std::to_string(counts[3]) + " skip: " +
           (counts[2] ? "this till needs attention" : "healthy") + "\n";
    return out;
}

std::string format_json(const std::vector<Finding>& findings) {
    std::string out;
    for (const auto& f : findings) {
        json::Value v = json::Value::object();
        v.set("view", f.view);
        v.set("check", f.check);
        v.set("status", severity_name(f.severity));
        v.set("text", f.text);
        v.set("advice", f.advice);
        out += json::dump(v) + "\n";
    }
    return out;
}

int doctor_exit_code(const std::vector<Finding>& findings) {
    for (const auto& f : findings)
        if (f.severity == Severity::fail) return 1;
    return 0;
}

std::string doctor_usage() {
    return "usage: zrncd doctor [--json] [--view 32|64]\n"
           "Checks this till's cash drawer installation and prints one finding per line,\n"
           "with what to do about each one that is not ok:\n"
           "  the Service Object's registration, file and type library; TargetPath and both\n"
           "  drivers (files, exports, bitness, loading); every device entry; the logical\n"
           "  names; ports shared by two drawers; the two registry views agreeing; the OPOS\n"
           "  CashDrawer Control Object.\n"
           "  --json      one JSON object per finding and line\n"
           "  --view N    only the 32-bit or the 64-bit registry view\n"
           "Exit status: 0 when no check failed, 1 when one did, 2 for bad arguments.\n";
}

std::string parse_doctor_args(const std::vector<std::string>& args, DoctorOptions* out) {
    *out = DoctorOptions{};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") {
            out->json = true;
        } else if (a == "--help") {
            out->help = true;
        } else if (a == "--view") {
            if (i + 1 >= args.size()) return "--view needs 32 or 64";
            const std::string& v = args[++i];
            if (v != "32" && v != "64") return "--view takes 32 or 64, not \"" + v + "\"";
            if (!out->view.empty() && out->view != v) return "--view given twice";
            out->view = v;
        } else if (a.rfind("--", 0) == 0) {
            return "unknown option " + a;
        } else {
            return "doctor takes no argument \"" + a + "\"";
        }
    }
    return {};
}

}  // namespace zrn::cfg
