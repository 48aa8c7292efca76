// USB730SO.DLL: the driver exports, forwarding to one module-wide driver.
// The .def file alone exports them, under their undecorated names.
// The HID layer the driver works on comes from make_usb_backend(), which each
// build of the DLL defines for itself.
#include <windows.h>

#include <mutex>

#include "usb_backend.h"
#include "zrn/usbdrv/usb_driver.h"
#include "zrn/guarded.h"
#include "zrn/win32/win32_platform.h"

using zrn::guarded;

namespace {

// Built on the first call rather than in DllMain, where reading the
// registry and writing files is unsafe; never destroyed, since the status
// thread may outlive every caller.
zrn::usbdrv::UsbDriver& driver() {
    static zrn::usbdrv::UsbDriver* d = [] {
        auto* registry = new zrn::win32::Win32Registry;
        zrn::usbdrv::HidPort* hid = zrn::usbdrv::make_usb_backend();
        auto* clock = new zrn::win32::Win32Clock;
        auto* threads = new zrn::win32::Win32Threads;
        auto* files = new zrn::win32::Win32Files;
        auto* trace = new zrn::TraceLog(*files, *clock);
        const zrn::usbdrv::UsbSettings settings = zrn::usbdrv::read_usb_settings(*registry);
        return new zrn::usbdrv::UsbDriver({*hid, *clock, *threads, *trace}, settings);
    }();
    return *d;
}

}  // namespace

extern "C" {

std::int32_t __stdcall OpenUPort(std::int32_t unit) {
    return guarded([&] { return driver().OpenUPort(unit); }, 0);
}
std::int32_t __stdcall CloseUPort(std::int32_t unit) {
    return guarded([&] { return driver().CloseUPort(unit); }, 0);
}
std::int32_t __stdcall UVersion() { return zrn::usbdrv::kVersion; }
std::int32_t __stdcall StartStatusUCapture(std::int32_t enable, zrn::StatusCaptureCallback cb) {
    return guarded([&] { return driver().StartStatusUCapture(enable, cb); }, 1);
}
std::int32_t __stdcall OpenUCashDrawer(std::int32_t unit) {
    return guarded([&] { return driver().OpenUCashDrawer(unit); }, 0);
}
std::int32_t __stdcall UCashDrawerStatus(std::int32_t unit) {
    return guarded([&] { return driver().UCashDrawerStatus(unit); }, -1);
}

// The library holds no COM class.
HRESULT __stdcall DllGetClassObject(REFCLSID, REFIID, void** out) {
    if (out) *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}
// Never unloaded while the status thread runs: its code must stay mapped.
HRESULT __stdcall DllCanUnloadNow() { return driver().thread_running() ? S_FALSE : S_OK; }
HRESULT __stdcall DllRegisterServer() { return S_OK; }

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
