#pragma once

// What the Service Object end-to-end programs share: the real registry with
// service settings and device entries, the simulated hardware block, the
// day's trace file, and a Service Object opened the way a Control Object
// opens it.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>

#include "device_entries.h"
#include "opos_client.h"
#include "proc.h"
#include "sim_hid.h"
#include "sim_win32.h"
#include "zrn/device_config.h"
#include "zrn/device_types.h"
#include "zrn/opos.h"
#include "zrn/trace.h"
#include "zrn/win32/win32_platform.h"

namespace zrn::e2e {

inline const std::string& sim_dir() {
    static const std::string dir = client::windows_path(ZRN_SIM_DIR);
    return dir;
}

inline win32::Win32Registry& registry() {
    static win32::Win32Registry r;
    return r;
}

inline void settings(std::int32_t trace_enabled, const std::string& target = sim_dir()) {
    config::write_service_settings(registry(), {target, trace_enabled});
}

inline void remove_device(const std::string& key) {
    registry().delete_key(platform::kHklm, std::string(kDeviceClassKey) + "\\" + key);
}

// The drawers every scenario may use.
inline void write_devices() {
    so::testing::write_device(registry(), "CD926", kDeviceIdSerialII, 1);
    so::testing::write_device(registry(), "CD347", kDeviceIdSmartSerial, 2);
    so::testing::write_device(registry(), "CD347-2", kDeviceIdSmartSerial, 2);
    so::testing::write_device(registry(), "CD615", kDeviceIdParallel, 1);
    so::testing::write_device(registry(), "CD730", kDeviceIdUsb);
    config::write_logical_name(registry(), "FrontDrawer", "CD926");
    remove_device("CD999");
}

inline sim::SimState* hw() { return sim::shared_state(); }

inline void reset_hardware() {
    std::lock_guard guard(sim::shared_lock());
    sim::init_state(hw());
}

inline void set_modem(int com, std::uint32_t word) {
    std::lock_guard guard(sim::shared_lock());
    hw()->com[com - 1].modem = static_cast<std::int32_t>(word);
}

inline void set_usb_drawer(std::int32_t state) {
    {
        std::lock_guard guard(sim::shared_lock());
        hw()->usb.drawer_state = state;
    }
    sim::usb_report(hw(), sim::shared_lock());
}

inline std::string written(const sim::SimPort& p) {
    std::lock_guard guard(sim::shared_lock());
    const std::uint32_t n = p.written_total < sim::kSimWrittenMax ? p.written_total : sim::kSimWrittenMax;
    return std::string(reinterpret_cast<const char*>(p.written), n);
}

inline std::string trace_path() {
    win32::Win32Clock clock;
    return trace_file_name(clock.local_time());
}

// The day's trace file as it stands; empty when there is none.
inline std::string trace_text() {
    HANDLE f = CreateFileA(trace_path().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return {};
    std::string out;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(f, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
    CloseHandle(f);
    return out;
}

inline bool has_status(const std::vector<client::Event>& events, std::int32_t value) {
    for (const auto& e : events)
        if (e.kind == client::Event::StatusUpdate && e.value == value) return true;
    return false;
}

// A Service Object opened as a Control Object opens one: by program
// identifier, the thirteen names looked up first, the version read after.
// The control is the test's EventReceiver (which the client lets go of at
// the close, as the published Control Object does) or any IDispatch.
template <typename Control>
std::int32_t open_device(client::ServiceClient& c, Control* control, const std::string& name) {
    if (FAILED(c.create(L"ZRNOPOSCD.SO"))) return -1000;
    if (!c.look_up_methods()) return OPOS_E_NOSERVICE;
    const std::int32_t rc = c.open(L"CashDrawer", client::widen(name), control);
    if (rc == OPOS_SUCCESS && c.get_number(PIDX_ServiceObjectVersion) / 1000000 != 1) return -1001;
    return rc;
}

// Open, claim and enable; false with the failing step's result otherwise.
template <typename Control>
::testing::AssertionResult ready(client::ServiceClient& c, Control* control, const std::string& name) {
    const std::int32_t open = open_device(c, control, name);
    if (open != 0) return ::testing::AssertionFailure() << name << ": OpenService " << open;
    const std::int32_t claim = c.claim(1000);
    if (claim != 0) return ::testing::AssertionFailure() << name << ": ClaimDevice " << claim;
    c.set_number(PIDX_DeviceEnabled, 1);
    const std::int32_t rc = c.result_code();
    if (rc != 0) return ::testing::AssertionFailure() << name << ": enable " << rc;
    return ::testing::AssertionSuccess();
}

// The loaded Service Object module's own answer to DllCanUnloadNow.
inline HRESULT so_can_unload() {
    using CanUnload = HRESULT(__stdcall*)();
    HMODULE so = GetModuleHandleA("ZRNOPOSCD.dll");
    auto can_unload =
        so ? reinterpret_cast<CanUnload>(reinterpret_cast<void*>(GetProcAddress(so, "DllCanUnloadNow"))) : nullptr;
    return can_unload ? can_unload() : E_FAIL;
}

// Waits, up to timeout_ms, until no object and no event thread holds the
// Service Object module; whether it got there.
inline bool so_idle(ULONGLONG timeout_ms) {
    return wait_until([] { return so_can_unload() == S_OK; }, timeout_ms);
}

// COM for the whole program, in the multithreaded apartment: the Service
// Object is "Both", so calls and events reach it without marshalling.
class ComEnvironment final : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

}  // namespace zrn::e2e
