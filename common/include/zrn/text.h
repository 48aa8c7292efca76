#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zrn {

// Copies src into a fixed-width, zero-terminated text field of cap bytes.
// Returns false when src did not fit (the field then holds a truncated,
// still terminated, prefix). cap 0 writes nothing and returns src.empty().
bool bounded_copy(char* dst, std::size_t cap, std::string_view src);

template <std::size_t N>
bool copy_field(char (&dst)[N], std::string_view src) {
    return bounded_copy(dst, N, src);
}

// The text of a fixed-width field up to its terminator (or its full width
// when a broken writer left it unterminated).
template <std::size_t N>
std::string_view field_text(const char (&field)[N]) {
    std::size_t n = 0;
    while (n < N && field[n] != '\0') ++n;
    return {field, n};
}

// Decimal conversion as the registry readers and opening codes use it:
// leading white space, optional sign, digits up to the first non-digit;
// 0 without digits. Saturates at the 32-bit range.
std::int32_t decimal_value(std::string_view text);

// A whole command-line or file number: an optional sign and digits, nothing
// else, within the 32-bit range. False (out unchanged) otherwise.
bool parse_int32(std::string_view text, std::int32_t* out);

// ASCII letters folded to one case, other bytes left as they are: how the
// registry's names compare for the names this system writes.
std::string ascii_lower(std::string_view text);
std::string ascii_upper(std::string_view text);
bool equal_ignoring_case(std::string_view a, std::string_view b);
// Blanks and tabs removed at both ends.
std::string_view trim_blanks(std::string_view text);
// The items with the separator between them.
std::string join(const std::vector<std::string>& items, std::string_view separator = ", ");

// Unit index as the Service Object derives it from a DeviceName: when the
// character at position 5 is '-', the one- or two-digit number after it
// minus 1 (-1 when more follows), else 0.
std::int32_t so_unit_index(std::string_view device_name);

// Unit index as the port driver derives it from a DeviceName: 0 for names of
// at most 5 characters, the number after position 5 minus 1 for names of 7
// or 8 characters, -1 (no slot) for any other length.
std::int32_t port_unit_index(std::string_view device_name);

// Registry value types the readers distinguish.
constexpr std::uint32_t kRegTypeSz = 1;
constexpr std::uint32_t kRegTypeDword = 4;

// "Value as text": REG_SZ as its characters, REG_DWORD as signed decimal,
// anything else "?".
std::string value_as_text(std::uint32_t type, std::span<const std::uint8_t> data);

}  // namespace zrn
