#include "zrn/config/usb_config.h"

#include <algorithm>
#include <array>

#include "zrn/text.h"

namespace zrn::config {

using platform::Files;
using platform::FileStatus;

namespace {

constexpr std::string_view kRootStartTag = "<ZRNUSB730Config Version=\"1.0\">";
constexpr std::string_view kRootEndTag = "</ZRNUSB730Config>";
// Tag texts as the parser collects them: without "<", ">" and "/".
constexpr std::string_view kRootStartText = "ZRNUSB730Config Version=\"1.0\"";
constexpr std::string_view kRootEndText = "ZRNUSB730Config";
constexpr std::string_view kElementName = "HIDID";

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool all_blank(std::string_view s) { return std::all_of(s.begin(), s.end(), is_blank); }

// 0 to 9 for the slot names "USB0" to "USB9", -1 for anything else.
int slot_of(std::string_view name) {
    if (name.size() != 4 || !name.starts_with("USB") || name[3] < '0' || name[3] > '9') return -1;
    return name[3] - '0';
}

// The identifier as the rewrite writes it back: 1 to 255 in plain decimal.
bool plain_identifier(std::string_view id) {
    std::int32_t value = 0;
    return parse_int32(id, &value) && value >= 1 && value <= 255 && std::to_string(value) == id;
}

// False when the character did not fit.
bool append_bounded(std::string* s, char c, std::size_t max) {
    if (s->size() >= max) return false;
    s->push_back(c);
    return true;
}

}  // namespace

std::string UsbConfig::compose(const std::vector<std::string>& slot_names,
                               const std::vector<std::string>& identifiers) {
    std::string text(kRootStartTag);
    const std::size_t pairs = std::min(slot_names.size(), identifiers.size());
    for (std::size_t i = 0; i < pairs; ++i)
        text += "<HIDID UPort=\"" + slot_names[i] + "\" ID=\"" + identifiers[i] + "\"/>";
    text += kRootEndTag;
    return text;
}

void UsbConfig::not_understood(std::string reason) {
    if (reason_.empty()) reason_ = std::move(reason);
}

std::int32_t UsbConfig::parse(std::string_view text) {
    slot_names_.clear();
    identifiers_.clear();
    reason_.clear();
    int opened = 0;
    int closed = 0;
    bool in_tag = false;
    bool root_seen = false;
    bool cut = false;
    std::string tag;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\0') {
            not_understood("it holds a zero byte");
            break;
        }
        bool tag_ended = false;
        if (c == '<') {
            if (opened != closed) {
                not_understood("it holds a '<' inside a tag");
                return kOpenInsideTag;
            }
            ++opened;
            in_tag = true;
        } else if (c == '>') {
            if (closed != opened - 1) {
                not_understood("it holds a '>' outside a tag");
                return kCloseOutsideTag;
            }
            ++closed;
            tag_ended = true;
        } else if (in_tag && c == '/') {
            // Dropped everywhere inside tags; only an end tag's or an empty
            // element's slash comes back when the file is written.
            if (text[i - 1] != '<' && (i + 1 >= text.size() || text[i + 1] != '>'))
                not_understood("it holds a '/' inside a tag");
        } else if (in_tag) {
            cut |= !append_bounded(&tag, c, kTagTextMax);
        } else if (!is_blank(c)) {
            not_understood("it holds text outside the elements");
        }
        if (!tag_ended) continue;

        in_tag = false;
        if (cut) not_understood("it holds a tag longer than " + std::to_string(kTagTextMax) + " characters");
        cut = false;
        if (!root_seen) {
            if (tag != kRootStartText) {
                not_understood(tag.starts_with("?xml") ? "it begins with an XML declaration"
                                                       : "it does not begin with the element " +
                                                             std::string(kRootStartTag));
                return kNoRootStart;
            }
            root_seen = true;
        } else if (tag == kRootEndText) {
            if (!all_blank(text.substr(i + 1)))
                not_understood("it holds more after the end of " + std::string(kRootEndTag));
            check_pairs();
            return kParsed;
        } else {
            const std::string_view rest = std::string_view(tag).substr(std::min(tag.size(), kElementName.size()));
            if (!tag.starts_with(kElementName) || (!rest.empty() && !is_blank(rest.front()))) {
                not_understood("it holds an element other than HIDID (<" + tag.substr(0, tag.find(' ')) + ">)");
                return kOtherElement;
            }
            parse_attributes(rest);
        }
        tag.clear();
    }
    if (root_seen) {
        not_understood("its root element is not closed");
    } else if (!all_blank(text)) {
        not_understood("it does not begin with the element " + std::string(kRootStartTag));
    }
    check_pairs();
    return kParsed;
}

void UsbConfig::parse_attributes(std::string_view part) {
    std::string buffer;
    std::string name;
    int quotes = 0;
    int ports = 0;
    int ids = 0;
    bool cut = false;
    for (const char c : part) {
        if (c == '=' && quotes == 0) {
            name.clear();
            for (char n : buffer)
                if (!is_blank(n)) name.push_back(n);
            buffer.clear();
        } else if (c == '=') {
            // Inside a value an equals sign ends nothing in the file's eyes,
            // but the lists would lose the value: not taken in.
            not_understood("it holds an attribute value with '=' in it");
            name.clear();
            buffer.clear();
        } else if (c == '"') {
            if (++quotes < 2) continue;
            if (name == "UPort") {
                slot_names_.push_back(buffer);
                ++ports;
            } else if (name == "ID") {
                identifiers_.push_back(buffer);
                ++ids;
            } else {
                not_understood("it holds an attribute other than UPort and ID (" + name + ")");
            }
            quotes = 0;
            buffer.clear();
        } else {
            cut |= !append_bounded(&buffer, c, kAttributeMax);
        }
    }
    if (cut) not_understood("it holds a value longer than " + std::to_string(kAttributeMax) + " characters");
    if (quotes != 0 || !all_blank(buffer)) not_understood("it holds an attribute without a value in quotes");
    if (ports != 1 || ids != 1) not_understood("it holds an element without exactly one UPort and one ID");
}

void UsbConfig::check_pairs() {
    if (!complete()) return;
    std::array<bool, kSlots> seen{};
    for (std::size_t i = 0; i < slot_names_.size() && i < identifiers_.size(); ++i) {
        const int slot = slot_of(slot_names_[i]);
        if (slot < 0) return not_understood("it holds a slot other than USB0 to USB9 (UPort=\"" + slot_names_[i] + "\")");
        if (seen[static_cast<std::size_t>(slot)]) return not_understood("it lists the slot " + slot_names_[i] + " twice");
        seen[static_cast<std::size_t>(slot)] = true;
        if (!plain_identifier(identifiers_[i]))
            return not_understood("it holds an identifier other than 1 to 255 (ID=\"" + identifiers_[i] + "\")");
    }
}

std::int32_t UsbConfig::read() {
    slot_names_.clear();
    identifiers_.clear();
    reason_.clear();
    const std::string path(kUsbConfigPath);
    std::string text;
    bool longer = false;
    read_status_ = platform::read_file_content(files_, path, kReadMax, &text, &longer);
    if (platform::file_missing(read_status_)) {
        // Missing, not held: make the folder when it is not there, then
        // start the file with the empty configuration.
        if (read_status_ == platform::kFilePathNotFound) files_.create_directory(std::string(kUsbConfigFolder));
        write(compose({}, {}));
        read_status_ = platform::read_file_content(files_, path, kReadMax, &text, &longer);
    }
    if (read_status_ != platform::kFileOk) return 0;
    parse(text);  // entries before an error are kept
    if (longer) {
        reason_.clear();
        not_understood("it is longer than the " + std::to_string(kReadMax) + " bytes this program reads");
    }
    return 1;
}

std::int32_t UsbConfig::write(std::string_view text) {
    write_status_ = platform::replace_file_content(files_, std::string(kUsbConfigPath), text);
    return write_status_ == platform::kFileOk ? 1 : 0;
}

UsbConfig::ReleaseOutcome UsbConfig::assess() {
    if (read() != 1)
        return {platform::file_held(read_status_) ? Release::Held : Release::Failed, {}, read_status_};
    if (!complete()) return {Release::NotUnderstood, reason_, platform::kFileOk};
    return {};
}

UsbConfig::ReleaseOutcome UsbConfig::check_release() { return assess(); }

UsbConfig::ReleaseOutcome UsbConfig::release_slot(std::string_view device_key) {
    const ReleaseOutcome readable = assess();
    if (!readable.done()) return readable;

    std::array<std::uint8_t, kSlots> ids{};
    for (std::size_t i = 0; i < slot_names_.size(); ++i)
        ids[static_cast<std::size_t>(slot_of(slot_names_[i]))] = static_cast<std::uint8_t>(decimal_value(identifiers_[i]));

    // The device's slot is its unit index: the single USB device "CD730" has 0.
    std::int32_t unit = 0;
    if (device_key.size() > 5 && device_key[5] == '-') unit = decimal_value(device_key.substr(6)) - 1;
    // A file without the slot needs no rewrite.
    if (unit < 0 || unit >= kSlots || ids[static_cast<std::size_t>(unit)] == 0) return {};
    ids[static_cast<std::size_t>(unit)] = 0;

    slot_names_.clear();
    identifiers_.clear();
    for (int slot = 0; slot < kSlots; ++slot) {
        const std::uint8_t id = ids[static_cast<std::size_t>(slot)];
        if (id == 0) continue;
        slot_names_.push_back("USB" + std::to_string(slot));
        identifiers_.push_back(std::to_string(id));
    }
    if (write(compose(slot_names_, identifiers_)) == 1) return {};
    return {platform::file_held(write_status_) ? Release::Held : Release::Failed, {}, write_status_};
}

std::string UsbConfig::why(const ReleaseOutcome& outcome) const {
    switch (outcome.result) {
        case Release::Done:
            return {};
        case Release::NotUnderstood:
            return outcome.reason + ", which this program would not write back";
        case Release::Held:
            return "another program has it open (" + files_.error_text(outcome.status) + ")";
        case Release::Failed:
            return "it could not be read or written (" + files_.error_text(outcome.status) + ")";
    }
    return {};
}

}  // namespace zrn::config
