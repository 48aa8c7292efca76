#pragma once

// The OPOS CashDrawer Control Object as the utility's health check reaches
// it: its class id and the dispatch ids of the members the check calls.
#include <windows.h>
#include <oaidl.h>

namespace zrn::utility::win32 {

// {CCB90042-B81E-11D2-AB74-0040054C3719}
inline constexpr CLSID kCashDrawerControl = {0xCCB90042, 0xB81E, 0x11D2,
                                             {0xAB, 0x74, 0x00, 0x40, 0x05, 0x4C, 0x37, 0x19}};
inline constexpr wchar_t kCashDrawerControlKey[] = L"CLSID\\{CCB90042-B81E-11D2-AB74-0040054C3719}";

namespace control_dispid {
inline constexpr DISPID DeviceEnabled = 17;
inline constexpr DISPID ResultCode = 22;
inline constexpr DISPID ClaimDevice = 32;
inline constexpr DISPID Close = 35;
inline constexpr DISPID Open = 37;
inline constexpr DISPID CapStatus = 50;
inline constexpr DISPID DrawerOpened = 51;
inline constexpr DISPID OpenDrawer = 60;
}  // namespace control_dispid

}  // namespace zrn::utility::win32
