#pragma once

// `zrncd doctor`: the health report of one till. Every check reads the
// registry of each view present and the files it names; nothing is changed.
// Each finding says what is wrong and what to do about it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "zrn/cfg/backup.h"
#include "zrn/platform/registry.h"

namespace zrn::cfg {

enum class Severity { ok, warn, fail, skip };

struct Finding {
    std::string view;  // "32", "64" or "" (both views)
    std::string check;
    Severity severity = Severity::ok;
    std::string text;
    std::string advice;
};

// The files the checks look at.
class DoctorFiles {
public:
    virtual ~DoctorFiles() = default;
    virtual bool exists(const std::string& path) = 0;
    // At most max bytes of the file, read while others have it open (a loaded
    // DLL included). False when it cannot be opened or read, with *error
    // naming the call that failed and the system's words for why.
    virtual bool read(const std::string& path, std::vector<std::uint8_t>* bytes, std::size_t max,
                      std::string* error) = 0;
    // Loads the DLL with its dependencies into this process and releases it
    // again; only asked of DLLs of the program's own bitness.
    virtual bool load(const std::string& path, std::string* error) = 0;
    // Whether the path is a junction, symbolic link or mount point.
    virtual bool is_reparse_point(const std::string& path) = 0;
};

struct DoctorView {
    std::string name;  // "32" or "64"
    platform::Registry* registry = nullptr;
};

struct DoctorInput {
    // The views to check, "32" before "64". A 32-bit Windows has one view.
    std::vector<DoctorView> views;
    // The views of the machine, when only some are checked: the type library
    // key is shared by both views on 64-bit Windows, and is looked up in
    // either.
    std::vector<DoctorView> all_views;
    // The view this program reads as its own: its DLLs are the ones it can load.
    std::string own_view;
    // Whether Windows is 64-bit (two views); the advice names the regsvr32
    // of the view's bitness.
    bool two_views = true;
    DoctorFiles* files = nullptr;
};

// The check names, as the report prints them.
namespace check {
inline constexpr const char* kInstalled = "installed";
inline constexpr const char* kServiceObject = "service-object";
inline constexpr const char* kTypeLibrary = "type-library";
inline constexpr const char* kTargetPath = "target-path";
inline constexpr const char* kDriver = "driver";
inline constexpr const char* kEntry = "entry";
inline constexpr const char* kLogicalName = "logical-name";
inline constexpr const char* kPorts = "ports";
inline constexpr const char* kViews = "views";
inline constexpr const char* kControlObject = "control-object";
inline constexpr const char* kInterruptedChange = "interrupted-change";
inline constexpr const char* kTrace = "trace";
}  // namespace check

// Where the Service Object and the Control Object register.
inline constexpr const char* kServiceProgIdKey = "SOFTWARE\\Classes\\ZRNOPOSCD.SO\\CLSID";
inline constexpr const char* kControlProgIdKey = "SOFTWARE\\Classes\\OPOS.CashDrawer\\CLSID";
inline constexpr const char* kControlObjectClsid = "{CCB90042-B81E-11D2-AB74-0040054C3719}";

std::vector<Finding> run_doctor(const DoctorInput& input);

// Findings for changes of the configuration found stopped part-way, before
// the checks: put back (a warning: the change itself did not happen), left
// as they are with --no-restore, or not restorable (both failures, with
// what to do). lock_problem: the configuration lock could not be had to
// put them back (empty when it was).
std::vector<Finding> recovery_findings(const std::vector<Recovery>& recoveries, const std::string& lock_problem = {});

const char* severity_name(Severity s);
// One line per finding (view, check, status, text), the advice indented on
// the next line when the finding is not ok, and a closing count.
std::string format_table(const std::vector<Finding>& findings);
// One JSON object per finding and line.
std::string format_json(const std::vector<Finding>& findings);
// 0 when no finding failed, 1 when one did.
int doctor_exit_code(const std::vector<Finding>& findings);

// Command line of `zrncd doctor`: [--json] [--view 32|64]. An empty result
// is success; otherwise the message to print before the usage.
struct DoctorOptions {
    bool json = false;
    std::string view;  // "" both
    bool help = false;
    bool no_restore = false;  // a change stopped part-way is reported, not put back
};
std::string parse_doctor_args(const std::vector<std::string>& args, DoctorOptions* out);
std::string doctor_usage();

}  // namespace zrn::cfg
