#include "zrn/text.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "zrn/device_types.h"

namespace zrn {

bool bounded_copy(char* dst, std::size_t cap, std::string_view src) {
    if (cap == 0) return src.empty();
    const std::size_t n = src.size() < cap - 1 ? src.size() : cap - 1;
    if (n > 0) std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
    return n == src.size();
}

std::int32_t decimal_value(std::string_view text) {
    std::size_t i = 0;
    auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; };
    while (i < text.size() && is_space(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMin = -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min());
    const std::int64_t limit = negative ? kMin : kMax;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

bool parse_int32(std::string_view text, std::int32_t* out) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
    if (i >= text.size()) return false;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return false;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max() || value < std::numeric_limits<std::int32_t>::min())
        return false;
    *out = static_cast<std::int32_t>(value);
    return true;
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string ascii_upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && ascii_lower(a) == ascii_lower(b);
}

std::string_view trim_blanks(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::string join(const std::vector<std::string>& items, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += separator;
        out += items[i];
    }
    return out;
}

std::int32_t so_unit_index(std::string_view device_name) {
    if (device_name.size() > 5 && device_name[5] == '-') {
        // One or two digits; a longer number names no unit rather than another one.
        const std::string_view digits = device_name.substr(6);
        return digits.size() <= 2 ? decimal_value(digits) - 1 : -1;
    }
    return 0;
}

std::int32_t port_unit_index(std::string_view device_name) {
    if (device_name.size() <= 5) return 0;
    if (device_name.size() == 7 || device_name.size() == 8) return decimal_value(device_name.substr(6)) - 1;
    return -1;
}

std::string value_as_text(std::uint32_t type, std::span<const std::uint8_t> data) {
    if (type == kRegTypeSz) {
        std::size_t n = 0;
        while (n < data.size() && data[n] != 0) ++n;
        return std::string(reinterpret_cast<const char*>(data.data()), n);
    }
    if (type == kRegTypeDword && data.size() >= 4) {
        const std::uint32_t raw = static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
                                  (static_cast<std::uint32_t>(data[2]) << 16) |
                                  (static_cast<std::uint32_t>(data[3]) << 24);
        char buf[16];
        std::snprintf(buf, sizeof buf, "%ld", static_cast<long>(static_cast<std::int32_t>(raw)));
        return buf;
    }
    return "?";
}

const DeviceType* device_type_of(std::string_view name) {
    if (name.size() < kTypeKeyLength) return nullptr;
    for (const DeviceType& t : kDeviceTypes)
        if (name.substr(0, kTypeKeyLength) == t.key) return &t;
    return nullptr;
}

}  // namespace zrn
