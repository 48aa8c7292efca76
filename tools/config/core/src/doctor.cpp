#include "zrn/cfg/doctor.h"

#include "doctor_checks.h"

namespace zrn::cfg {

namespace doctor_checks {

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

// A value as a command line argument: quoted when it holds blanks.
std::string assignment(const std::string& name, const std::string& value) {
    if (value.find_first_of(" \t") == std::string::npos && !value.empty()) return name + "=" + value;
    return "\"" + name + "=" + value + "\"";
}

// Whether anything of ours is in this view: the Service Object's class
// or any cash drawer configuration.
bool ViewCheck::installed() {
    const std::string clsid = so_clsid();
    if (!clsid.empty() && key_exists(reg_, "SOFTWARE\\Classes\\CLSID\\" + clsid)) return true;
    return has_configuration(read_configuration(reg_));
}

// False when the view was skipped as not installed.
bool ViewCheck::run() {
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
    trace();
    return true;
}

}  // namespace doctor_checks

namespace {

using doctor_checks::bits_text;
using doctor_checks::ViewCheck;

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

std::vector<Finding> recovery_findings(const std::vector<Recovery>& recoveries, const std::string& lock_problem) {
    std::vector<Finding> out;
    if (!lock_problem.empty())
        out.push_back(Finding{"", check::kInterruptedChange, Severity::fail,
                              "a change of the configuration was stopped part-way, and it cannot be put back now: " +
                                  lock_problem,
                              "run 'zrncd doctor' again when the other program has finished"});
    for (const Recovery& r : recoveries) {
        switch (r.result) {
            case Recovery::Restored:
                out.push_back(Finding{r.view.id, check::kInterruptedChange, Severity::warn, r.text(),
                                      "the change was not made: run it again if it is still wanted"});
                break;
            case Recovery::Left:
                out.push_back(Finding{r.view.id, check::kInterruptedChange, Severity::fail,
                                      "a change (" + r.what + ") was stopped part-way; the configuration may be incomplete",
                                      "run '" + restore_command(r.view.id) +
                                          "' to put back the configuration it had before"});
                break;
            case Recovery::Failed:
                out.push_back(Finding{r.view.id, check::kInterruptedChange, Severity::fail, r.text(),
                                      "import the configuration this till should have, then delete " +
                                          marker_path(r.view.id)});
                break;
        }
    }
    return out;
}
}  // namespace zrn::cfg
