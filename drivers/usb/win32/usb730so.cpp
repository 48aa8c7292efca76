// USB730SO.DLL: the driver exports, forwarding to one module-wide driver.
// The .def file alone exports them, under their undecorated names.
// The HID layer the driver works on comes from make_usb_backend(), which each
// build of the DLL defines for itself.
#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "usb_backend.h"
#include "zrn/usbdrv/usb_driver.h"
#include "zrn/guarded.h"
#include "zrn/win32/win32_platform.h"

using zrn::guarded;

namespace {

// What the driver works on, and the driver. Built on the first call rather
// than in DllMain, where reading the registry and writing files is unsafe;
// released when the library is unloaded (the status thread holds the
// library loaded until it has returned, so none runs then).
struct Module {
    zrn::win32::Win32Registry registry;
    std::unique_ptr<zrn::usbdrv::HidPort> hid{zrn::usbdrv::make_usb_backend()};
    zrn::win32::Win32Clock clock;
    zrn::win32::Win32Threads threads{zrn::win32::Win32Threads::Hold::ThisModule};
    zrn::win32::Win32Files files;
    zrn::TraceLog trace{files, clock};
    zrn::usbdrv::UsbDriver driver{{*hid, clock, threads, trace}, zrn::usbdrv::read_usb_settings(registry)};
};

std::atomic<Module*> g_module{nullptr};
std::mutex g_module_mu;

zrn::usbdrv::UsbDriver& driver() {
    if (Module* m = g_module.load()) return m->driver;
    std::lock_guard lock(g_module_mu);
    if (!g_module.load()) g_module = new Module;
    return g_module.load()->driver;
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
// Not while the status thread has yet to return (it holds the library loaded anyway).
HRESULT __stdcall DllCanUnloadNow() {
    const Module* m = g_module.load();
    return m && m->driver.thread_alive() ? S_FALSE : S_OK;
}
HRESULT __stdcall DllRegisterServer() { return S_OK; }

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    // Unloaded by FreeLibrary (not at process exit, where other threads were
    // stopped anywhere): no status thread is left, so its events and the
    // device list's objects can go with the library.
    if (reason == DLL_PROCESS_DETACH && !reserved) delete g_module.exchange(nullptr);
    return TRUE;
}
