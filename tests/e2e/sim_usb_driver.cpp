// The simulated USB730SO.DLL under Wine, its drawer driven through the
// shared simulator block as drawersim would: reports reach the callback,
// fires open the drawer (or not, when it ignores them), unplugging ends the
// status thread and the next command's reopen fails, replugging recovers;
// the status thread keeps the library loaded until it has returned.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "proc.h"
#include "sim_hid.h"
#include "sim_win32.h"
#include "zrn/callconv.h"
#include "zrn/device_types.h"
#include "zrn/platform/registry.h"
#include "zrn/status_callback.h"
#include "zrn/win32/win32_platform.h"

using namespace zrn::e2e;

namespace {

using Unit = std::int32_t(ZRN_STDCALL*)(std::int32_t);
using Capture = std::int32_t(ZRN_STDCALL*)(std::int32_t, zrn::StatusCaptureCallback);

Reports g_reports;

void ZRN_STDCALL on_report(const char* name, std::int32_t value) {
    if (std::string(name) == "CD730") g_reports.add(name, value);
}

bool wait_reports(std::size_t n) {
    // A new status thread first sleeps its second: under emulation, and
    // beside other tests, that alone can take several.
    return g_reports.wait([&](const auto& items) { return items.size() >= n; }, 10000ull * ZRN_TIME_FACTOR);
}

int report(std::size_t i) {
    return g_reports.items().at(i).second;
}

// A report of value among those from index from on.
bool wait_report_from(std::size_t from, int value) {
    return g_reports.wait(
        [&](const auto& items) {
            for (std::size_t i = from; i < items.size(); ++i)
                if (items[i].second == value) return true;
            return false;
        },
        10000ull * ZRN_TIME_FACTOR);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    zrn::sim::SimState* sim = zrn::sim::shared_state();
    zrn::sim::SimLock& lock = zrn::sim::shared_lock();
    if (!sim) return 3;
    sim->usb.present = 1;
    sim->usb.drawer_state = 2;
    sim->usb.ignore_fires = 0;

    zrn::win32::Win32Registry reg;
    {
        zrn::platform::ScopedKey key(reg);
        reg.create_key(zrn::platform::kHklm, zrn::kServiceSettingsKey, "", key.out(), nullptr);
        zrn::platform::set_dword(reg, key.get(), "ODVEnabled", 1);
        for (const char* n : {"RDKInterval", "RDKDelay", "DCSDelay", "TraceEnabled"})
            zrn::platform::set_dword(reg, key.get(), n, 0);
    }

    HMODULE lib = LoadLibraryA(argv[1]);
    if (!lib) return 4;
    auto open_port = proc<Unit>(lib, "OpenUPort");
    auto close_port = proc<Unit>(lib, "CloseUPort");
    auto fire = proc<Unit>(lib, "OpenUCashDrawer");
    auto status = proc<Unit>(lib, "UCashDrawerStatus");
    auto capture = proc<Capture>(lib, "StartStatusUCapture");
    if (!open_port || !close_port || !fire || !status || !capture) return 5;
    using Unload = HRESULT(__stdcall*)();
    auto can_unload = proc<Unload>(lib, "DllCanUnloadNow");
    if (!can_unload) return 5;
    capture(1, on_report);

    E2E_CHECK(can_unload() == S_OK, "nothing running yet: may unload");
    E2E_CHECK(open_port(0) == 1, "OpenUPort finds the simulated drawer");
    E2E_CHECK(can_unload() == S_FALSE, "no unload while the status thread runs");
    sim->usb.drawer_state = 1;
    zrn::sim::usb_report(sim, lock);
    E2E_CHECK(wait_reports(1) && report(0) == 1, "opening by hand is reported (the closed start is not)");
    sim->usb.drawer_state = 2;
    zrn::sim::usb_report(sim, lock);
    E2E_CHECK(wait_reports(2) && report(1) == 2, "closing is reported");

    E2E_CHECK(fire(0) == 1, "OpenUCashDrawer sees the drawer open");
    E2E_CHECK(sim->usb.opening_reports == 1, "one opening report");
    E2E_CHECK(status(0) == 1, "the acknowledgement");
    E2E_CHECK(status(0) == 1, "then the current state");

    sim->usb.ignore_fires = 1;
    sim->usb.drawer_state = 2;
    zrn::sim::usb_report(sim, lock);
    wait_reports(4);
    E2E_CHECK(fire(0) == 0, "a drawer that ignores fires gives 0");

    sim->usb.present = 0;
    zrn::sim::usb_report(sim, lock);
    E2E_CHECK(wait_until([&] { return can_unload() == S_OK; }, 10000ull * ZRN_TIME_FACTOR),
              "unplugged: the status thread ends");
    E2E_CHECK(fire(0) == -1, "unplugged: the restart's reopen fails");
    sim->usb.present = 1;
    sim->usb.ignore_fires = 0;
    E2E_CHECK(status(0) == 2, "replugged: the next command restarts the thread");
    E2E_CHECK(close_port(0) == 1, "CloseUPort");
    E2E_CHECK(can_unload() == S_OK, "the thread stopped: may unload");

    // The status thread holds the library loaded until it has returned: the
    // caller's last FreeLibrary while it runs unmaps nothing under it.
    E2E_CHECK(open_port(0) == 1, "OpenUPort again");
    const std::size_t seen = g_reports.items().size();
    FreeLibrary(lib);
    HMODULE held = GetModuleHandleA(argv[1]);
    E2E_CHECK(held == lib, "still loaded after the caller's FreeLibrary: its status thread holds it");
    sim->usb.drawer_state = 1;
    zrn::sim::usb_report(sim, lock);
    // Opened after a restart, the thread may first report the closed state
    // it starts from, if it reads before the drawer opens.
    E2E_CHECK(wait_report_from(seen, 1), "the thread still serves the drawer");
    lib = LoadLibraryA(argv[1]);  // a reference of ours again, for the call
    E2E_CHECK(lib == held, "the same module, not loaded afresh");
    if (lib) {
        E2E_CHECK(proc<Unit>(lib, "CloseUPort")(0) == 1, "CloseUPort");
        FreeLibrary(lib);
        E2E_CHECK(wait_until([&] { return GetModuleHandleA(argv[1]) == nullptr; }, 10000ull * ZRN_TIME_FACTOR),
                  "unloaded once the thread has returned");
    }
    return checks_done();
}
