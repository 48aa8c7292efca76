#include "zrn/portdrv/port_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fake_serial_ports.h"
#include "serial_block.h"
#include "zrn/fakes/fake_clock.h"
#include "zrn/fakes/fake_threads.h"
#include "zrn/text.h"

namespace zrn::portdrv::testing {
namespace {

std::vector<std::pair<std::string, int>> g_reports;
void ZRN_STDCALL record(const char* name, std::int32_t value) { g_reports.emplace_back(name, value); }

DriverParamBlock block(const std::string& name, std::int32_t id, std::int32_t port) {
    return zrn::testing::port_block(name, id, port);
}

class PortDriverTest : public ::testing::Test {
protected:
    PortDriverTest() { g_reports.clear(); }
    FakeSerialPorts ports;
    fakes::FakeClock clock;
    fakes::FakeThreads threads;  // deferred: the poll thread is driven by sweep()
    PortDriver d{ports, clock, threads};
};

TEST(StatusFilter, EveryStatusAndHandshakingCombination) {
    // Words: none, CTS, CTS+DSR, RING, CTS+RING, all four, all but RING.
    const std::uint32_t words[] = {0, 0x10, 0x30, 0x40, 0x50, 0xF0, 0xB0};
    // What each word reports (0 closed, 1 open, -1 nothing), written out by
    // hand for every Status (rows 0 to 4) and HandShaking (0, 1, 2).
    const int want[5][3][7] = {
        // Status 0: closed is CTS alone.
        {{1, 0, -1, -1, -1, -1, -1}, {1, 0, -1, -1, -1, -1, -1}, {1, 0, -1, -1, -1, -1, -1}},
        // Status 1: closed is RING; with CTS/RTS handshaking all four lines.
        {{1, -1, -1, 0, -1, -1, -1}, {1, -1, -1, -1, -1, 0, -1}, {1, -1, -1, 0, -1, -1, -1}},
        // Status 2: closed is CTS and RING.
        {{1, -1, -1, -1, 0, -1, -1}, {1, -1, -1, -1, 0, -1, -1}, {1, -1, -1, -1, 0, -1, -1}},
        // Status 3: no line; only "open" is ever reported.
        {{1, -1, -1, -1, -1, -1, -1}, {1, -1, -1, -1, -1, -1, -1}, {1, -1, -1, -1, -1, -1, -1}},
        // Any other Status: closed value 0, so no line reads as closed.
        {{0, -1, -1, -1, -1, -1, -1}, {0, -1, -1, -1, -1, -1, -1}, {0, -1, -1, -1, -1, -1, -1}},
    };
    for (std::int32_t status = 0; status <= 4; ++status)
        for (std::int32_t hs = 0; hs <= 2; ++hs)
            for (int w = 0; w < 7; ++w)
                EXPECT_EQ(drawer_state_of_word(words[w], status, hs), want[status][hs][w])
                    << "Status " << status << " HandShaking " << hs << " word " << words[w];
    EXPECT_EQ(closed_modem_word(0, 0), 0x10);
    EXPECT_EQ(closed_modem_word(1, 0), 0x40);
    EXPECT_EQ(closed_modem_word(1, 1), 0xF0);
    EXPECT_EQ(closed_modem_word(2, 1), 0x50);
    EXPECT_EQ(closed_modem_word(3, 0), 999);
    EXPECT_EQ(closed_modem_word(9, 0), 0);
    EXPECT_EQ(drawer_state_of_word(0x30, 0, 0), -1) << "CTS and DSR: nothing";
    EXPECT_EQ(drawer_state_of_word(0, 4, 0), 0) << "closed value 0 wins over open";
    EXPECT_EQ(status_name(false, 0), "CD926");
    EXPECT_EQ(status_name(true, 9), "CD347-10");
}

TEST_F(PortDriverTest, OpenComAppliesSettingsAndStartsThePollThreadOnce) {
    auto b = block("CD926", 0, 2);
    b.Device.BaudRate = 3;
    b.Device.DataBitLen = 7;
    b.Device.StopBits = 2;
    b.Device.Parity = 2;
    ports.set_modem("COM2", kMsCts | kMsRing);
    ASSERT_EQ(d.OpenCom(&b, 0), 1);
    const auto p = ports.get("COM2");
    EXPECT_EQ(b.PortHandle, p.handle);
    std::int32_t word = -7;
    d.GetComStat(&b, &word);
    EXPECT_EQ(word, static_cast<std::int32_t>(kMsCts | kMsRing)) << "the lines at the open, before any poll";
    EXPECT_EQ(p.settings.baud, 2400u);
    EXPECT_EQ(p.settings.data_bits, 7);
    EXPECT_EQ(p.settings.stop_bits, 2);
    EXPECT_EQ(p.settings.parity, 2);
    EXPECT_EQ(p.settings.dtr_control, 0) << "HandShaking 0 holds DTR inactive";
    EXPECT_EQ(clock.sleeps(), (std::vector<std::uint32_t>{100}));
    EXPECT_EQ(threads.started(), 1);

    auto c = block("CD926-2", 0, 3);
    c.Device.BaudRate = 7;  // out of range: rate unchanged
    c.Device.HandShaking = 1;
    ports.ports["COM3"].settings.baud = 1200;
    ASSERT_EQ(d.OpenCom(&c, 1), 1);
    EXPECT_EQ(ports.get("COM3").settings.baud, 1200u);
    EXPECT_EQ(ports.get("COM3").settings.dtr_control, 1);
    EXPECT_EQ(ports.get("COM3").settings.rts_control, 1);
    EXPECT_EQ(threads.started(), 1);
    EXPECT_EQ(clock.sleeps().size(), 1u);

    // XOn/XOff: distinct standard characters; output is never held by an
    // XOFF from the interface, input flow control stays as the port had it.
    auto x = block("CD926-3", 0, 4);
    x.Device.HandShaking = 2;
    ports.ports["COM4"].settings.out_x = true;
    ports.ports["COM4"].settings.in_x = true;
    ASSERT_EQ(d.OpenCom(&x, 2), 1);
    const auto q = ports.get("COM4");
    EXPECT_FALSE(q.settings.out_x);
    EXPECT_TRUE(q.settings.in_x);
    EXPECT_EQ(q.settings.xon, 0x11);
    EXPECT_EQ(q.settings.xoff, 0x13);

    auto bad = block("CD926-4", 0, 5);
    bad.PortHandle = 77;
    EXPECT_EQ(d.OpenCom(&bad, 3), 0);
    EXPECT_EQ(bad.PortHandle, 77) << "no port: the handle keeps its value";
    auto busy = block("CD926-5", 0, 2);  // COM2 is held by CD926
    EXPECT_EQ(d.OpenCom(&busy, 4), 0);
    EXPECT_EQ(busy.PortHandle, -1);
    EXPECT_EQ(d.slot_handle(false, 4), 0);

    ports.fail_set = true;
    auto unsettable = block("CD926-6", 0, 1);
    EXPECT_EQ(d.OpenCom(&unsettable, 5), 0);
    EXPECT_NE(d.slot_handle(false, 5), 0) << "stays open and registered until CloseCom";

    // The first open of a process failing at its settings: no poll thread
    // runs, and the CloseCom that follows does not wait for one.
    FakeSerialPorts other_ports;
    fakes::FakeClock other_clock;
    fakes::FakeThreads other_threads;
    PortDriver fresh{other_ports, other_clock, other_threads};
    other_ports.fail_set = true;
    auto first = block("CD926", 0, 1);
    EXPECT_EQ(fresh.OpenCom(&first, 0), 0);
    EXPECT_EQ(other_threads.started(), 0);
    EXPECT_EQ(fresh.CloseCom(&first), 1);
    EXPECT_TRUE(other_clock.sleeps().empty()) << "no pause without a poll thread";
    EXPECT_FALSE(other_ports.get("COM1").open);
    other_ports.fail_set = false;
    EXPECT_EQ(fresh.OpenCom(&first, 0), 1) << "the port opens again";
}

TEST_F(PortDriverTest, SmartSerialSharesPortsAcrossUnits) {
    auto a = block("CD347", 1, 1);
    auto b2 = block("CD347-2", 1, 1);
    auto c = block("CD347-3", 1, 2);
    ASSERT_EQ(d.OpenCom(&a, 0), 1);
    const int sets = ports.set_count;
    b2.Device.BaudRate = 1;
    ASSERT_EQ(d.OpenCom(&b2, 1), 1);
    EXPECT_EQ(b2.PortHandle, a.PortHandle);
    EXPECT_EQ(ports.get("COM1").opens, 1);
    EXPECT_EQ(ports.set_count, sets) << "the first unit's settings stand";
    ASSERT_EQ(d.OpenCom(&c, 2), 1);

    EXPECT_EQ(d.CloseCom(&a), 1);
    EXPECT_EQ(ports.get("COM1").closes, 0);
    EXPECT_EQ(d.slot_handle(true, 0), 0);
    EXPECT_EQ(d.CloseCom(&b2), 1);
    EXPECT_EQ(ports.get("COM1").closes, 0) << "another smart-serial unit (on COM2) is still open";
    EXPECT_EQ(d.shared_com(1), a.PortHandle);
    EXPECT_EQ(d.CloseCom(&c), 1);
    EXPECT_EQ(ports.get("COM2").closes, 1);
    EXPECT_EQ(ports.get("COM2").dtr_off, 1);
    EXPECT_EQ(ports.get("COM2").purges, 1);
    EXPECT_EQ(d.shared_com(2), 0);

    // A failed open stores no shared handle: the next open tries again.
    ports.fail_open.insert("COM3");
    auto e = block("CD347-4", 1, 3);
    EXPECT_EQ(d.OpenCom(&e, 3), 0);
    EXPECT_EQ(d.shared_com(3), 0);
    ports.fail_open.clear();
    EXPECT_EQ(d.OpenCom(&e, 3), 1);

    auto never = block("CD347-5", 1, 4);
    EXPECT_EQ(d.CloseCom(&never), 1) << "handle 0: nothing to close";
}

TEST_F(PortDriverTest, PollReportsFirstSweepAndChangesOnlyWithCapture) {
    auto a = block("CD926", 0, 1);
    auto s = block("CD347-10", 1, 2);
    ASSERT_EQ(d.OpenCom(&a, 0), 1);
    ASSERT_EQ(d.OpenCom(&s, 9), 1);
    d.sweep();
    EXPECT_TRUE(g_reports.empty()) << "capture off";
    d.StartStatusCCapture(1, record);
    d.CloseCom(&a);
    d.OpenCom(&a, 0);  // registering again: the next poll reports at once
    clock.clear_sleeps();
    d.sweep();
    EXPECT_EQ(clock.sleeps(), (std::vector<std::uint32_t>{20, 20}));
    EXPECT_EQ(g_reports, (std::vector<std::pair<std::string, int>>{{"CD926", 0}}));
    ports.set_modem("COM1", 0);
    ports.set_modem("COM2", 0x30);
    d.sweep();
    d.sweep();
    EXPECT_EQ(g_reports, (std::vector<std::pair<std::string, int>>{{"CD926", 0}, {"CD926", 1}}));
    std::int32_t status = 1234;
    d.GetComStat(&s, &status);
    EXPECT_EQ(status, 0x30) << "the raw word";
    auto six = block("CD347-", 1, 2);
    status = 1234;
    EXPECT_EQ(d.GetComStat(&six, &status), 1);
    EXPECT_EQ(status, 1234) << "no slot for a 6-character name";
    ports.fail_modem = true;
    d.sweep();
    d.GetComStat(&s, &status);
    EXPECT_EQ(status, 0) << "a failed read gives 0";
    EXPECT_EQ(g_reports.back(), (std::pair<std::string, int>{"CD347-10", 1}));

    // Capture rules: a null callback keeps the old one; off forgets it.
    d.StartStatusCCapture(1, nullptr);
    ports.fail_modem = false;
    ports.set_modem("COM1", 0x10);
    d.sweep();
    EXPECT_EQ(g_reports.back(), (std::pair<std::string, int>{"CD926", 0}));
    const auto n = g_reports.size();
    EXPECT_EQ(d.StartStatusCCapture(0, record), 1);
    ports.set_modem("COM1", 0);
    d.sweep();
    d.StartStatusCCapture(1, nullptr);
    ports.set_modem("COM1", 0x10);
    d.sweep();
    EXPECT_EQ(g_reports.size(), n) << "callback forgotten";
    EXPECT_EQ(d.CVersion(99), 3210);
}

TEST_F(PortDriverTest, PutComWithoutAcknowledgementFailsAfterOneSecond) {
    auto a = block("CD926", 0, 1);
    ASSERT_EQ(d.OpenCom(&a, 0), 1);  // the (deferred) poll thread never runs
    clock.clear_sleeps();
    EXPECT_EQ(d.PutCom(&a, "\x07\r\n"), 0);
    std::vector<std::uint32_t> want{5};
    want.insert(want.end(), 10, 100);
    EXPECT_EQ(clock.sleeps(), want);
    EXPECT_EQ(ports.get("COM1").written, "");
    clock.clear_sleeps();
    EXPECT_EQ(d.CloseCom(&a), 1) << "closes anyway after 5 s";
    EXPECT_EQ(clock.sleeps().size(), 51u);
    EXPECT_EQ(ports.get("COM1").closes, 1);
}

// The handshake with a real poll thread, time stepped by the test.
TEST(PortDriverThread, PauseHandshakeAroundWritesAndCloses) {
    FakeSerialPorts ports;
    fakes::FakeClock clock;
    clock.set_stepped(true);
    fakes::FakeThreads threads(fakes::FakeThreads::Mode::Real);
    {
        PortDriver d(ports, clock, threads);
        auto run = [&](auto op) {
            std::atomic<bool> done{false};
            std::uint8_t result = 0;
            std::thread t([&] {
                result = op();
                done = true;
            });
            // Advance to the next wake-up once the running threads have
            // settled into their sleeps.
            while (!done.load()) {
                const int before = clock.sleepers();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                if (before > 0 && clock.sleepers() == before) clock.advance_to_next_wakeup();
            }
            t.join();
            return result;
        };
        auto a = block("CD926", 0, 1);
        ASSERT_EQ(run([&] { return d.OpenCom(&a, 0); }), 1);
        ASSERT_TRUE(clock.wait_for_sleepers(1));  // the poll thread's 20 ms
        const std::uint64_t t0 = clock.now();
        EXPECT_EQ(run([&] { return d.PutCom(&a, "\x1b\x70"); }), 1);
        EXPECT_EQ(ports.get("COM1").written, "\x1b\x70");
        EXPECT_GE(clock.now() - t0, 105u) << "the 5 ms request and 100 ms after the write";
        ports.fail_write = true;
        EXPECT_EQ(run([&] { return d.PutCom(&a, "x"); }), 0);
        ports.fail_write = false;
        ports.short_write = true;
        EXPECT_EQ(run([&] { return d.PutCom(&a, "xy"); }), 0);
        ports.short_write = false;
        EXPECT_EQ(run([&] { return d.PutCom(&a, ""); }), 1) << "empty text: nothing written";
        EXPECT_EQ(run([&] { return d.CloseCom(&a); }), 1);
        EXPECT_EQ(ports.get("COM1").closes, 1);
        // Idle: the thread waits without sleeping on the clock.
        EXPECT_TRUE(d.poll_thread_running());
        clock.set_stepped(false);
    }
    threads.join_all();
}

// Two first opens at once start one poll thread between them.
TEST(PortDriverThread, ConcurrentFirstOpensStartOnePollThread) {
    FakeSerialPorts ports;
    fakes::FakeClock clock;
    clock.set_stepped(true);
    fakes::FakeThreads threads;  // deferred: counts the starts
    PortDriver d(ports, clock, threads);
    auto a = block("CD926", 0, 1);
    auto b = block("CD926-2", 0, 2);
    std::uint8_t ra = 0, rb = 0;
    std::thread ta([&] { ra = d.OpenCom(&a, 0); });
    std::thread tb([&] { rb = d.OpenCom(&b, 1); });
    // Both opens are past their check once the one 100 ms wait is pending;
    // a second waiter shows up only when both decided to start the thread.
    ASSERT_TRUE(clock.wait_for_sleepers(1));
    clock.wait_for_sleepers(2, 300);
    while (clock.advance_to_next_wakeup()) {
    }
    ta.join();
    tb.join();
    EXPECT_EQ(ra, 1);
    EXPECT_EQ(rb, 1);
    EXPECT_EQ(threads.started(), 1);
    EXPECT_TRUE(d.poll_thread_started());
    clock.set_stepped(false);
}

// A poll thread that cannot be started is tried again by the next open.
TEST_F(PortDriverTest, FailedPollThreadStartIsRetried) {
    threads.fail_next(1);
    auto a = block("CD926", 0, 1);
    EXPECT_EQ(d.OpenCom(&a, 0), 1);
    EXPECT_FALSE(d.poll_thread_started());
    auto b = block("CD926-2", 0, 2);
    EXPECT_EQ(d.OpenCom(&b, 1), 1);
    EXPECT_TRUE(d.poll_thread_started());
    EXPECT_EQ(threads.started(), 1);
}

// Real time, with the poll thread's short waits shrunk to microseconds so
// that it pauses and resumes thousands of times in a short run; a caller's
// 100 ms check still lasts 50 ms, so a slow scheduler does not make
// an acknowledgement late.
class ScaledClock final : public platform::Clock {
public:
    void sleep_ms(std::uint32_t ms) override {
        std::this_thread::sleep_for(ms >= 100 ? std::chrono::microseconds(ms * 500) : std::chrono::microseconds(ms));
    }
    platform::LocalTime local_time() override { return {}; }
    std::uint64_t monotonic_ms() override { return 0; }
};

// Writers one after another, each pausing the running poll thread: a
// caller's fresh request is never taken back by the thread, so every write
// is acknowledged and goes through.
TEST(PortDriverThread, BackToBackWritersAreAllAcknowledged) {
    FakeSerialPorts ports;
    ScaledClock clock;
    fakes::FakeThreads threads(fakes::FakeThreads::Mode::Real);
    {
        PortDriver d(ports, clock, threads);
        auto a = block("CD926", 0, 1);
        auto b = block("CD926-2", 0, 2);
        auto c = block("CD926-3", 0, 3);
        ASSERT_EQ(d.OpenCom(&a, 0), 1);
        ASSERT_EQ(d.OpenCom(&b, 1), 1);
        ASSERT_EQ(d.OpenCom(&c, 2), 1);
        constexpr int kRounds = 20;
        std::atomic<int> failed{0};
        auto writer = [&](DriverParamBlock* blk) {
            for (int i = 0; i < kRounds; ++i)
                if (d.PutCom(blk, "\x07") != 1) ++failed;
        };
        std::thread ta(writer, &a);
        std::thread tb(writer, &b);
        std::thread tc(writer, &c);
        ta.join();
        tb.join();
        tc.join();
        EXPECT_EQ(failed.load(), 0);
        EXPECT_EQ(ports.get("COM1").written.size() + ports.get("COM2").written.size() + ports.get("COM3").written.size(), 3u * kRounds - failed.load());
        EXPECT_EQ(d.CloseCom(&a), 1);
        EXPECT_EQ(d.CloseCom(&b), 1);
        EXPECT_EQ(d.CloseCom(&c), 1);
    }
    threads.join_all();
}

// A write held by flow control ends at its bound: PutCom fails, the pause
// is lifted, and the next PutCom and CloseCom go through.
TEST(PortDriverThread, HeldWriteIsBoundedAndReleasesTheCallers) {
    FakeSerialPorts ports;
    ScaledClock clock;
    fakes::FakeThreads threads(fakes::FakeThreads::Mode::Real);
    {
        PortDriver d(ports, clock, threads);
        auto a = block("CD926", 0, 1);
        ASSERT_EQ(d.OpenCom(&a, 0), 1);
        EXPECT_EQ(ports.get("COM1").write_bound_ms, kWriteBoundMs);
        auto lpt = block("CD615", 2, 1);
        ASSERT_EQ(d.OpenLpt(&lpt, 0), 1);
        EXPECT_EQ(ports.get("LPT1").write_bound_ms, kWriteBoundMs);

        ports.held = true;  // the interface sent XOFF, or holds CTS
        EXPECT_EQ(d.PutCom(&a, "\x07\r\n"), 0);
        EXPECT_EQ(ports.hung_writes, 0) << "the write was bounded";
        ports.held = false;
        EXPECT_EQ(d.PutCom(&a, "\x07\r\n"), 1);
        EXPECT_EQ(ports.get("COM1").written, "\x07\r\n");
        EXPECT_EQ(d.CloseCom(&a), 1);
        EXPECT_EQ(d.CloseLpt(&lpt), 1);

        // A port whose writes cannot be bounded is not used.
        ports.fail_bound = true;
        auto b = block("CD926-2", 0, 2);
        EXPECT_EQ(d.OpenCom(&b, 1), 0);
        EXPECT_EQ(b.PortHandle, -1);
        EXPECT_FALSE(ports.get("COM2").open) << "closed again";
        EXPECT_EQ(d.slot_handle(false, 1), 0);
    }
    threads.join_all();
}

TEST_F(PortDriverTest, ParallelSharingAndReopen) {
    auto a = block("CD615", 2, 1);
    auto b = block("CD615-2", 2, 1);
    ports.fail_open.insert("LPT1");
    EXPECT_EQ(d.OpenLpt(&a, 0), 0);
    EXPECT_EQ(a.PortHandle, -1);
    ports.fail_open.clear();
    EXPECT_EQ(d.OpenLpt(&a, 0), 1) << "a failed open is tried again";
    EXPECT_EQ(d.OpenLpt(&b, 7), 1);
    EXPECT_EQ(b.PortHandle, a.PortHandle);
    EXPECT_EQ(ports.get("LPT1").opens, 1);
    EXPECT_EQ(d.PutLpt(&a, "\x1b\x70"), 1);
    EXPECT_EQ(ports.get("LPT1").written, "\x1b\x70");
    ports.short_write = true;
    EXPECT_EQ(d.PutLpt(&a, "ab"), 0);
    ports.short_write = false;
    EXPECT_EQ(d.CloseLpt(&a), 1);
    EXPECT_EQ(d.shared_lpt(1), 0);
    EXPECT_EQ(d.PutLpt(&b, "x"), 0) << "the other unit's handle no longer works";
    EXPECT_EQ(d.CloseLpt(&b), 0);
    EXPECT_EQ(d.OpenLpt(&b, 0), 1);
    EXPECT_NE(b.PortHandle, a.PortHandle);
    auto none = block("CD615", 2, 3);
    none.PortHandle = 5;
    EXPECT_EQ(d.OpenLpt(&none, 0), 0);
    EXPECT_EQ(none.PortHandle, 5);
    EXPECT_TRUE(clock.sleeps().empty()) << "no pause and no delay on a parallel port";
}

TEST_F(PortDriverTest, ParallelClosesAndWritesOnlyThePortsOwnHandle) {
    auto a = block("CD615", 2, 1);
    auto b = block("CD615-2", 2, 1);
    ASSERT_EQ(d.OpenLpt(&a, 0), 1);
    ASSERT_EQ(d.OpenLpt(&b, 1), 1);
    const PortHandle old = a.PortHandle;
    ASSERT_EQ(d.CloseLpt(&a), 1);
    // The system hands the freed handle value to the next object opened.
    ports.next = old;
    auto com = block("CD926", 0, 1);
    ASSERT_EQ(d.OpenCom(&com, 0), 1);
    ASSERT_EQ(com.PortHandle, old);
    EXPECT_EQ(d.PutLpt(&b, "\x1b\x70"), 0) << "the stale handle is not the port's any more";
    EXPECT_EQ(ports.get("COM1").written, "");
    EXPECT_EQ(d.CloseLpt(&b), 0);
    EXPECT_TRUE(ports.get("COM1").open) << "another port's handle is never closed";
    EXPECT_EQ(ports.get("COM1").closes, 0);

    // A failed open leaves -1, the process's own pseudo-handle on Windows.
    ports.fail_open.insert("LPT2");
    auto c = block("CD615-3", 2, 2);
    EXPECT_EQ(d.OpenLpt(&c, 0), 0);
    ASSERT_EQ(c.PortHandle, -1);
    const int calls = ports.calls_on_invalid;
    EXPECT_EQ(d.PutLpt(&c, "x"), 0);
    EXPECT_EQ(d.CloseLpt(&c), 0);
    EXPECT_EQ(ports.calls_on_invalid, calls) << "nothing is asked of handle -1";
    auto zero = block("CD615", 2, 1);
    EXPECT_EQ(d.CloseLpt(&zero), 0);
    EXPECT_EQ(ports.calls_on_invalid, calls);

    // The port's own handle still closes, once.
    ports.fail_open.clear();
    ASSERT_EQ(d.OpenLpt(&b, 1), 1);
    EXPECT_EQ(d.PutLpt(&b, "y"), 1);
    EXPECT_EQ(d.CloseLpt(&b), 1);
    EXPECT_EQ(d.shared_lpt(1), 0);
    EXPECT_EQ(d.CloseLpt(&b), 0) << "already closed";
    EXPECT_EQ(ports.get("LPT1").closes, 2);
}

}  // namespace
}  // namespace zrn::portdrv::testing
