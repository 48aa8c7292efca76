#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zrn/modem_status.h"

namespace zrn::portdrv {

// A port handle as the parameter block holds it: 32 bits, -1 invalid.
using PortHandle = std::int32_t;
constexpr PortHandle kInvalidPort = -1;

// Settings the driver never chooses but must carry back unchanged.
constexpr std::uint8_t kOneAndHalfStopBits = 3;
constexpr std::uint8_t kMarkParity = 3;
constexpr std::uint8_t kSpaceParity = 4;

// The line settings the driver reads and changes.
struct LineSettings {
    std::uint32_t baud = 9600;
    std::uint8_t data_bits = 8;
    std::uint8_t stop_bits = 1;  // 1, 2, or kOneAndHalfStopBits
    std::uint8_t parity = 0;     // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t dtr_control = 1;  // 0 off, 1 on, 2 handshake
    std::uint8_t rts_control = 1;  // 0 off, 1 on, 2 handshake, 3 toggle
    bool out_x = false;            // XON/XOFF flow control on output
    bool in_x = false;             // and on input
    char xon = 0x11;
    char xoff = 0x13;
};

// The modem-status bits, also under this namespace.
using zrn::kMsCts;
using zrn::kMsDsr;
using zrn::kMsRing;
using zrn::kMsRlsd;

// Serial and parallel ports opened by device name ("COM1".."COM4",
// "LPT1", "LPT2"), exclusively, for synchronous I/O.
class SerialPorts {
public:
    virtual ~SerialPorts() = default;
    virtual PortHandle open(const std::string& name) = 0;
    virtual bool get_settings(PortHandle h, LineSettings* s) = 0;
    virtual bool set_settings(PortHandle h, const LineSettings& s) = 0;
    virtual bool modem_status(PortHandle h, std::uint32_t* word) = 0;
    virtual bool set_dtr_inactive(PortHandle h) = 0;
    virtual bool purge(PortHandle h) = 0;  // both buffers
    // Every later write on h gives up after about ms plus the time its
    // bytes take on the line, reporting what was sent by then.
    virtual bool set_write_bound(PortHandle h, std::uint32_t ms) = 0;
    virtual bool write(PortHandle h, const void* data, std::size_t size, std::size_t* written) = 0;
    virtual bool close(PortHandle h) = 0;
};

}  // namespace zrn::portdrv
