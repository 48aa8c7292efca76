#include "usb_driver_library_win32.h"

namespace zrn::utility::win32 {

bool Win32UsbDriverLibrary::load(const std::string& path) {
    unload();
    module_ = LoadLibraryA(path.c_str());
    if (module_ == nullptr) return false;
    open_ = reinterpret_cast<decltype(open_)>(reinterpret_cast<void*>(GetProcAddress(module_, "OpenUPort")));
    close_ = reinterpret_cast<decltype(close_)>(reinterpret_cast<void*>(GetProcAddress(module_, "CloseUPort")));
    if (open_ == nullptr || close_ == nullptr) {
        unload();
        return false;
    }
    return true;
}

std::int32_t Win32UsbDriverLibrary::open_port(std::int32_t unit) { return open_ != nullptr ? open_(unit) : 0; }

void Win32UsbDriverLibrary::close_port(std::int32_t unit) {
    if (close_ != nullptr) close_(unit);
}

void Win32UsbDriverLibrary::unload() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
    open_ = nullptr;
    close_ = nullptr;
}

}  // namespace zrn::utility::win32
