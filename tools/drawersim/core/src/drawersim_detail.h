#pragma once

// What drawersim's parsing, output and commands share inside the core.
#include <cstdint>
#include <string>

#include "zrn/drawersim/drawersim.h"
#include "zrn/modem_status.h"

namespace zrn::drawersim::detail {

struct LineName {
    const char* name;
    std::int32_t bit;
};
// The names a modem line is read by; "ring" and "dcd" are read but never shown.
inline constexpr LineName kLineNames[] = {
    {"cts", static_cast<std::int32_t>(kMsCts)},   {"dsr", static_cast<std::int32_t>(kMsDsr)},
    {"ri", static_cast<std::int32_t>(kMsRing)},   {"ring", static_cast<std::int32_t>(kMsRing)},
    {"rlsd", static_cast<std::int32_t>(kMsRlsd)}, {"dcd", static_cast<std::int32_t>(kMsRlsd)},
};

// "COM1", "LPT2", "USB".
std::string target_name(const Target& t);

inline bool attached(const sim::SimUnit& u) {
    return u.sense >= 0;
}
inline std::int32_t sense_of(const sim::SimUnit& u) {
    return attached(u) ? u.sense & kModemLines : 0;
}

// The state of one port (a COM port with its units) or of the USB drawer.
std::string port_lines(const sim::SimState& s, const Target& t, bool json);
// The bytes a COM or LPT port received, before any reset.
std::string received_text(const sim::SimPort& p, const Target& t, bool reset, bool json);

}  // namespace zrn::drawersim::detail
