#pragma once

#include <cstdint>

#include "zrn/modem_status.h"
#include "zrn/portdrv/serial_port.h"

namespace zrn::sim {

// The simulated hardware's state, in a named shared-memory block so a test
// in the same process and a separate program drive the same drawers.
// Fixed layout: every process mapping it must agree.
constexpr std::uint32_t kSimMagic = 0x5A524E53;  // "ZRNS"
constexpr std::uint32_t kSimVersion = 2;
constexpr std::uint32_t kSimWrittenMax = 1024;
constexpr int kSimUnits = 10;
constexpr std::int32_t kSimNoDrawer = -1;

struct SimPort {
    std::int32_t modem;       // modem-status word the drawer shows
    std::int32_t fail_open;   // nonzero: opens fail
    std::int32_t open;        // held open by a driver
    std::int32_t opens;       // successful opens so far
    std::int32_t baud, data_bits, stop_bits, parity, dtr_control, rts_control, out_x, in_x, xon, xoff;
    std::uint32_t written_total;             // bytes written so far
    std::uint8_t written[kSimWrittenMax];    // the first kSimWrittenMax of them
};

// The USB drawer interface.
struct SimUsb {
    std::int32_t present;          // plugged in
    std::int32_t drawer_state;     // 1 open, 2 closed
    std::int32_t ignore_fires;     // nonzero: opening reports do not open the drawer
    std::int32_t opening_reports;  // received so far
    std::int32_t idle_reports;
    std::int32_t opens;
    std::uint32_t seq;             // bumped with every report the drawer sends
};

// A drawer on a unit of a COM port. Units of a smart-serial port share its
// modem lines: a closed drawer shows its sense lines, an open one none.
struct SimUnit {
    std::int32_t sense;   // modem lines a closed drawer shows; kSimNoDrawer when none is attached
    std::int32_t closed;  // nonzero: closed
};

struct SimState {
    std::uint32_t magic;
    std::uint32_t version;
    SimPort com[4];
    SimPort lpt[2];
    SimUsb usb;
    // Appended, so that programs built before the units existed still find
    // every other field where they expect it.
    SimUnit com_units[4][kSimUnits];
};

// The shared block's name.
inline constexpr const char* kSimMappingName = "ZRNDrawerSimState";
inline constexpr const char* kSimMutexName = "ZRNDrawerSimLock";
// Signalled whenever the USB drawer sends a report (state change, replug).
inline constexpr const char* kSimUsbEventName = "ZRNDrawerSimUsbReport";

// Fills a fresh block: unit 1 of every COM port closed on CTS, no drawer on
// the other units, nothing written.
void init_state(SimState* s);

// The USB drawer sends a report: its counter moves on, which the simulated
// driver's status thread reads as a new report. Call under the lock.
inline void count_usb_report(SimState* s) { ++s->usb.seq; }

// Guards the block across processes (a named mutex in the shell).
class SimLock {
public:
    virtual ~SimLock() = default;
    virtual void lock() = 0;
    virtual void unlock() = 0;
};

// The port driver's platform layer over the simulated ports.
class SimSerialPorts final : public portdrv::SerialPorts {
public:
    SimSerialPorts(SimState* state, SimLock& lock) : s_(state), lock_(lock) {}
    portdrv::PortHandle open(const std::string& name) override;
    bool get_settings(portdrv::PortHandle h, portdrv::LineSettings* s) override;
    bool set_settings(portdrv::PortHandle h, const portdrv::LineSettings& s) override;
    bool modem_status(portdrv::PortHandle h, std::uint32_t* word) override;
    bool set_dtr_inactive(portdrv::PortHandle h) override;
    bool purge(portdrv::PortHandle h) override;
    bool set_write_bound(portdrv::PortHandle, std::uint32_t) override { return true; }  // never held
    bool write(portdrv::PortHandle h, const void* data, std::size_t size, std::size_t* written) override;
    bool close(portdrv::PortHandle h) override;

private:
    SimPort* port_of(portdrv::PortHandle h);
    // The port of a handle a driver holds open, else null.
    SimPort* open_port_of(portdrv::PortHandle h);
    SimState* s_;
    SimLock& lock_;
};

}  // namespace zrn::sim
