// The serial adapter's mapping between the driver's line settings and a
// port's DCB, through OpenCom's read-change-write of the settings.
#include <windows.h>

#include <gtest/gtest.h>

#include "win32_serial_ports.h"
#include "zrn/portdrv/port_driver.h"
#include "zrn/fakes/fake_clock.h"
#include "zrn/fakes/fake_threads.h"
#include "zrn/text.h"

namespace zrn::portdrv {
namespace {

// A port whose state is a DCB, changed only through the adapter's mapping.
class DcbPort final : public SerialPorts {
public:
    DCB dcb{};
    PortHandle open(const std::string&) override { return 0x40; }
    bool get_settings(PortHandle, LineSettings* s) override {
        settings_from_dcb(dcb, s);
        return true;
    }
    bool set_settings(PortHandle, const LineSettings& s) override {
        settings_to_dcb(s, &dcb);
        return true;
    }
    bool set_write_bound(PortHandle, std::uint32_t) override { return true; }
    bool modem_status(PortHandle, std::uint32_t*) override { return false; }
    bool set_dtr_inactive(PortHandle) override { return true; }
    bool purge(PortHandle) override { return true; }
    bool write(PortHandle, const void*, std::size_t, std::size_t*) override { return false; }
    bool close(PortHandle) override { return true; }
};

DriverParamBlock unit_block(std::int32_t parity, std::int32_t stop_bits) {
    DriverParamBlock b{};
    copy_field(b.Device.DeviceName, std::string("CD926"));
    b.Device.Port = 1;
    b.Device.BaudRate = 5;
    b.Device.DataBitLen = 8;
    b.Device.Parity = parity;
    b.Device.StopBits = stop_bits;
    b.Device.HandShaking = 3;  // changes no line control
    return b;
}

TEST(Win32SerialSettings, ValuesTheBlockLeavesAloneKeepThePortsOwn) {
    fakes::FakeClock clock;
    fakes::FakeThreads threads;
    for (BYTE parity : {MARKPARITY, SPACEPARITY, ODDPARITY, EVENPARITY, NOPARITY}) {
        for (BYTE stop : {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS}) {
            DcbPort port;
            port.dcb.DCBlength = sizeof(DCB);
            port.dcb.BaudRate = 1200;
            port.dcb.ByteSize = 8;
            port.dcb.Parity = parity;
            port.dcb.fParity = parity != NOPARITY;
            port.dcb.StopBits = stop;
            PortDriver d(port, clock, threads);
            auto b = unit_block(7, 0);  // parity and stop bits out of range: unchanged
            ASSERT_EQ(d.OpenCom(&b, 0), 1);
            EXPECT_EQ(port.dcb.Parity, parity) << int(parity) << "/" << int(stop);
            EXPECT_EQ(port.dcb.fParity, parity != NOPARITY ? 1u : 0u);
            EXPECT_EQ(port.dcb.StopBits, stop) << int(parity) << "/" << int(stop);
            EXPECT_EQ(port.dcb.BaudRate, 9600u);
        }
    }
    // Values the block names replace them.
    DcbPort port;
    port.dcb.Parity = MARKPARITY;
    port.dcb.StopBits = ONE5STOPBITS;
    fakes::FakeClock clock2;
    PortDriver d(port, clock2, threads);
    auto b = unit_block(2, 2);
    ASSERT_EQ(d.OpenCom(&b, 0), 1);
    EXPECT_EQ(port.dcb.Parity, EVENPARITY);
    EXPECT_TRUE(port.dcb.fParity);
    EXPECT_EQ(port.dcb.StopBits, TWOSTOPBITS);
    b = unit_block(0, 1);
    port.dcb.Parity = SPACEPARITY;
    PortDriver d2(port, clock2, threads);
    ASSERT_EQ(d2.OpenCom(&b, 0), 1);
    EXPECT_EQ(port.dcb.Parity, NOPARITY);
    EXPECT_FALSE(port.dcb.fParity);
    EXPECT_EQ(port.dcb.StopBits, ONESTOPBIT);
}

}  // namespace
}  // namespace zrn::portdrv
