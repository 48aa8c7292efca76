// The checks of what is installed in a view: the Service Object's class and
// type library, TargetPath and the drivers there, the Control Object, the
// trace folder.
#include "doctor_checks.h"

namespace zrn::cfg::doctor_checks {

// Reads a PE file; a finding and false when it is missing or unreadable.
bool ViewCheck::read_pe(const char* check, const std::string& what, const std::string& path, PeImage* image,
             const std::string& missing_advice) {
    if (!in_.files->exists(path)) {
        add(check, Severity::fail, what + " " + path + " does not exist", missing_advice);
        return false;
    }
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!in_.files->read(path, &bytes, kPeMaxFileBytes, &why)) {
        add(check, Severity::fail, what + " " + path + " cannot be read" + (why.empty() ? "" : ": " + why),
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

void ViewCheck::service_object() {
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

void ViewCheck::type_library(const std::string& clsid, const std::string& so_path) {
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

void ViewCheck::target_path_and_drivers() {
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

void ViewCheck::driver(const std::string& file, const std::vector<std::string>& names) {
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

void ViewCheck::control_object() {
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

// The trace switch and how long its daily files are kept; what a
// technician asks before reading or collecting the files.
void ViewCheck::trace() {
    const std::optional<std::int32_t> level = config::read_service_number(reg_, "TraceEnabled");
    const std::string folder(kTraceDirectory);
    const bool on = TraceSwitch{level.value_or(0)}.error_lines();
    if (on && in_.files->is_reparse_point(folder)) {
        add(check::kTrace, Severity::fail,
            folder + " is a link (junction or symbolic link): the Service Object and the USB driver write no "
                     "trace through it",
            "remove the link (rmdir " + folder + " removes the link only) and reinstall " + package_ +
                ", which makes the folder with its permissions");
        return;
    }
    add(check::kTrace, Severity::ok,
        "trace: " + trace_level_text(level) + (on ? ", one file a day in " + folder : "") + "; " +
            trace_keep_text(config::read_service_number(reg_, "TraceKeepDays")));
}

}  // namespace zrn::cfg::doctor_checks
