#pragma once

// What the dialogs' presenters share: the fixed message texts and the small
// helpers that format and look them up.
#include <algorithm>
#include <array>
#include <cstdio>

#include "zrn/device_types.h"
#include "zrn/text.h"
#include "zrn/trace.h"
#include "zrn/utility/main_presenter.h"
#include "zrn/config/rules.h"

namespace zrn::utility::dialog_texts {

inline constexpr std::string_view kNameTakenPage1 =
    "The Logical Device Name  '%s'  already      \nexists.  Please use a different name.";
inline constexpr std::string_view kNameTakenPage2 =
    "The Logical Device Name '%s' already      \nexists.  Please use a different name.";
inline constexpr std::string_view kUnknownType = "errdlg::Initialization: 0x0002";
inline constexpr std::string_view kCreateFailed = "errdlg::Initialization: 0x0001";
inline constexpr std::string_view kSingleInstance =
    "Single instance CD730 supported version.  \n\nDynamic single drawer implementation\n"
    "[SD OPOS ADK Version 3.38.1].  ";
inline constexpr std::string_view kMissingUsbLibrary = "Error: Missing USB730SO.DLL file";
inline constexpr std::string_view kUsbNotFound = "The USB Device for DeviceID %s cannot be found";
inline constexpr std::string_view kBadOpenChar = "Open Character must be an ASCII\r\nvalue between 0 - 255";
inline constexpr std::string_view kBadOpenCharCaption = "Invalid Open Character";
inline constexpr std::string_view kConflictCaption = "Port Conflict Notice ";
inline constexpr std::string_view kRemoveLdnQuestion = "Are you sure you want to remove the\nLDN '%s' ?";

// printf-style formatting of the fixed message texts.
template <typename... Args>
std::string format(std::string_view pattern, Args... args) {
    const std::string p(pattern);
    const int n = std::snprintf(nullptr, 0, p.c_str(), args...);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), p.c_str(), args...);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

template <std::size_t N>
int index_of(const std::array<std::string_view, N>& items, std::string_view text) {
    for (std::size_t i = 0; i < N; ++i)
        if (items[i] == text) return static_cast<int>(i);
    return -1;
}

template <std::size_t N>
std::string item_at(const std::array<std::string_view, N>& items, std::int32_t index) {
    if (index < 0 || index >= static_cast<std::int32_t>(N)) return {};
    return std::string(items[static_cast<std::size_t>(index)]);
}

inline bool is_serial(std::int32_t type) { return type == kDeviceIdSerialII || type == kDeviceIdSmartSerial; }

// An open character as typed, blanks at either end aside: a decimal code of
// 0 to 255, or nothing for the second one. Anything else is refused rather
// than stored as some other code.
inline bool open_char_ok(std::string_view text, int which) {
    const std::string_view t = trim_blanks(text);
    return config::valid_open_code(t) || (which == 2 && t.empty());
}

inline constexpr std::string_view kSaveFailed = "The settings of the cash drawer device '%s' could not be saved.\n\n%s";
inline constexpr std::string_view kDeviceGone =
    "The cash drawer device '%s' does not exist any more: another program removed it while this page was open.\n\n"
    "Nothing was saved.";
inline constexpr std::string_view kPortNotInList = "The port '%s' is not one of %s.\n\nChoose the port from the list.";
inline constexpr std::string_view kNoPort = "No port is chosen.\n\nChoose the port from the list.";

}  // namespace zrn::utility::dialog_texts
