#pragma once

#include <cstdint>
#include <string>

#include "zrn/callconv.h"
#include "zrn/param_block.h"
#include "zrn/status_callback.h"

namespace zrn::so {

// Driver entry points as the Service Object calls them. "Byte" results are
// one-byte booleans: declaring them as uint8_t reads exactly that byte.
using FnCVersion = std::int32_t(ZRN_STDCALL*)(std::int32_t);
using FnOpenCom = std::uint8_t(ZRN_STDCALL*)(DriverParamBlock*, std::int32_t unit);
using FnCloseCom = std::int32_t(ZRN_STDCALL*)(DriverParamBlock*);
using FnPutCom = std::uint8_t(ZRN_STDCALL*)(DriverParamBlock*, const char* text);
using FnGetComStat = std::uint8_t(ZRN_STDCALL*)(DriverParamBlock*, std::int32_t* status);
using FnOpenLpt = std::uint8_t(ZRN_STDCALL*)(DriverParamBlock*, std::int32_t unit);
using FnCloseLpt = std::int32_t(ZRN_STDCALL*)(DriverParamBlock*);
using FnPutLpt = std::uint8_t(ZRN_STDCALL*)(DriverParamBlock*, const char* text);
using FnStartStatusCapture = std::int32_t(ZRN_STDCALL*)(std::int32_t on, StatusCaptureCallback callback);
using FnUVersion = std::int32_t(ZRN_STDCALL*)();
using FnUnitCall = std::int32_t(ZRN_STDCALL*)(std::int32_t unit);  // OpenUPort, OpenUCashDrawer, ...

// The driver functions the Service Object calls, filled in by binding.
struct EntryPoints {
    FnUVersion UVersion = nullptr;
    FnUnitCall OpenUPort = nullptr;
    FnUnitCall OpenUCashDrawer = nullptr;
    FnUnitCall UCashDrawerStatus = nullptr;
    FnUnitCall CloseUPort = nullptr;
    FnCVersion CVersion = nullptr;
    FnOpenCom OpenCom = nullptr;
    FnCloseCom CloseCom = nullptr;
    FnPutCom PutCom = nullptr;
    FnGetComStat GetComStat = nullptr;
    FnOpenLpt OpenLpt = nullptr;
    FnCloseLpt CloseLpt = nullptr;
    FnPutLpt PutLpt = nullptr;
    FnStartStatusCapture StartStatusCCapture = nullptr;
    FnStartStatusCapture StartStatusUCapture = nullptr;
};

// Loading libraries by path and looking names up (LoadLibrary /
// GetProcAddress in the shell).
class DriverLoader {
public:
    using Library = std::uintptr_t;  // 0: none
    virtual ~DriverLoader() = default;
    virtual Library load(const std::string& path) = 0;
    virtual void* symbol(Library lib, const char* name) = 0;
    virtual void release(Library lib) = 0;
};

// The PC speaker.
class Beeper {
public:
    virtual ~Beeper() = default;
    virtual void beep(std::int32_t frequency, std::int32_t duration_ms) = 0;
};

}  // namespace zrn::so
