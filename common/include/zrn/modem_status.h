#pragma once

// The modem-status word of a serial port (as GetCommModemStatus reports it)
// and the word a closed drawer shows on it.
#include <cstdint>

namespace zrn {

constexpr std::uint32_t kMsCts = 0x10;
constexpr std::uint32_t kMsDsr = 0x20;
constexpr std::uint32_t kMsRing = 0x40;
constexpr std::uint32_t kMsRlsd = 0x80;

// Status 3 has no sense line: its closed word matches no word a port shows.
constexpr std::int32_t kNoClosedWord = 999;

// The word a closed drawer shows for a device entry's Status (0 CTS, 1 RING,
// 2 CTS and RING, 3 none) and HandShaking: with CTS/RTS handshaking (1) and
// Status 1 every line is up. 0 for a Status outside those.
constexpr std::int32_t closed_modem_word(std::int32_t status, std::int32_t handshaking) {
    if (handshaking == 1 && status == 1) return static_cast<std::int32_t>(kMsCts | kMsDsr | kMsRing | kMsRlsd);
    switch (status) {
        case 0: return static_cast<std::int32_t>(kMsCts);
        case 1: return static_cast<std::int32_t>(kMsRing);
        case 2: return static_cast<std::int32_t>(kMsCts | kMsRing);
        case 3: return kNoClosedWord;
        default: return 0;
    }
}

}  // namespace zrn
