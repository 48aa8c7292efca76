#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "zrn/callconv.h"
#include "zrn/utility/usb_driver_library.h"

namespace zrn::utility::win32 {

// USB730SO.DLL loaded by its path, OpenUPort and CloseUPort looked up.
class Win32UsbDriverLibrary final : public UsbDriverLibrary {
public:
    ~Win32UsbDriverLibrary() override { unload(); }
    bool load(const std::string& path) override;
    std::int32_t open_port(std::int32_t unit) override;
    void close_port(std::int32_t unit) override;
    void unload() override;

private:
    HMODULE module_ = nullptr;
    std::int32_t(ZRN_STDCALL* open_)(std::int32_t) = nullptr;
    std::int32_t(ZRN_STDCALL* close_)(std::int32_t) = nullptr;
};

}  // namespace zrn::utility::win32
