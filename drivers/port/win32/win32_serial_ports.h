#pragma once

#include <windows.h>

#include "zrn/portdrv/serial_port.h"

namespace zrn::portdrv {

// The driver's line settings read from, and written into, a port's DCB;
// fields the driver does not manage keep the DCB's values.
void settings_from_dcb(const DCB& dcb, LineSettings* s);
void settings_to_dcb(const LineSettings& s, DCB* dcb);

// COM and LPT ports through the Windows communications API.
class Win32SerialPorts final : public SerialPorts {
public:
    PortHandle open(const std::string& name) override;
    bool get_settings(PortHandle h, LineSettings* s) override;
    bool set_settings(PortHandle h, const LineSettings& s) override;
    bool modem_status(PortHandle h, std::uint32_t* word) override;
    bool set_dtr_inactive(PortHandle h) override;
    bool purge(PortHandle h) override;
    bool set_write_bound(PortHandle h, std::uint32_t ms) override;
    bool write(PortHandle h, const void* data, std::size_t size, std::size_t* written) override;
    bool close(PortHandle h) override;
};

}  // namespace zrn::portdrv
