#pragma once

// The codes and texts of the settings a device entry holds: the lists the
// settings pages offer, in list order (a code is its position, baud rates
// from 1), and the texts the configuration document writes.
#include <array>
#include <string_view>

namespace zrn::config {

inline constexpr std::array<std::string_view, 6> kBaudRateItems = {"600", "1200", "2400", "4800", "9600", "19200"};
inline constexpr std::array<std::string_view, 2> kDataBitsItems = {"7", "8"};
inline constexpr std::array<std::string_view, 2> kStopBitsItems = {"1", "2"};
inline constexpr std::array<std::string_view, 3> kParityItems = {"None", "Odd", "Even"};
inline constexpr std::array<std::string_view, 2> kHandShakingItems = {"None", "CTS/RTS"};
// Shown when stored; the list does not offer it.
inline constexpr std::string_view kHandShakingXonXoff = "XOn/XOff";
inline constexpr std::array<std::string_view, 2> kDrawerNoItems = {"1", "2"};

// Every code's text as the main window's list shows a stored value: hand
// shaking 0 to 2, status 0 to 3.
inline constexpr std::array<std::string_view, 3> kHandShakingTexts = {"None", "CTS/RTS", "XOn/XOff"};
inline constexpr std::array<std::string_view, 4> kStatusTexts = {"CTS", "RI", "CTS/RI", "No Line"};

}  // namespace zrn::config
