#include "zrn/usbdrv/usb_driver.h"

#include <gtest/gtest.h>

#include <memory>

#include "fake_hid.h"
#include "zrn/device_types.h"
#include "zrn/fakes/fake_clock.h"
#include "zrn/fakes/fake_files.h"
#include "zrn/fakes/fake_registry.h"
#include "zrn/fakes/fake_threads.h"

namespace zrn::usbdrv::testing {
namespace {

std::vector<std::pair<std::string, int>> g_reports;
void ZRN_STDCALL record(const char* name, std::int32_t v) { g_reports.emplace_back(name, v); }

class UsbTest : public ::testing::Test {
protected:
    UsbTest() {
        g_reports.clear();
        // Two other vendors' devices first, as Wine lists them, then the drawer.
        hid.devices = {{"\\\\?\\hid#vid_845e&pid_0001", 0x845E, 1},
                       {"\\\\?\\hid#vid_845e&pid_0002", 0x845E, 2},
                       {"\\\\?\\hid#drawer", DrawerVendorId, DrawerProductId}};
        hid.drawer = 2;
    }
    ~UsbTest() override {
        if (d && d->device_open()) d->CloseUPort(0);
        threads.join_all();
    }
    UsbDriver& make(UsbSettings s) {
        s.TraceEnabled = s.TraceEnabled ? s.TraceEnabled : 1;
        d = std::make_unique<UsbDriver>(UsbPorts{hid, clock, threads, trace}, s);
        hid.thread_alive = [this] { return d->thread_running(); };
        d->StartStatusUCapture(1, record);
        return *d;
    }
    UsbDriver& opened(UsbSettings s = {}) {
        UsbDriver& u = make(s);
        EXPECT_EQ(u.OpenUPort(0), 1);
        EXPECT_TRUE(hid.idle());
        return u;
    }
    std::string trace_text() { return files.content(trace_file_name(clock.local_time())); }
    bool traced(const std::string& line) { return trace_text().find("] " + line + "\r\n") != std::string::npos; }

    FakeHid hid;
    fakes::FakeClock clock;
    fakes::FakeThreads threads{fakes::FakeThreads::Mode::Real};
    fakes::FakeFiles files;
    TraceLog trace{files, clock};
    std::unique_ptr<UsbDriver> d;
};

TEST(UsbSettings, LimitsAndStopAtFirstMissing) {
    fakes::FakeRegistry reg;
    platform::ScopedKey k(reg);
    reg.create_key(platform::kHklm, kServiceSettingsKey, "", k.out(), nullptr);
    EXPECT_EQ(read_usb_settings(reg).ODVEnabled, 0);
    platform::set_dword(reg, k.get(), "RDKInterval", 12);
    platform::set_dword(reg, k.get(), "TraceEnabled", 1);
    UsbSettings s = read_usb_settings(reg);
    EXPECT_EQ(s.RDKInterval, 0) << "ODVEnabled missing: all stay 0";
    EXPECT_EQ(s.TraceEnabled, 0);
    platform::set_dword(reg, k.get(), "ODVEnabled", 1);
    platform::set_dword(reg, k.get(), "RDKDelay", 50);
    platform::set_dword(reg, k.get(), "DCSDelay", 5000);
    s = read_usb_settings(reg);
    EXPECT_EQ(s.ODVEnabled, 1);
    EXPECT_EQ(s.RDKInterval, 9);
    EXPECT_EQ(s.RDKDelay, 100);
    EXPECT_EQ(s.DCSDelay, 3000);
    EXPECT_EQ(s.TraceEnabled, 1);
    platform::set_dword(reg, k.get(), "RDKInterval", static_cast<std::uint32_t>(-3));
    platform::set_dword(reg, k.get(), "RDKDelay", 5000);
    platform::set_dword(reg, k.get(), "DCSDelay", 0);
    s = read_usb_settings(reg);
    EXPECT_EQ(s.RDKInterval, 0);
    EXPECT_EQ(s.RDKDelay, 3000);
    EXPECT_EQ(s.DCSDelay, 0);
    reg.delete_value(k.get(), "RDKDelay");
    s = read_usb_settings(reg);
    EXPECT_EQ(s.RDKInterval, 0);
    EXPECT_EQ(s.DCSDelay, 0) << "reading stops at the first missing value";
    EXPECT_EQ(s.TraceEnabled, 0);
}

TEST_F(UsbTest, DiscoveryOpensComparesClosesAndSkips) {
    UsbDriver& u = make({});
    EXPECT_EQ(u.UVersion(), 3359);
    hid.devices.insert(hid.devices.begin(), {"", 0, 0});  // no detail record
    hid.devices[1].openable = false;
    ASSERT_EQ(u.OpenUPort(0), 1);
    EXPECT_EQ(hid.opens, 2) << "the other vendor's openable device and the drawer";
    EXPECT_EQ(hid.open_handles(), 1);
    EXPECT_EQ(hid.descriptors, 1);
    EXPECT_TRUE(traced("ZRNUSB730_Initialization"));
    EXPECT_TRUE(traced("< OpenUPort_Term0"));
    ASSERT_TRUE(hid.idle());
    EXPECT_EQ(hid.idle_reports, 1);
    ASSERT_EQ(u.OpenUPort(0), 1) << "found again";
    EXPECT_EQ(hid.open_handles(), 1) << "the earlier handle is not leaked";
    EXPECT_EQ(u.CloseUPort(0), 1);
    EXPECT_TRUE(traced("< CloseUPort_Term:1"));
    EXPECT_EQ(hid.open_handles(), 0);
    EXPECT_EQ(u.CloseUPort(0), -1);
    EXPECT_TRUE(traced("< CloseUPort_Term-1"));

    hid.devices.pop_back();
    EXPECT_EQ(u.OpenUPort(0), 0);
    EXPECT_TRUE(traced("< OpenUPort_Term-1"));
    EXPECT_EQ(hid.open_handles(), 0);
    hid.list_fails = true;
    EXPECT_EQ(u.OpenUPort(0), 0);
}

TEST_F(UsbTest, ReportsFirstStateOnlyWhenItDiffersAndIgnoresThree) {
    opened();
    hid.report(2);
    EXPECT_TRUE(g_reports.empty()) << "closed is the initial last state";
    hid.report(1);
    hid.report(1);
    hid.report(3);
    EXPECT_EQ(d->current_state(), 1);
    hid.report(2);
    EXPECT_EQ(g_reports, (std::vector<std::pair<std::string, int>>{{"CD730", 1}, {"CD730", 2}}));
    EXPECT_TRUE(traced(":: Status0Thread_DataRead:3"));
    EXPECT_TRUE(traced("< Status0Thread: State=2"));
}

TEST_F(UsbTest, DcsDelayDelaysOnlyTheChangeToClosed) {
    UsbSettings s;
    s.DCSDelay = 500;
    opened(s);
    clock.clear_sleeps();
    hid.report(1);
    EXPECT_TRUE(clock.sleeps().empty());
    hid.report(2);
    EXPECT_EQ(clock.sleeps(), (std::vector<std::uint32_t>{500}));
    EXPECT_TRUE(traced("< Status0Thread: Processing DCSDelay=500"));
    EXPECT_EQ(g_reports.size(), 2u);
}

TEST_F(UsbTest, FireVerifyAndRepeats) {
    UsbSettings s;
    s.ODVEnabled = 1;
    s.RDKInterval = 2;
    s.RDKDelay = 1000;
    opened(s);
    EXPECT_EQ(d->OpenUCashDrawer(0), 1);
    EXPECT_EQ(hid.opening_reports, 1);
    EXPECT_EQ(d->UCashDrawerStatus(0), 1) << "the acknowledgement";
    hid.report(2);
    EXPECT_EQ(d->UCashDrawerStatus(0), 2) << "consumed once; then the current state";
    EXPECT_EQ(d->OpenUCashDrawer(0), 1);
    hid.report(2);  // pushed shut before anyone asked
    EXPECT_EQ(d->UCashDrawerStatus(0), 2) << "a later report replaces the acknowledgement";
    const int fired = hid.opening_reports;

    hid.responds = false;
    const std::uint64_t t0 = clock.now();
    EXPECT_EQ(d->OpenUCashDrawer(0), 0);
    EXPECT_EQ(hid.opening_reports, fired + 3) << "one fire and two repeats";
    EXPECT_EQ(clock.now() - t0, 500u + 1200u + 2u * (1000u + 1200u));
    EXPECT_TRUE(traced("< OpenUCashDrawer_Term: 0"));

    hid.respond_state = 1;
    hid.responds = true;
    hid.report(1);  // the drawer is already open
    hid.responds = false;
    EXPECT_EQ(d->OpenUCashDrawer(0), 0);
    EXPECT_EQ(hid.opening_reports, fired + 4) << "no repeats for an open drawer";
}

TEST_F(UsbTest, WithoutVerificationAlwaysSuccess) {
    opened();
    hid.responds = false;
    EXPECT_EQ(d->OpenUCashDrawer(0), 1);
    hid.fail_writes = true;  // the thread ends; the command still reports 1
    EXPECT_EQ(d->OpenUCashDrawer(0), 1);
    EXPECT_TRUE(traced("< Status0Thread_Term-5"));
    EXPECT_FALSE(d->thread_running());
}

TEST_F(UsbTest, RestartPathsAndUnplug) {
    UsbSettings s;
    s.ODVEnabled = 1;
    opened(s);
    hid.unplug();
    for (int i = 0; i < 500 && d->thread_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(d->thread_running());
    EXPECT_TRUE(traced("< Status0Thread_Term-4"));
    EXPECT_EQ(d->OpenUCashDrawer(0), -1) << "gone: the reopen fails";
    EXPECT_TRUE(traced("< OpenUCashDrawer_Term-1"));
    EXPECT_EQ(d->UCashDrawerStatus(0), -1);
    EXPECT_TRUE(traced("< UCashDrawerStatus_Term-1"));

    hid.replug();
    threads.fail_next(1);
    EXPECT_EQ(d->UCashDrawerStatus(0), -2) << "the thread does not start";
    EXPECT_TRUE(traced("< UCashDrawerStatus_Term-2"));
    EXPECT_EQ(d->OpenUCashDrawer(0), 1) << "the next command restarts it";
    EXPECT_TRUE(d->thread_running());
}

TEST_F(UsbTest, CloseDuringRepeatsEndsWithMinusFour) {
    UsbSettings s;
    s.ODVEnabled = 1;
    s.RDKInterval = 3;
    s.RDKDelay = 100;
    opened(s);
    hid.responds = false;
    hid.on_opening_report = [&](int) { d->CloseUPort(0); };
    EXPECT_EQ(d->OpenUCashDrawer(0), -4);
    EXPECT_TRUE(traced("< OpenUCashDrawer_Term-4"));
    hid.on_opening_report = nullptr;
}

}  // namespace
}  // namespace zrn::usbdrv::testing
