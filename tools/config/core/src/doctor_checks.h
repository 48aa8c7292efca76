#pragma once

// What the health report's checks share: the registry helpers and the check
// of one registry view. The view's installation checks
// (doctor_installation.cpp) and its entry checks (doctor_entries.cpp) live in
// files of their own; the report's words in doctor_report.cpp.
#include "zrn/cfg/doctor.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

#include "zrn/cfg/document.h"
#include "zrn/cfg/pe_image.h"
#include "zrn/device_config.h"
#include "zrn/device_types.h"
#include "zrn/driver_exports.h"
#include "zrn/json.h"
#include "zrn/text.h"
#include "zrn/trace.h"
#include "zrn/config/rules.h"
#include "zrn/platform/noting_registry.h"

namespace zrn::cfg::doctor_checks {

using platform::Registry;
using platform::RegStatus;
using platform::ScopedKey;

inline constexpr std::size_t kTextCapacity = 1024;

inline const std::vector<std::string> kPortExports(kPortDriverExports.begin(), kPortDriverExports.end());
inline const std::vector<std::string> kUsbExports(kUsbDriverExports.begin(), kUsbDriverExports.end());

bool key_exists(Registry& reg, const std::string& path);

// A key's default value (or a named one) as text; false when the key or the
// value is missing.
bool read_value(Registry& reg, const std::string& path, std::string_view name, std::string* text);

std::vector<std::string> sub_keys(Registry& reg, const std::string& path);

// "a", "a and b", "a, b and c".
std::string and_list(const std::vector<std::string>& items);

// The registry type of a value, 0 when it cannot be read.
std::uint32_t value_type(Registry& reg, const std::string& path, std::string_view name);

std::string without_prefix(const std::string& s, std::string_view prefix);

// A value as a command line argument: quoted when it holds blanks.
std::string assignment(const std::string& name, const std::string& value);

inline std::string value_label(const std::string& name) { return name.empty() ? "(default)" : name; }

inline std::string entry_path(const std::string& key) { return std::string(kDeviceClassKey) + "\\" + key; }

inline std::uint16_t machine_of_view(const std::string& view) { return view == "32" ? kPeMachineI386 : kPeMachineAmd64; }

inline std::string bits_text(const std::string& view) { return view + "-bit"; }

// The checks of one registry view; their findings go to the report.
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
    bool installed();

    // False when the view was skipped as not installed.
    bool run();

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
                 const std::string& missing_advice);

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

    void service_object();

    void type_library(const std::string& clsid, const std::string& so_path);

    void target_path_and_drivers();

    void driver(const std::string& file, const std::vector<std::string>& names);

    void entries();

    void entry(const std::string& key);

    template <typename Advice>
    void other_types(const std::string& key, const std::vector<std::string>& names, const Advice& change_advice);

    template <typename Advice>
    void settings_in_range(const std::string& key, const config::StoredEntry& st, const Advice& change_advice);

    static std::string port_text(const config::DeviceEntry& e) {
        if (e.DeviceID == kDeviceIdSerialII || e.DeviceID == kDeviceIdSmartSerial)
            return ", COM" + std::to_string(e.Port);
        if (e.DeviceID == kDeviceIdParallel) return ", LPT" + std::to_string(e.Port);
        return ", USB";
    }

    void logical_names();

    void ports();

    std::string free_port_advice(const std::string& port, const std::pair<std::string, config::DeviceEntry>& g);

    void control_object();

    // The trace switch and how long its daily files are kept; what a
    // technician asks before reading or collecting the files.
    void trace();

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

}  // namespace zrn::cfg::doctor_checks
