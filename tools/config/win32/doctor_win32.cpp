// The doctor's Windows side: the registry of each view and the files it
// names. Only what the checks ask is done here; they decide everything.
#include "doctor_win32.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "zrn/cfg/commands.h"
#include "zrn/cfg/doctor.h"
#include "zrn/win32/config_lock.h"
#include "zrn/win32/win32_platform.h"

using namespace zrn;

namespace {

// Registry paths may hold %variables% (REG_EXPAND_SZ servers).
std::string expanded(const std::string& path) {
    if (path.find('%') == std::string::npos) return path;
    char buf[MAX_PATH * 2];
    const DWORD n = ExpandEnvironmentStringsA(path.c_str(), buf, sizeof buf);
    return n == 0 || n > sizeof buf ? path : std::string(buf);
}

std::string error_text(DWORD code) {
    char buf[512] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                                   sizeof buf, nullptr);
    std::string text(buf, n);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return "error " + std::to_string(code) + (text.empty() ? "" : " (" + text + ")");
}

class Win32DoctorFiles final : public cfg::DoctorFiles {
public:
    bool exists(const std::string& path) override {
        const DWORD a = GetFileAttributesA(expanded(path).c_str());
        return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
    }

    bool read(const std::string& path, std::vector<std::uint8_t>* bytes, std::size_t max, std::string* error) override {
        // Shared with every mode, so a DLL some process has loaded is read too.
        HANDLE h = CreateFileA(expanded(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            *error = "CreateFile failed: " + error_text(GetLastError());
            return false;
        }
        bytes->clear();
        bool ok = true;
        std::uint8_t chunk[65536];
        while (bytes->size() < max) {
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(std::min<std::size_t>(sizeof chunk, max - bytes->size()));
            if (!ReadFile(h, chunk, want, &got, nullptr)) {
                *error = "ReadFile failed: " + error_text(GetLastError());
                ok = false;
                break;
            }
            if (got == 0) break;
            bytes->insert(bytes->end(), chunk, chunk + got);
        }
        CloseHandle(h);
        return ok;
    }

    bool load(const std::string& path, std::string* error) override {
        // No "cannot find a DLL" box on the technician's screen: the error
        // code is the report.
        const UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        HMODULE m = LoadLibraryExA(expanded(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        const DWORD code = GetLastError();
        SetErrorMode(old);
        if (!m) {
            *error = error_text(code);
            return false;
        }
        FreeLibrary(m);
        return true;
    }

    bool is_reparse_point(const std::string& path) override {
        const DWORD a = GetFileAttributesA(expanded(path).c_str());
        return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
    }
};

}  // namespace

int run_doctor(const std::vector<std::string>& args) {
    cfg::DoctorOptions options;
    const std::string error = cfg::parse_doctor_args(args, &options);
    if (!error.empty()) {
        std::fprintf(stderr, "zrncd: %s\n%s", error.c_str(), cfg::doctor_usage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(cfg::doctor_usage().c_str(), stdout);
        return 0;
    }
    const bool two_views = win32::windows_is_64bit();
    if (!two_views && options.view == "64") {
        std::fprintf(stderr, "zrncd: this Windows is 32-bit and has no 64-bit registry view\n");
        return 2;
    }
    // On 32-bit Windows the one view is this program's own.
    win32::Win32Registry r32(two_views ? win32::RegistryView::Bits32 : win32::RegistryView::Own);
    win32::Win32Registry r64(win32::RegistryView::Bits64);
    Win32DoctorFiles files;

    cfg::DoctorInput in;
    in.all_views.push_back({"32", &r32});
    if (two_views) in.all_views.push_back({"64", &r64});
    for (const auto& v : in.all_views)
        if (options.view.empty() || options.view == v.name) in.views.push_back(v);
    in.own_view = sizeof(void*) == 8 ? "64" : "32";
    in.two_views = two_views;
    in.files = &files;

    // A change of the configuration stopped part-way is put back first (or,
    // with --no-restore, reported), so the checks see what the till holds.
    win32::Win32Files disk;
    cfg::Backups backups(disk);
    std::vector<cfg::RecoveryView> recovery;
    for (const auto& v : in.all_views) recovery.push_back({v.name, "the " + v.name + "-bit view", v.registry});
    std::vector<cfg::Finding> findings;
    if (cfg::any_pending(backups, recovery)) {
        win32::Win32ConfigLock lock;
        const platform::ConfigLockHold hold(&lock, cfg::kCommandLockWaitMs, "zrncd doctor");
        findings = hold.held() ? cfg::recovery_findings(cfg::recover(backups, recovery, !options.no_restore))
                               : cfg::recovery_findings({}, "the configuration is locked by " + hold.holder());
    }
    const std::vector<cfg::Finding> checks = cfg::run_doctor(in);
    findings.insert(findings.end(), checks.begin(), checks.end());
    const std::string out = options.json ? cfg::format_json(findings) : cfg::format_table(findings);
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
    return cfg::doctor_exit_code(findings);
}
