// The USB driver's Win32 HID adapter and USB730SO.DLL under Wine, whose two
// virtual HID devices belong to another vendor; and, in the test VM, the
// shipped USB730SO.DLL on HID drawers made by tests/hid/hid_drawer.py (the
// cases named *OnHidDrawer*, run there under it).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "hid_drawer.h"
#include "win32_hid.h"
#include "zrn/callconv.h"
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
        if (!hid.start_read(d)) {  // this device's reports do not fit 3 bytes
            EXPECT_TRUE(hid.close(d));
            continue;
        }
        ++reads;
        ASSERT_TRUE(CancelIoEx(reinterpret_cast<HANDLE>(d), nullptr));
        ASSERT_EQ(hid.wait(), HidPort::Wake::Read);
        std::uint8_t report[3] = {0, 1, 0};  // a stale "open"
        EXPECT_FALSE(hid.finish_read(d, report)) << "an aborted read is not a report";
        EXPECT_FALSE(hid.finish_read(d, report)) << "and is not taken twice";
        EXPECT_EQ(report[1], 1) << "nothing copied out";
        // Outstanding again, then cancelled and finished by the adapter.
        ASSERT_TRUE(hid.start_read(d));
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
    EXPECT_EQ(hid.abandoned(), 0) << "every cancelled read gave its buffer back in time";
}

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
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

    const std::string t = file_text(trace);
    EXPECT_NE(t.find("] ZRNUSB730_Initialization\r\n"), std::string::npos) << t;
    EXPECT_NE(t.find("] > OpenUPort_Init\r\n"), std::string::npos);
    EXPECT_NE(t.find("] < OpenUPort_Term-1\r\n"), std::string::npos);
    EXPECT_NE(t.find("] < CloseUPort_Term-1\r\n"), std::string::npos);
    for (const char* n : {"ODVEnabled", "RDKInterval", "RDKDelay", "DCSDelay", "TraceEnabled"}) reg.delete_value(key.get(), n);
}

// --- the shipped driver on HID drawers of the test VM -------------------------------

using e2e::HidDrawers;
using e2e::kHidWaitMs;
using e2e::kIdleReport;
using e2e::kOpeningReport;
using e2e::times;
using e2e::wait_until;
using Settings = e2e::UsbSettings;

e2e::Reports g_events;
void ZRN_STDCALL on_status(const char* name, std::int32_t value) { g_events.add(name, value); }

bool has_event(int value, std::size_t from = 0) {
    return g_events.wait([&](const auto& items) {
        for (std::size_t i = from; i < items.size(); ++i)
            if (items[i].first == "CD730" && items[i].second == value) return true;
        return false;
    }, kHidWaitMs);
}

// USB730SO.DLL loaded with the test's settings (read at its first call),
// its status reports going to g_events; unloaded again at the end.
class Usb730So {
public:
    explicit Usb730So(const Settings& s) : settings_(s) {
        lib_ = LoadLibraryA(dll_path().c_str());
        open_port = e2e::proc<Unit>(lib_, "OpenUPort");
        close_port = e2e::proc<Unit>(lib_, "CloseUPort");
        fire = e2e::proc<Unit>(lib_, "OpenUCashDrawer");
        status = e2e::proc<Unit>(lib_, "UCashDrawerStatus");
        capture = e2e::proc<Capture>(lib_, "StartStatusUCapture");
        can_unload = e2e::proc<CanUnload>(lib_, "DllCanUnloadNow");
        if (capture) capture(1, on_status);
    }
    ~Usb730So() {
        if (lib_ && close_port) close_port(0);
        unload();
    }
    bool loaded() const { return open_port && close_port && fire && status && capture && can_unload; }
    // Lets go of the library; whether it is then unmapped (its status
    // thread, which holds it, may still be returning: bounded).
    bool unload() {
        if (!lib_) return true;
        FreeLibrary(lib_);
        lib_ = nullptr;
        return wait_until([] { return GetModuleHandleA(dll_path().c_str()) == nullptr; }, kHidWaitMs);
    }
    // Whether the status thread has returned (bounded wait).
    bool thread_gone() {
        return wait_until([&] { return can_unload() == S_OK; }, kHidWaitMs);
    }

    using Unit = std::int32_t(ZRN_STDCALL*)(std::int32_t);
    using Capture = std::int32_t(ZRN_STDCALL*)(std::int32_t, StatusCaptureCallback);
    using CanUnload = HRESULT(__stdcall*)();
    Unit open_port = nullptr, close_port = nullptr, fire = nullptr, status = nullptr;
    Capture capture = nullptr;
    CanUnload can_unload = nullptr;

private:
    e2e::ScopedUsbSettings settings_;
    HMODULE lib_ = nullptr;
};

// One drawer, "d", plugged in and listed by the system.
::testing::AssertionResult plug_in_one(HidDrawers& hid) {
    if (!hid.add("d")) return ::testing::AssertionFailure() << hid.last();
    if (!hid.shown({"d"})) return ::testing::AssertionFailure() << "the drawer is not listed";
    return ::testing::AssertionSuccess();
}

// Settings under which an unanswered fire is sent twice more.
Settings repeating_twice() {
    Settings s;
    s.RDKInterval = 2;
    s.RDKDelay = 100;
    return s;
}

// The reports exactly as the interface receives them: the idle report once
// at the thread's start, one opening report per fire and the repeats the
// settings ask for when the drawer does not open, none when it does; the
// drawer's own reports, state 3 among them, as the driver reads them.
TEST(Usb730SoOnHidDrawer, ReportsFiresRepeatsAndVerification) {
    HidDrawers hid;
    ASSERT_TRUE(plug_in_one(hid));
    Settings s = repeating_twice();
    {
        Usb730So lib(s);
        ASSERT_TRUE(lib.loaded());
        const std::size_t e0 = g_events.items().size();
        ASSERT_EQ(lib.open_port(0), 1);
        EXPECT_TRUE(hid.received("d", {kIdleReport}));
        EXPECT_EQ(lib.fire(0), 1) << "the drawer answered open";
        EXPECT_TRUE(hid.received("d", {kIdleReport, kOpeningReport})) << "one opening report, no repeat";
        EXPECT_TRUE(has_event(1, e0));
        EXPECT_EQ(lib.status(0), 1) << "the acknowledgement";
        EXPECT_EQ(lib.status(0), 1) << "then the current state: open";
        ASSERT_TRUE(hid.cmd("state d 2"));  // closed by hand
        EXPECT_TRUE(has_event(2, e0));
        EXPECT_EQ(lib.status(0), 2);
        hid.forget("d");

        ASSERT_TRUE(hid.cmd("fires d ignore"));
        EXPECT_EQ(lib.fire(0), 0) << "never answered";
        EXPECT_TRUE(hid.received("d", times(3, kOpeningReport))) << "the fire and RDKInterval 2 repeats";
        hid.forget("d");

        const std::size_t e1 = g_events.items().size();
        ASSERT_TRUE(hid.cmd("fires d three"));
        EXPECT_EQ(lib.fire(0), 0) << "state 3 is no answer";
        EXPECT_TRUE(hid.received("d", times(3, kOpeningReport)));
        EXPECT_EQ(lib.status(0), 2) << "state 3 changes nothing";
        EXPECT_EQ(g_events.items().size(), e1) << "and reports nothing";
        hid.forget("d");

        ASSERT_TRUE(hid.cmd("fires d answer"));
        ASSERT_TRUE(hid.cmd("state d 1"));  // opened by hand
        EXPECT_TRUE(has_event(1, e1));
        EXPECT_EQ(lib.fire(0), 0) << "already open: no new report comes";
        EXPECT_TRUE(hid.received("d", {kOpeningReport})) << "and no repeats";
        ASSERT_TRUE(hid.cmd("state d 2"));
        EXPECT_TRUE(has_event(2, e1 + 1));
        EXPECT_EQ(lib.close_port(0), 1);
        EXPECT_TRUE(lib.unload()) << "unmapped once the status thread has returned";
    }
    hid.forget("d");
    s.ODVEnabled = 0;
    Usb730So lib(s);
    ASSERT_EQ(lib.open_port(0), 1);
    ASSERT_TRUE(hid.cmd("fires d ignore"));
    EXPECT_EQ(lib.fire(0), 1) << "ODVEnabled 0: success, whatever the drawer does";
    EXPECT_TRUE(hid.received("d", {kIdleReport, kOpeningReport, kOpeningReport, kOpeningReport})) << "verified and repeated all the same";
}

// Unplugged during a fire and during the verify repeats: no result claims
// an open that did not happen, the status thread ends, and after a replug
// the next command reopens the device and works.
TEST(Usb730SoOnHidDrawer, UnplugDuringAFireAndDuringTheRepeats) {
    HidDrawers hid;
    ASSERT_TRUE(plug_in_one(hid));
    const Settings s = repeating_twice();
    Usb730So lib(s);
    ASSERT_TRUE(lib.loaded());
    ASSERT_EQ(lib.open_port(0), 1);
    ASSERT_TRUE(hid.received("d", {kIdleReport}));
    for (const char* when : {"unplug:1", "unplug:2"}) {
        SCOPED_TRACE(when);
        hid.forget("d");
        ASSERT_TRUE(hid.cmd(std::string("fires d ") + when));
        const std::int32_t r = lib.fire(0);
        EXPECT_TRUE(r == 0 || r == -4 || r == -1) << "an open that did not happen: " << r;
        EXPECT_TRUE(lib.thread_gone()) << "the status thread ends with its device";
        const int fires = when[7] - '0';
        EXPECT_EQ(hid.reports("d"), times(fires, kOpeningReport)) << "up to the report that unplugged it";
        EXPECT_TRUE(hid.shown({})) << "gone from the system's list";
        EXPECT_EQ(lib.status(0), -1) << "the restart cannot reopen it";
        hid.forget("d");
        ASSERT_TRUE(hid.cmd("replug d"));
        ASSERT_TRUE(hid.shown({"d"}));
        ASSERT_TRUE(hid.cmd("fires d answer"));
        EXPECT_EQ(lib.fire(0), 1) << "replugged: reopened and fired";
        EXPECT_TRUE(hid.received("d", {kIdleReport, kOpeningReport}));
        ASSERT_TRUE(hid.cmd("state d 2"));
        EXPECT_TRUE(wait_until([&] { return lib.status(0) == 2; }, kHidWaitMs, 50));
    }
}

// CloseUPort with a read outstanding (the status thread waits for the
// drawer) cancels it and returns once the thread has ended; loaded, probed and
// unloaded again, as the utility probes, the library leaves nothing behind.
TEST(Usb730SoOnHidDrawer, CloseWithAReadOutstandingAndUnload) {
    HidDrawers hid;
    ASSERT_TRUE(plug_in_one(hid));
    DWORD baseline = 0;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        Usb730So lib({});
        ASSERT_TRUE(lib.loaded());
        ASSERT_EQ(lib.open_port(0), 1);
        EXPECT_TRUE(hid.received("d", {kIdleReport}));
        hid.forget("d");
        EXPECT_EQ(lib.close_port(0), 1);
        // Asked at once: the close waited for the thread's end, not for its bound to pass.
        EXPECT_EQ(lib.can_unload(), S_OK) << "CloseUPort returned with the status thread still there";
        EXPECT_TRUE(lib.unload()) << "unmapped once the thread has returned";
        if (round == 0) baseline = handle_count();
    }
    EXPECT_EQ(handle_count(), baseline) << "each load, probe and unload leaves handles behind";
}

// Last of the program: Wine may go on listing a drawer of two with the same
// identifiers after it went.
TEST(Usb730SoOnHidDrawer, DiscoveryTakesTheFirstMatchingInterfaceAndSkipsOthers) {
    HidDrawers hid;
    ASSERT_TRUE(hid.ok()) << "no HID drawer: run as tests/hid/hid_drawer.py -- TEST, in the test VM";
    ASSERT_TRUE(hid.add("other", 0x0731)) << hid.last();
    ASSERT_TRUE(hid.add("first")) << hid.last();
    ASSERT_TRUE(hid.add("second")) << hid.last();
    ASSERT_TRUE(hid.shown({"first", "second"}));
    ASSERT_TRUE(hid.shown({"other"}, 0x0731));
    // As the driver lists them: it keeps the first of the two. Only these
    // two count: Wine may still list a drawer an earlier program unplugged.
    std::vector<std::string> order = e2e::listed_drawers(DrawerVendorId, DrawerProductId);
    std::erase_if(order, [](const std::string& n) { return n != "first" && n != "second"; });
    ASSERT_EQ(order.size(), 2u);
    win32::Win32Clock clock;
    const std::string trace = trace_file_name(clock.local_time());
    DeleteFileA(trace.c_str());
    {
        Usb730So lib({});
        ASSERT_TRUE(lib.loaded()) << dll_path();
        EXPECT_EQ(lib.open_port(0), 1);
        EXPECT_TRUE(hid.received(order[0], {kIdleReport})) << "the status thread starts talking to the first";
        EXPECT_TRUE(hid.reports(order[1]).empty()) << "the second matching interface is left alone";
        EXPECT_TRUE(hid.reports("other").empty()) << "another product of the vendor is skipped";
        EXPECT_EQ(lib.close_port(0), 1);
        EXPECT_EQ(lib.close_port(0), -1) << "closed already";

        // None attached: not found, and said so.
        ASSERT_TRUE(hid.cmd("clear"));
        ASSERT_TRUE(hid.shown({}));
        EXPECT_EQ(lib.open_port(0), 0);
        EXPECT_EQ(lib.can_unload(), S_OK) << "no thread started";
    }
    const std::string t = file_text(trace);
    EXPECT_NE(t.find("] < OpenUPort_Term0\r\n"), std::string::npos) << t;
    EXPECT_NE(t.find("] < CloseUPort_Term:1\r\n"), std::string::npos) << t;
    EXPECT_NE(t.find("] < OpenUPort_Term-1\r\n"), std::string::npos) << t;
}

}  // namespace
}  // namespace zrn::usbdrv
