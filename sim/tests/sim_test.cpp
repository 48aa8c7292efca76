#include "zrn/sim/sim_state.h"

#include <gtest/gtest.h>

#include <mutex>

#include "serial_block.h"
#include "zrn/fakes/fake_clock.h"
#include "zrn/fakes/fake_threads.h"
#include "zrn/portdrv/port_driver.h"
#include "zrn/text.h"

namespace zrn::sim {
namespace {

class Lock final : public SimLock {
public:
    void lock() override { mu_.lock(); }
    void unlock() override { mu_.unlock(); }
    std::mutex mu_;
};

std::vector<std::pair<std::string, int>> g_reports;
void ZRN_STDCALL record(const char* n, std::int32_t v) { g_reports.emplace_back(n, v); }

TEST(SimPorts, DriveThePortDriverLikeHardware) {
    SimState state;
    init_state(&state);
    Lock lock;
    SimSerialPorts ports(&state, lock);
    fakes::FakeClock clock;
    fakes::FakeThreads threads;
    portdrv::PortDriver d(ports, clock, threads);
    d.StartStatusCCapture(1, record);

    DriverParamBlock b = testing::port_block("CD347-2", 1, 2);
    b.Device.BaudRate = 6;
    b.Device.DataBitLen = 7;
    b.Device.Parity = 1;
    b.Device.HandShaking = 2;
    state.com[1].fail_open = 1;
    EXPECT_EQ(d.OpenCom(&b, 1), 0) << "a port made to fail";
    state.com[1].fail_open = 0;
    ASSERT_EQ(d.OpenCom(&b, 1), 1);
    EXPECT_EQ(state.com[1].baud, 19200);
    EXPECT_EQ(state.com[1].data_bits, 7);
    EXPECT_EQ(state.com[1].parity, 1);
    EXPECT_EQ(state.com[1].xon, 0x11);
    EXPECT_EQ(state.com[1].open, 1);

    d.sweep();  // closed on CTS
    state.com[1].modem = 0;
    d.sweep();
    EXPECT_EQ(g_reports, (std::vector<std::pair<std::string, int>>{{"CD347-2", 0}, {"CD347-2", 1}}));

    // Bytes written are recorded, the first kSimWrittenMax of them kept.
    std::size_t n = 0;
    const std::string big(kSimWrittenMax + 10, 'z');
    ASSERT_TRUE(ports.write(b.PortHandle, "\x1b\x70", 2, &n));
    ASSERT_TRUE(ports.write(b.PortHandle, big.data(), big.size(), &n));
    EXPECT_EQ(state.com[1].written_total, kSimWrittenMax + 12);
    EXPECT_EQ(state.com[1].written[0], 0x1b);
    EXPECT_EQ(state.com[1].written[kSimWrittenMax - 1], 'z');

    EXPECT_EQ(ports.open("COM2"), portdrv::kInvalidPort) << "exclusive";
    EXPECT_EQ(ports.open("COM5"), portdrv::kInvalidPort);
    EXPECT_EQ(d.CloseCom(&b), 1) << "no acknowledging thread here, yet the port is closed";
    EXPECT_EQ(state.com[1].open, 0);
    EXPECT_NE(ports.open("LPT2"), portdrv::kInvalidPort);
    EXPECT_EQ(state.lpt[1].opens, 1);
}

}  // namespace
}  // namespace zrn::sim
