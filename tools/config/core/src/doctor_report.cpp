// The health report's words: the table, the JSON lines, the exit code and
// the command line.
#include "zrn/cfg/doctor.h"

#include "doctor_checks.h"

namespace zrn::cfg {

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
    return "usage: zrncd doctor [--json] [--view 32|64] [--no-restore]\n"
           "Checks this till's cash drawer installation and prints one finding per line,\n"
           "with what to do about each one that is not ok:\n"
           "  the Service Object's registration, file and type library; TargetPath and both\n"
           "  drivers (files, exports, bitness, loading); every device entry; the logical\n"
           "  names; ports shared by two drawers; the two registry views agreeing; the OPOS\n"
           "  CashDrawer Control Object; the trace (TraceEnabled, TraceKeepDays, its folder).\n"
           "  --json      one JSON object per finding and line\n"
           "  --view N    only the 32-bit or the 64-bit registry view\n"
           "  --no-restore  a configuration change found stopped part-way is reported, not put back\n"
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
        } else if (a == "--no-restore") {
            out->no_restore = true;
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
