// PortDrawerSO.DLL: the driver exports, forwarding to one module-wide driver.
// The .def file alone exports them, under their undecorated names.
// The ports the driver works on come from make_port_backend(), which each
// build of the DLL defines for itself.
#include <windows.h>

#include <new>

#include "port_backend.h"
#include "zrn/portdrv/port_driver.h"
#include "zrn/guarded.h"
#include "zrn/win32/win32_platform.h"

using zrn::guarded;

using zrn::DriverParamBlock;
using zrn::StatusCaptureCallback;

namespace {

// Built on first use and never destroyed: its poll thread runs until the
// process ends.
zrn::portdrv::PortDriver& driver() {
    static zrn::portdrv::SerialPorts* ports = zrn::portdrv::make_port_backend();
    static zrn::win32::Win32Clock* clock = new zrn::win32::Win32Clock;
    static zrn::win32::Win32Threads* threads = new zrn::win32::Win32Threads;
    static zrn::portdrv::PortDriver* d = new zrn::portdrv::PortDriver(*ports, *clock, *threads);
    return *d;
}

}  // namespace

extern "C" {

std::int32_t __stdcall CVersion(std::int32_t unused) { return driver().CVersion(unused); }

std::uint8_t __stdcall OpenCom(DriverParamBlock* b, std::int32_t unit) {
    return b ? guarded([&] { return driver().OpenCom(b, unit); }, std::uint8_t{0}) : 0;
}
std::uint8_t __stdcall CloseCom(DriverParamBlock* b) {
    return b ? guarded([&] { return driver().CloseCom(b); }, std::uint8_t{0}) : 0;
}
std::uint8_t __stdcall PutCom(DriverParamBlock* b, const char* text) {
    return b ? guarded([&] { return driver().PutCom(b, text); }, std::uint8_t{0}) : 0;
}
std::uint8_t __stdcall GetComStat(DriverParamBlock* b, std::int32_t* status) {
    return b ? guarded([&] { return driver().GetComStat(b, status); }, std::uint8_t{1}) : 1;
}
std::uint8_t __stdcall OpenLpt(DriverParamBlock* b, std::int32_t unit) {
    return b ? guarded([&] { return driver().OpenLpt(b, unit); }, std::uint8_t{0}) : 0;
}
std::uint8_t __stdcall CloseLpt(DriverParamBlock* b) {
    return b ? guarded([&] { return driver().CloseLpt(b); }, std::uint8_t{0}) : 0;
}
std::uint8_t __stdcall PutLpt(DriverParamBlock* b, const char* text) {
    return b ? guarded([&] { return driver().PutLpt(b, text); }, std::uint8_t{0}) : 0;
}
std::int32_t __stdcall StartStatusCCapture(std::int32_t enable, StatusCaptureCallback cb) {
    return driver().StartStatusCCapture(enable, cb);
}

// The library holds no COM class.
HRESULT __stdcall DllGetClassObject(REFCLSID, REFIID, void** out) {
    if (out) *out = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}
// Never unloaded once the poll thread runs: its code must stay mapped.
HRESULT __stdcall DllCanUnloadNow() {
    return driver().poll_thread_started() ? S_FALSE : S_OK;
}
HRESULT __stdcall DllRegisterServer() { return S_OK; }

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}
