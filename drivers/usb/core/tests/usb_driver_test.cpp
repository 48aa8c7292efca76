#include "zrn/usbdrv/usb_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "fake_hid.h"
#include "zrn/device_types.h"
#include "zrn/fakes/fake_clock.h"
#include "zrn/fakes/fake_files.h"
#include "zrn/fakes/fake_registry.h"
#include "zrn/fakes/fake_threads.h"

namespace zrn::usbdrv::testing {
namespace {

std::vector<std::pair<std::string, int>> g_reports;
std::function<void()> g_on_report;  // runs inside the callback, on the status thread
void ZRN_STDCALL record(const char* name, std::int32_t v) {
    if (g_on_report) g_on_report();
    g_reports.emplace_back(name, v);
}

// Real threads, counting how many status threads live at once.
class CountingThreads final : public platform::Threads {
public:
    bool start(std::function<void()> work) override {
        // A thread that has signalled its end may still be returning: give
        // it a moment (bounded) before two count as living at once.
        for (int i = 0; i < 500 && alive.load() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        // Counted from the start request, so a thread not yet scheduled
        // already counts as alive.
        const int now = ++alive;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        if (inner.start([this, work] {
                work();
                --alive;
            }))
            return true;
        --alive;
        return false;
    }
    // Waits (bounded) until no started thread is still running.
    bool none_alive() {
        for (int i = 0; i < 2500 && alive.load() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return alive.load() == 0;
    }
    fakes::FakeThreads inner{fakes::FakeThreads::Mode::Real};
    std::atomic<int> alive{0}, most{0};
};

class UsbTest : public ::testing::Test {
protected:
    UsbTest() {
        g_reports.clear();
        g_on_report = nullptr;
        // Two other vendors' devices first, as Wine lists them, then the drawer.
        hid.devices = {{"\\\\?\\hid#vid_845e&pid_0001", 0x845E, 1},
                       {"\\\\?\\hid#vid_845e&pid_0002", 0x845E, 2},
                       {"\\\\?\\hid#drawer", DrawerVendorId, DrawerProductId}};
        hid.drawer = 2;
    }
    ~UsbTest() override {
        held_ = false;
        g_on_report = nullptr;
        if (d && d->device_open()) d->CloseUPort(0);
        threads.join_all();
        counting.inner.join_all();
    }
    UsbDriver& make(UsbSettings s, platform::Threads* t = nullptr) {
        s.TraceEnabled = s.TraceEnabled ? s.TraceEnabled : 1;
        d = std::make_unique<UsbDriver>(UsbPorts{hid, clock, t ? *t : threads, trace}, s);
        hid.thread_alive = [this] { return d->thread_running(); };
        d->StartStatusUCapture(1, record);
        return *d;
    }
    UsbDriver& opened(UsbSettings s = {}, platform::Threads* t = nullptr) {
        UsbDriver& u = make(s, t);
        EXPECT_EQ(u.OpenUPort(0), 1);
        EXPECT_TRUE(hid.idle());
        return u;
    }
    // The status thread reports a change and stays inside the status
    // callback until let_callback_return(): an application that does not let
    // its event through. False when it never got there.
    bool hold_thread_in_callback() {
        held_ = true;
        g_on_report = [this] {
            inside_ = true;
            while (held_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        hid.report_async(1);
        for (int i = 0; i < 2500 && !inside_.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return inside_.load();
    }
    void let_callback_return() { held_ = false; }
    std::atomic<bool> held_{false}, inside_{false};
    std::string trace_text() { return files.content(trace_file_name(clock.local_time())); }
    bool traced(const std::string& line) { return trace_text().find("] " + line + "\r\n") != std::string::npos; }

    FakeHid hid;
    fakes::FakeClock clock;
    fakes::FakeThreads threads{fakes::FakeThreads::Mode::Real};
    CountingThreads counting;
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
    EXPECT_EQ(s.TraceKeepDays, 0) << "missing: every trace file is kept";
    platform::set_dword(reg, k.get(), "TraceKeepDays", 10);
    EXPECT_EQ(read_usb_settings(reg).TraceKeepDays, 10) << "read whatever the five did";
}

// The driver's own trace writer keeps as many days as the settings say.
TEST_F(UsbTest, TraceKeepDaysClearsOldFilesWhenTheDriverStartsTheDay) {
    clock.set_local_time({2026, 3, 10, 68, 9, 0, 0});
    files.put("C:\\ZRN\\OPOSTrace26060.log", "old");
    files.put("C:\\ZRN\\OPOSTrace26062.log", "six days");
    UsbSettings s;
    s.TraceKeepDays = 6;
    make(s);
    EXPECT_TRUE(traced("ZRNUSB730_Initialization"));
    EXPECT_FALSE(files.exists("C:\\ZRN\\OPOSTrace26060.log"));
    EXPECT_TRUE(files.exists("C:\\ZRN\\OPOSTrace26062.log"));
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

// CloseUPort returns only once the status thread has, even when that sits
// in the status callback; the next open then starts the only thread.
TEST_F(UsbTest, CloseWaitsForTheStatusThreadBeforeAnythingIsReused) {
    UsbDriver& u = opened({}, &counting);
    ASSERT_TRUE(hold_thread_in_callback());

    std::atomic<bool> closed{false};
    std::int32_t result = 0;
    std::thread closer([&] {
        result = u.CloseUPort(0);
        closed = true;
    });
    // While the callback runs the close must not be over (bounded look).
    for (int i = 0; i < 150 && !closed.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const bool closed_early = closed.load();
    EXPECT_FALSE(closed_early) << "CloseUPort gave up on a thread still in its callback";
    const int started = counting.inner.started();
    bool reopened = false;
    if (closed_early) reopened = u.OpenUPort(0) == 1;  // what a restart would do now
    EXPECT_EQ(counting.inner.started(), started) << "a thread started while the old one is in its callback";
    let_callback_return();
    closer.join();
    g_on_report = nullptr;
    EXPECT_EQ(result, 1);
    if (!reopened) {
        EXPECT_EQ(u.OpenUPort(0), 1);
    }
    EXPECT_TRUE(hid.idle());
    EXPECT_EQ(counting.most.load(), 1) << "never two status threads at once";
    EXPECT_EQ(hid.closed_under_io, 0) << "no handle closed with its read outstanding";
    EXPECT_EQ(u.CloseUPort(0), 1);
    EXPECT_TRUE(counting.none_alive());

    // Closed from inside the callback (on the status thread): no self-wait.
    EXPECT_EQ(u.OpenUPort(0), 1);
    ASSERT_TRUE(hid.idle());
    std::int32_t inner = 0;
    g_on_report = [&] { inner = u.CloseUPort(0); };
    hid.report_async(1);
    EXPECT_TRUE(counting.none_alive()) << "the thread ended after its own close";
    EXPECT_EQ(inner, 1);
    EXPECT_FALSE(u.device_open());
    EXPECT_EQ(counting.most.load(), 1);
}

// A read that failed (the drawer was unplugged) is no report: the stale
// buffer is not taken for the fire's acknowledgement, nor for a state.
TEST_F(UsbTest, FailedReadIsNeverTakenForAReport) {
    UsbSettings s;
    s.ODVEnabled = 1;
    UsbDriver& u = opened(s, &counting);
    hid.report(1);  // the drawer is open: the read buffer now holds 1
    ASSERT_EQ(g_reports.size(), 1u);
    hid.responds = false;
    hid.on_opening_report = [&](int) { hid.unplug(); };
    EXPECT_EQ(u.OpenUCashDrawer(0), 0) << "unplugged during the fire: not seen to open";
    hid.on_opening_report = nullptr;
    EXPECT_TRUE(counting.none_alive());
    EXPECT_TRUE(traced("< Status0Thread_Term-4"));
    EXPECT_EQ(g_reports.size(), 1u) << "no event from a read that failed";
    EXPECT_EQ(u.UCashDrawerStatus(0), -1) << "gone: the restart fails";

    hid.replug();
    hid.responds = true;
    EXPECT_EQ(u.OpenUCashDrawer(0), 1) << "replugged: restarted and fired";
    EXPECT_EQ(u.CloseUPort(0), 1);
    EXPECT_TRUE(counting.none_alive());
    EXPECT_EQ(hid.closed_under_io, 0) << "outstanding reads are cancelled before a close";
    EXPECT_GT(hid.cancelled_reads, 0);
    EXPECT_EQ(counting.most.load(), 1);
}

// Without its events the thread ends at once instead of spinning on a
// wait that always fails, which nothing could stop.
TEST_F(UsbTest, MissingEventsEndTheThread) {
    hid.fail_events = true;
    UsbDriver& u = make({}, &counting);
    ASSERT_EQ(u.OpenUPort(0), 1);
    const bool ended = counting.none_alive();
    EXPECT_TRUE(ended) << "the status thread still runs without events";
    EXPECT_EQ(u.CloseUPort(0), 1);
    hid.fail_events = false;  // lets a thread that kept spinning see its stop
    EXPECT_TRUE(counting.none_alive());
    EXPECT_FALSE(u.thread_running());
}

// Unplug and replug during fires and during the verify repeats, many
// times: every command ends, nothing hangs, and no result or event claims
// an open the drawer never reported.
TEST_F(UsbTest, UnplugAndReplugDuringFiresAndRepeats) {
    UsbSettings s;
    s.ODVEnabled = 1;
    s.RDKInterval = 2;
    s.RDKDelay = 100;
    UsbDriver& u = opened(s, &counting);
    for (int round = 0; round < 40; ++round) {
        const int at = round % 3 + 1;  // the first fire, or the first or second repeat
        const int base = hid.opening_reports;
        hid.responds = false;
        hid.on_opening_report = [&, at, base](int n) {
            if (n - base == at) hid.unplug();
        };
        const std::int32_t r = u.OpenUCashDrawer(0);
        EXPECT_TRUE(r == 0 || r == -4 || r == -1) << "round " << round << ": " << r;
        hid.on_opening_report = nullptr;
        EXPECT_TRUE(counting.none_alive()) << "round " << round;
        EXPECT_LE(u.UCashDrawerStatus(0), 2);
        hid.replug();
        hid.responds = true;
        EXPECT_EQ(u.OpenUCashDrawer(0), 1) << "round " << round << ": recovered";
        hid.report(2);
    }
    for (const auto& [name, v] : g_reports) EXPECT_TRUE(v == 1 || v == 2) << v;
    EXPECT_EQ(counting.most.load(), 1);
    EXPECT_EQ(hid.closed_under_io, 0);
}

// Two closers at once (the Service Object's and the utility's, say): one
// takes the handle and closes it, the other finds none. Closing a handle
// twice would close whatever the system gave its value to in between.
TEST_F(UsbTest, TwoClosersCloseTheHandleOnce) {
    UsbDriver& u = opened({}, &counting);
    clock.set_stepped(true);  // a closer waits in its 250 ms until the test moves the time
    std::atomic<int> done{0};
    std::int32_t r1 = 0, r2 = 0;
    std::thread c1([&] {
        r1 = u.CloseUPort(0);
        ++done;
    });
    std::thread c2([&] {
        r2 = u.CloseUPort(0);
        ++done;
    });
    // Either one closer is through with -1 while the other waits, or both
    // took the handle and wait.
    bool settled = false;
    for (int i = 0; i < 2500 && !settled; ++i) {
        settled = done.load() == 1 || clock.sleepers() >= 2;
        if (!settled) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(settled);
    EXPECT_EQ(clock.sleepers(), 1) << "both closers took the handle";
    clock.set_stepped(false);
    c1.join();
    c2.join();
    EXPECT_EQ(std::min(r1, r2), -1) << r1 << " " << r2;
    EXPECT_EQ(std::max(r1, r2), 1) << r1 << " " << r2;
    EXPECT_EQ(hid.closes_of_closed, 0) << "a handle closed twice";
    EXPECT_TRUE(counting.none_alive());
}

// A status thread held in the status callback (an application that does not
// let its event through) holds neither CloseUPort nor the next open past
// their bound. The device is closed without it, no second thread starts
// while it lives, and once it returns it ends without touching the closed
// handle.
TEST_F(UsbTest, CloseAndStartGiveUpOnAThreadHeldInItsCallback) {
    UsbDriver& u = opened({}, &counting);
    ASSERT_TRUE(hold_thread_in_callback());
    // Runs f on another thread; whether it ended once the clock has passed
    // the bound (advanced in steps while it waits, at most 5 s of real time).
    auto ends_after_bound = [&](std::function<void()> f) {
        std::atomic<bool> ended{false};
        std::thread t([&] {
            f();
            ended = true;
        });
        const std::uint64_t start = clock.now();
        for (int i = 0; i < 1000 && !ended.load(); ++i) {
            clock.advance(50);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        const bool in_bound = ended.load();
        const std::uint64_t waited = clock.now() - start;
        if (!in_bound) let_callback_return();  // lets a build that waits on finish
        t.join();
        EXPECT_GE(waited, kThreadEndWaitMs) << "gave up before its bound";
        return in_bound;
    };
    std::int32_t closed = 0;
    EXPECT_TRUE(ends_after_bound([&] { closed = u.CloseUPort(0); })) << "CloseUPort waits without bound";
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(u.device_open());
    EXPECT_TRUE(u.thread_alive()) << "the test holds it";
    const int started = counting.inner.started();
    std::int32_t reopened = 0;
    EXPECT_TRUE(ends_after_bound([&] { reopened = u.OpenUPort(0); })) << "OpenUPort waits without bound";
    EXPECT_EQ(reopened, 1) << "found";
    EXPECT_EQ(counting.inner.started(), started) << "a second status thread beside the held one";

    let_callback_return();
    EXPECT_TRUE(counting.none_alive());
    g_on_report = nullptr;
    EXPECT_TRUE(traced("< Status0Thread_Term0")) << "ends as stopped";
    EXPECT_EQ(hid.io_on_closed, 0) << "the held thread used its closed handle";
    EXPECT_EQ(hid.closed_under_io, 0);
    EXPECT_EQ(counting.most.load(), 1);
    EXPECT_EQ(u.OpenUCashDrawer(0), 1) << "the next command restarts the thread";
    EXPECT_TRUE(u.thread_running());
}

// A restarted thread that never comes to wait on its events (held in its
// start) fails the command with -2 once the readiness bound has passed.
TEST_F(UsbTest, RestartGivesUpOnAThreadThatNeverWaits) {
    UsbDriver& u = opened({}, &counting);
    hid.unplug();
    ASSERT_TRUE(counting.none_alive());
    hid.replug();
    std::atomic<bool> hold{true}, inside{false};
    hid.on_create_events = [&] {
        inside = true;
        while (hold.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    std::atomic<bool> ended{false};
    std::int32_t result = 0;
    std::thread command([&] {
        result = u.OpenUCashDrawer(0);
        ended = true;
    });
    for (int i = 0; i < 2500 && !inside.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(inside.load());
    for (int i = 0; i < 1000 && !ended.load(); ++i) {
        clock.advance(50);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const bool in_bound = ended.load();
    EXPECT_TRUE(in_bound) << "the restart waits without bound for the thread to wait on its events";
    hold = false;
    command.join();
    hid.on_create_events = nullptr;
    if (in_bound) {
        EXPECT_EQ(result, -2);
        EXPECT_TRUE(traced("< OpenUCashDrawer_Term-2"));
    }
    EXPECT_TRUE(hid.idle()) << "once let go, the thread serves the device";
    EXPECT_EQ(u.OpenUCashDrawer(0), 1);
    EXPECT_EQ(counting.most.load(), 1);
}

// A close that comes while the thread is still in its start-up wait: the
// thread's reset of its events must not swallow the stop.
TEST_F(UsbTest, CloseDuringTheThreadsStartEndsIt) {
    clock.set_stepped(true);
    UsbDriver& u = make({}, &counting);
    std::thread opener([&] { EXPECT_EQ(u.OpenUPort(0), 1); });
    ASSERT_TRUE(clock.wait_for_sleepers(2));  // the open's and the thread's 1000 ms
    std::int32_t result = 0;
    std::thread closer([&] { result = u.CloseUPort(0); });
    ASSERT_TRUE(clock.wait_for_sleepers(3));  // and the close's 250 ms
    clock.advance(1000);
    opener.join();
    const bool ended = counting.none_alive();
    EXPECT_TRUE(ended) << "the stop was lost: the thread waits on";
    if (!ended) hid.signal_stop();  // lets a broken build finish
    closer.join();
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(u.device_open());
    clock.set_stepped(false);
}

// Two commands that both find the status thread ended restart it once
// between them: one reopen, one new thread.
TEST_F(UsbTest, ConcurrentCommandsRestartTheThreadOnce) {
    UsbDriver& u = opened({}, &counting);
    hid.unplug();
    ASSERT_TRUE(counting.none_alive());
    hid.replug();
    const int started = counting.inner.started();
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> ready{0};
        std::int32_t r1 = 0, r2 = 0;
        auto command = [&](std::int32_t* r, bool status) {
            ++ready;
            while (ready.load() < 2) {
            }
            *r = status ? u.UCashDrawerStatus(0) : u.OpenUCashDrawer(0);
        };
        std::thread t1(command, &r1, false);
        std::thread t2(command, &r2, true);
        t1.join();
        t2.join();
        EXPECT_EQ(r1, 1);
        EXPECT_TRUE(r2 == 1 || r2 == 2) << r2;
        EXPECT_EQ(counting.inner.started(), started + round + 1) << "round " << round;
        EXPECT_EQ(counting.most.load(), 1) << "round " << round;
        hid.unplug();  // ends the thread for the next round
        ASSERT_TRUE(counting.none_alive());
        hid.replug();
    }
}

}  // namespace
}  // namespace zrn::usbdrv::testing
