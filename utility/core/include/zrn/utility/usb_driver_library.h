#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zrn::utility {

// The library page 2 probes a USB drawer with, in the driver folder.
inline constexpr std::string_view kUsbLibraryName = "USB730SO.DLL";

// The USB driver library as page 2 uses it: loaded when the page opens, its
// port opened and closed again on Finish to see that the device answers.
class UsbDriverLibrary {
public:
    virtual ~UsbDriverLibrary() = default;
    // Loads the library and looks up OpenUPort and CloseUPort; false (and
    // nothing held) when either is missing.
    virtual bool load(const std::string& path) = 0;
    virtual std::int32_t open_port(std::int32_t unit) = 0;
    virtual void close_port(std::int32_t unit) = 0;
    virtual void unload() = 0;
};

}  // namespace zrn::utility
