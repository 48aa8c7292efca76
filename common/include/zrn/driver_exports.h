#pragma once

// The two driver libraries the Service Object loads from TargetPath, and the
// functions it looks up in each. Whatever checks an installation looks for
// the same files and names.
#include <array>

namespace zrn {

inline constexpr const char* kPortDriverFile = "PortDrawerSO.DLL";
inline constexpr const char* kUsbDriverFile = "USB730SO.DLL";

// The serial and parallel driver's functions, in the order they are looked up.
namespace port_export {
inline constexpr const char* CVersion = "CVersion";
inline constexpr const char* OpenCom = "OpenCom";
inline constexpr const char* CloseCom = "CloseCom";
inline constexpr const char* PutCom = "PutCom";
inline constexpr const char* GetComStat = "GetComStat";
inline constexpr const char* OpenLpt = "OpenLpt";
inline constexpr const char* CloseLpt = "CloseLpt";
inline constexpr const char* PutLpt = "PutLpt";
inline constexpr const char* StartStatusCCapture = "StartStatusCCapture";
}  // namespace port_export

inline constexpr std::array<const char*, 9> kPortDriverExports = {
    port_export::CVersion,   port_export::OpenCom,  port_export::CloseCom,
    port_export::PutCom,     port_export::GetComStat, port_export::OpenLpt,
    port_export::CloseLpt,   port_export::PutLpt,   port_export::StartStatusCCapture};

// The USB driver's functions, in the order they are looked up.
namespace usb_export {
inline constexpr const char* UVersion = "UVersion";
inline constexpr const char* OpenUPort = "OpenUPort";
inline constexpr const char* OpenUCashDrawer = "OpenUCashDrawer";
inline constexpr const char* UCashDrawerStatus = "UCashDrawerStatus";
inline constexpr const char* CloseUPort = "CloseUPort";
inline constexpr const char* StartStatusUCapture = "StartStatusUCapture";
}  // namespace usb_export

inline constexpr std::array<const char*, 6> kUsbDriverExports = {
    usb_export::UVersion,   usb_export::OpenUPort,  usb_export::OpenUCashDrawer,
    usb_export::UCashDrawerStatus, usb_export::CloseUPort, usb_export::StartStatusUCapture};

}  // namespace zrn
