#pragma once

// A parameter block as the Service Object fills it for a serial or parallel
// unit: 9600 baud, 8 data bits, 1 stop bit, no parity, no handshaking.
#include <cstdint>
#include <string>

#include "zrn/param_block.h"
#include "zrn/text.h"

namespace zrn::testing {

inline DriverParamBlock port_block(const std::string& name, std::int32_t id, std::int32_t port) {
    DriverParamBlock b{};
    copy_field(b.Device.DeviceName, name);
    b.Device.DeviceID = id;
    b.Device.Port = port;
    b.Device.BaudRate = 5;
    b.Device.DataBitLen = 8;
    b.Device.StopBits = 1;
    b.Device.Parity = 0;
    b.Device.HandShaking = 0;
    b.Device.Status = 0;
    return b;
}

}  // namespace zrn::testing
