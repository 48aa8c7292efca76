#include "zrn/utility/usb_config.h"

#include <algorithm>
#include <array>

#include "zrn/text.h"

namespace zrn::utility {

using platform::Files;

namespace {

constexpr std::string_view kRootStartTag = "<ZRNUSB730Config Version=\"1.0\">";
constexpr std::string_view kRootEndTag = "</ZRNUSB730Config>";
// Tag texts as the parser collects them: without "<", ">" and "/".
constexpr std::string_view kRootStartText = "ZRNUSB730Config Version=\"1.0\"";
constexpr std::string_view kRootEndText = "ZRNUSB730Config";
constexpr std::string_view kElementName = "HIDID";

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// 0 to 9 for the slot names "USB0" to "USB9", -1 for anything else.
int slot_of(std::string_view name) {
    if (name.size() != 4 || !name.starts_with("USB") || name[3] < '0' || name[3] > '9') return -1;
    return name[3] - '0';
}

void append_bounded(std::string* s, char c, std::size_t max) {
    if (s->size() < max) s->push_back(c);
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

std::int32_t UsbConfig::parse(std::string_view text) {
    slot_names_.clear();
    identifiers_.clear();
    int opened = 0;
    int closed = 0;
    bool in_tag = false;
    bool root_seen = false;
    std::string tag;
    for (const char c : text) {
        if (c == '\0') break;
        bool tag_ended = false;
        if (c == '<') {
            if (opened != closed) return kOpenInsideTag;
            ++opened;
            in_tag = true;
        } else if (c == '>') {
            if (closed != opened - 1) return kCloseOutsideTag;
            ++closed;
            tag_ended = true;
        } else if (in_tag && c != '/') {
            append_bounded(&tag, c, kTagTextMax);
        }
        if (!tag_ended) continue;

        in_tag = false;
        if (!root_seen) {
            if (tag != kRootStartText) return kNoRootStart;
            root_seen = true;
        } else if (tag == kRootEndText) {
            return kParsed;
        } else {
            if (!tag.starts_with(kElementName)) return kOtherElement;
            parse_attributes(std::string_view(tag).substr(kElementName.size()));
        }
        tag.clear();
    }
    return kParsed;
}

void UsbConfig::parse_attributes(std::string_view part) {
    std::string buffer;
    std::string name;
    int quotes = 0;
    for (const char c : part) {
        if (c == '=') {
            name.clear();
            for (char n : buffer)
                if (!is_blank(n)) name.push_back(n);
            buffer.clear();
        } else if (c == '"') {
            if (++quotes < 2) continue;
            if (name == "UPort") {
                slot_names_.push_back(buffer);
            } else if (name == "ID") {
                identifiers_.push_back(buffer);
            }
            quotes = 0;
            buffer.clear();
        } else {
            append_bounded(&buffer, c, kAttributeMax);
        }
    }
}

std::int32_t UsbConfig::read() {
    slot_names_.clear();
    identifiers_.clear();
    const std::string path(kUsbConfigPath);
    Files::Handle h = files_.open_existing_read_write(path);
    if (h == Files::kInvalid) {
        // Missing: make the folder if the file cannot be made in it, then
        // start the file with the empty configuration.
        const Files::Handle made = files_.create_always_read_write(path);
        if (made == Files::kInvalid) {
            files_.create_directory(std::string(kUsbConfigFolder));
        } else {
            files_.close(made);
        }
        write(compose({}, {}));
        h = files_.open_existing_read_write(path);
        if (h == Files::kInvalid) return 0;
    }
    std::array<char, kReadMax> buffer{};
    std::size_t total = 0;
    while (total < kReadMax) {
        std::size_t got = 0;
        if (!files_.read(h, buffer.data() + total, kReadMax - total, &got) || got == 0) break;
        total += got;
    }
    parse(std::string_view(buffer.data(), total));  // entries before an error are kept
    files_.close(h);
    return 1;
}

std::int32_t UsbConfig::write(std::string_view text) {
    const Files::Handle h = files_.create_always_read_write(std::string(kUsbConfigPath));
    if (h == Files::kInvalid) return 0;
    files_.write(h, text.data(), text.size());
    files_.close(h);
    return 1;
}

void UsbConfig::release_slot(std::string_view device_key) {
    // A file another program holds (or that cannot be made) keeps its slots:
    // rewriting from empty lists would drop them all if it were let go of in
    // between.
    if (read() != 1) return;

    std::array<std::uint8_t, kSlots> ids{};
    const std::size_t pairs = std::min(slot_names_.size(), identifiers_.size());
    for (std::size_t i = 0; i < pairs && !slot_names_[i].empty(); ++i) {
        const int slot = slot_of(slot_names_[i]);
        // The identifier is one byte: its low byte is kept; later entries win.
        if (slot >= 0) ids[static_cast<std::size_t>(slot)] = static_cast<std::uint8_t>(decimal_value(identifiers_[i]));
    }

    // The device's slot is its unit index: the single USB device "CD730" has 0.
    std::int32_t unit = 0;
    if (device_key.size() > 5 && device_key[5] == '-') unit = decimal_value(device_key.substr(6)) - 1;
    if (unit >= 0 && unit < kSlots) ids[static_cast<std::size_t>(unit)] = 0;

    slot_names_.clear();
    identifiers_.clear();
    for (int slot = 0; slot < kSlots; ++slot) {
        const std::uint8_t id = ids[static_cast<std::size_t>(slot)];
        if (id == 0) continue;
        slot_names_.push_back("USB" + std::to_string(slot));
        identifiers_.push_back(std::to_string(id));
    }
    write(compose(slot_names_, identifiers_));
}

}  // namespace zrn::utility
