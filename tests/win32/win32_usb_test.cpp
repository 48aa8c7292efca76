// The USB driver's Win32 HID adapter and USB730SO.DLL under Wine, whose two
// virtual HID devices belong to another vendor.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "win32_hid.h"
#include "zrn/usbdrv/usb_driver.h"
#include "zrn/device_types.h"
#include "zrn/trace.h"
#include "zrn/win32/win32_platform.h"

namespace zrn::usbdrv {
namespace {

DWORD handle_count() {
    DWORD n = 0;
    GetProcessHandleCount(GetCurrentProcess(), &n);
    return n;
}

TEST(Win32Hid, EveryInterfaceIsOpenedComparedAndClosedWithoutLeaks) {
    Win32Hid hid;
    std::vector<std::string> warm;
    ASSERT_TRUE(hid.list_interfaces(&warm));  // first use loads the libraries
    const DWORD before = handle_count();
    std::vector<std::string> paths;
    ASSERT_TRUE(hid.list_interfaces(&paths));
    ASSERT_GE(paths.size(), 2u);
    int others = 0;
    for (const auto& p : paths) {
        ASSERT_FALSE(p.empty());
        const HidPort::Device d = hid.open(p);
        ASSERT_NE(d, 0) << p;
        std::uint16_t vendor = 0, product = 0;
        ASSERT_TRUE(hid.attributes(d, &vendor, &product));
        EXPECT_FALSE(vendor == DrawerVendorId && product == DrawerProductId);
        others += vendor == 0x845E ? 1 : 0;
        EXPECT_TRUE(hid.fetch_descriptor(d));
        EXPECT_TRUE(hid.close(d));
    }
    EXPECT_GE(others, 2);
    EXPECT_EQ(handle_count(), before) << "device list, handles and descriptors all released";
}

// An aborted read (as when the device goes away) wakes the status thread's
// wait like a completed one; it must not count as a report. Outstanding
// I/O is cancelled and finished before the handle is closed.
TEST(Win32Hid, AbortedReadIsNoReportAndIoEndsBeforeClose) {
    Win32Hid hid;
    std::vector<std::string> paths;
    ASSERT_TRUE(hid.list_interfaces(&paths));
    ASSERT_FALSE(paths.empty());
    ASSERT_TRUE(hid.create_events());
    ASSERT_TRUE(hid.create_events()) << "made again: the same events, set to their start state";
    hid.reset_stop_and_write_request();
    int reads = 0;
    for (const auto& p : paths) {
        const HidPort::Device d = hid.open(p);
        ASSERT_NE(d, 0) << p;
        std::uint8_t buffer[3] = {0, 1, 0};  // a stale "open"
        if (!hid.start_read(d, buffer)) {  // this device's reports do not fit 3 bytes
            EXPECT_TRUE(hid.close(d));
            continue;
        }
        ++reads;
        ASSERT_TRUE(CancelIoEx(reinterpret_cast<HANDLE>(d), nullptr));
        ASSERT_EQ(hid.wait(), HidPort::Wake::Read);
        EXPECT_FALSE(hid.finish_read(d)) << "an aborted read is not a report";
        EXPECT_FALSE(hid.finish_read(d)) << "and is not taken twice";
        // Outstanding again, then cancelled and finished by the adapter.
        ASSERT_TRUE(hid.start_read(d, buffer));
        hid.cancel_io(d);
        EXPECT_TRUE(hid.close(d));
    }
    // The write-request and stop events still wake the wait, in order.
    hid.signal_stop();
    hid.signal_write_request();
    EXPECT_EQ(hid.wait(), HidPort::Wake::WriteRequest);
    EXPECT_EQ(hid.wait(), HidPort::Wake::Stop);
    std::printf("reads aborted on %d of %zu devices\n", reads, paths.size());
    EXPECT_GE(reads, 1) << "no device took a read to abort";
}

std::string dll_path() {
    std::string p = "Z:" ZRN_USB_DLL;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

TEST(Usb730So, OpenUPortFindsNoDrawerAndTracesIt) {
    win32::Win32Registry reg;
    platform::ScopedKey key(reg);
    ASSERT_EQ(reg.create_key(platform::kHklm, kServiceSettingsKey, "", key.out(), nullptr), platform::kRegOk);
    for (const char* n : {"ODVEnabled", "RDKInterval", "RDKDelay", "DCSDelay"}) platform::set_dword(reg, key.get(), n, 0);
    platform::set_dword(reg, key.get(), "TraceEnabled", 1);
    win32::Win32Clock clock;
    const std::string trace = trace_file_name(clock.local_time());
    DeleteFileA(trace.c_str());

    HMODULE lib = LoadLibraryA(dll_path().c_str());
    ASSERT_NE(lib, nullptr) << dll_path();
    using Unit = std::int32_t(__stdcall*)(std::int32_t);
    using Version = std::int32_t(__stdcall*)();
    auto open = reinterpret_cast<Unit>(reinterpret_cast<void*>(GetProcAddress(lib, "OpenUPort")));
    auto close = reinterpret_cast<Unit>(reinterpret_cast<void*>(GetProcAddress(lib, "CloseUPort")));
    auto version = reinterpret_cast<Version>(reinterpret_cast<void*>(GetProcAddress(lib, "UVersion")));
    ASSERT_TRUE(open && close && version);
    EXPECT_EQ(version(), 3359);
    EXPECT_EQ(open(0), 0);
    const DWORD before = handle_count();
    EXPECT_EQ(open(0), 0);
    EXPECT_EQ(handle_count(), before) << "a failed discovery leaves nothing open";
    EXPECT_EQ(close(0), -1);

    std::ifstream in(trace, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string t = ss.str();
    EXPECT_NE(t.find("] ZRNUSB730_Initialization\r\n"), std::string::npos) << t;
    EXPECT_NE(t.find("] > OpenUPort_Init\r\n"), std::string::npos);
    EXPECT_NE(t.find("] < OpenUPort_Term-1\r\n"), std::string::npos);
    EXPECT_NE(t.find("] < CloseUPort_Term-1\r\n"), std::string::npos);
    for (const char* n : {"ODVEnabled", "RDKInterval", "RDKDelay", "DCSDelay", "TraceEnabled"}) reg.delete_value(key.get(), n);
}

}  // namespace
}  // namespace zrn::usbdrv
