#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zrn/platform/files.h"

namespace zrn::utility {

inline constexpr std::string_view kUsbConfigFolder = "C:\\Program Files\\Common Files\\ZRN Shared";
inline constexpr std::string_view kUsbConfigPath =
    "C:\\Program Files\\Common Files\\ZRN Shared\\USB730Configuration.xml";

// The file that assigns a USB HID identifier to each of the slots "USB0" to
// "USB9". The utility only keeps what it finds and drops the slot of a USB
// device entry it removes. Two lists paired by position hold the slot names
// ("UPort") and identifiers ("ID") the last read or parse found.
class UsbConfig {
public:
    // parse
    static constexpr std::int32_t kParsed = 1;
    static constexpr std::int32_t kNoRootStart = -1;
    static constexpr std::int32_t kOpenInsideTag = -2;
    static constexpr std::int32_t kCloseOutsideTag = -3;
    static constexpr std::int32_t kOtherElement = -4;

    // At most this much of the file is read.
    static constexpr std::size_t kReadMax = 2047;
    // Longer tag texts and attribute names or values are cut to these many
    // characters; what follows is dropped.
    static constexpr std::size_t kTagTextMax = 511;
    static constexpr std::size_t kAttributeMax = 127;
    static constexpr int kSlots = 10;

    explicit UsbConfig(platform::Files& files) : files_(files) {}

    // Fills the lists from the file, creating its folder and the file (with
    // the empty configuration) when missing. 1 read; 0 the file could not be
    // opened (the lists are then empty).
    std::int32_t read();
    // Fills the lists from text, up to its end, a zero byte or the root end
    // tag. Entries met before an error stay in the lists.
    std::int32_t parse(std::string_view text);
    // Replaces the file's content by text. 1 written; 0 the file could not be
    // created (it is then unchanged).
    std::int32_t write(std::string_view text);
    // Rewrites the file without the slot of the USB device entry device_key;
    // the file is left alone when it could not be read.
    void release_slot(std::string_view device_key);

    // The file's text for the pairs of the two lists, byte for byte as written.
    static std::string compose(const std::vector<std::string>& slot_names, const std::vector<std::string>& identifiers);

    const std::vector<std::string>& slot_names() const { return slot_names_; }
    const std::vector<std::string>& identifiers() const { return identifiers_; }

private:
    void parse_attributes(std::string_view part);

    platform::Files& files_;
    std::vector<std::string> slot_names_;
    std::vector<std::string> identifiers_;
};

}  // namespace zrn::utility
