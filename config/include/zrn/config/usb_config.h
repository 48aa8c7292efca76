#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zrn/platform/files.h"

namespace zrn::config {

inline constexpr std::string_view kUsbConfigFolder = "C:\\Program Files\\Common Files\\ZRN Shared";
inline constexpr std::string_view kUsbConfigPath =
    "C:\\Program Files\\Common Files\\ZRN Shared\\USB730Configuration.xml";

// The file that assigns a USB HID identifier to each of the slots "USB0" to
// "USB9". The utility only keeps what it finds and drops the slot of a USB
// device entry it removes. Two lists paired by position hold the slot names
// ("UPort") and identifiers ("ID") the last read or parse found.
//
// The file is shared with other software, so it is rewritten only when it
// was understood whole: a file with anything the rewrite would not carry
// over (a declaration, another element or attribute, a slot or identifier
// out of range, more than is read) is left as it is, and the caller is told
// why. A rewrite replaces the file in one step, never in place.
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

    // What releasing a slot came to.
    enum class Release {
        Done,           // rewritten without the slot, or the slot was not in the file
        NotUnderstood,  // the file holds what a rewrite would lose: left as it is
        Held,           // another program has the file open: left as it is
        Failed,         // the file could not be read or written: left as it is
    };
    struct ReleaseOutcome {
        Release result = Release::Done;
        std::string reason;  // NotUnderstood: what was not understood
        platform::FileStatus status = platform::kFileOk;  // Held, Failed: the file system's code
        bool done() const { return result == Release::Done; }
    };

    explicit UsbConfig(platform::Files& files) : files_(files) {}

    // Fills the lists from the file, creating its folder and the file (with
    // the empty configuration) when missing. 1 read; 0 the file could not be
    // opened (the lists are then empty; read_status() says why, and a file
    // another program holds is never made anew).
    std::int32_t read();
    // Fills the lists from text, up to its end, a zero byte or the root end
    // tag. Entries met before an error stay in the lists.
    std::int32_t parse(std::string_view text);
    // Replaces the file's content by text, in one step. 1 written; 0 the file
    // could not be written (it is then unchanged; write_status() says why).
    std::int32_t write(std::string_view text);
    // Rewrites the file without the slot of the USB device entry
    // device_key; a file that was not read, or not understood whole, is left
    // alone.
    ReleaseOutcome release_slot(std::string_view device_key);
    // Whether release_slot could rewrite the file now, without writing it.
    ReleaseOutcome check_release();

    // The file's text for the pairs of the two lists, byte for byte as written.
    static std::string compose(const std::vector<std::string>& slot_names, const std::vector<std::string>& identifiers);

    const std::vector<std::string>& slot_names() const { return slot_names_; }
    const std::vector<std::string>& identifiers() const { return identifiers_; }
    // Whether the last read or parse took in everything the text holds, so
    // that composing the lists gives the file back without a loss; if not,
    // incomplete_reason() says what was not taken in.
    bool complete() const { return reason_.empty(); }
    const std::string& incomplete_reason() const { return reason_; }
    platform::FileStatus read_status() const { return read_status_; }
    platform::FileStatus write_status() const { return write_status_; }

    // "another program has it open (...)", "it holds an element other than
    // HIDID", ...: why a release left the file alone, for a message.
    std::string why(const ReleaseOutcome& outcome) const;

private:
    void parse_attributes(std::string_view part);
    void not_understood(std::string reason);
    void check_pairs();
    ReleaseOutcome assess();

    platform::Files& files_;
    std::vector<std::string> slot_names_;
    std::vector<std::string> identifiers_;
    std::string reason_;
    platform::FileStatus read_status_ = platform::kFileOk;
    platform::FileStatus write_status_ = platform::kFileOk;
};

}  // namespace zrn::config
