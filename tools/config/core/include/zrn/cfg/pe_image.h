#pragma once

// The little of a PE file (EXE or DLL) the doctor needs: the machine it was
// built for and the names it exports. It reads files of another bitness that
// cannot be loaded, and files that are not ours at all, so every offset and
// count in them is checked against the bytes actually there.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zrn::cfg {

constexpr std::uint16_t kPeMachineI386 = 0x014C;
constexpr std::uint16_t kPeMachineAmd64 = 0x8664;

// Limits on what a file may make the reader do.
constexpr std::size_t kPeMaxExportNames = 65536;
constexpr std::size_t kPeMaxNameLength = 512;
// The doctor reads at most this many bytes of a file.
constexpr std::size_t kPeMaxFileBytes = 64u << 20;

struct PeImage {
    std::uint16_t machine = 0;
    bool pe32_plus = false;  // the 64-bit optional header
    bool dll = false;
    std::vector<std::string> exports;  // in the export directory's order
};

// False with *error saying what is wrong when the bytes are no PE image or
// its headers or export directory do not fit in them.
bool read_pe_image(std::span<const std::uint8_t> bytes, PeImage* out, std::string* error);

// "i386", "amd64", or the number in hex.
std::string machine_name(std::uint16_t machine);

bool has_export(const PeImage& image, std::string_view name);

}  // namespace zrn::cfg
