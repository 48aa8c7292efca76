#pragma once

// Small PE images made in memory for the tests: the headers a linker writes,
// one section holding the export directory and its names.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace zrn::cfg::testing {

struct PeSpec {
    std::uint16_t machine = 0x8664;
    bool dll = true;
    std::vector<std::string> exports;
};

inline void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Offsets of the parts a test may want to damage.
struct PeLayout {
    std::size_t pe = 0x80;
    std::size_t optional = 0x98;
    std::size_t sections = 0;
    std::size_t export_dir = 0x200;
    std::size_t names = 0x228;
};

inline std::vector<std::uint8_t> make_pe(const PeSpec& spec, PeLayout* layout = nullptr) {
    const bool plus = spec.machine == 0x8664;
    const std::uint32_t opt_size = plus ? 240 : 224;
    PeLayout l;
    l.sections = l.optional + opt_size;
    const std::uint32_t raw = 0x200, va = 0x1000;
    // Section data: export directory (40 bytes), name RVAs, ordinals, strings.
    std::vector<std::uint8_t> data(40 + spec.exports.size() * 6);
    std::vector<std::uint32_t> name_rvas;
    for (const auto& n : spec.exports) {
        name_rvas.push_back(va + static_cast<std::uint32_t>(data.size()));
        data.insert(data.end(), n.begin(), n.end());
        data.push_back(0);
    }
    const std::uint32_t n = static_cast<std::uint32_t>(spec.exports.size());
    put32(data, 20, n);                     // NumberOfFunctions
    put32(data, 24, n);                     // NumberOfNames
    put32(data, 32, va + 40);               // AddressOfNames
    put32(data, 36, va + 40 + n * 4);       // AddressOfNameOrdinals
    for (std::uint32_t i = 0; i < n; ++i) {
        put32(data, 40 + i * 4, name_rvas[i]);
        put16(data, 40 + n * 4 + i * 2, i);
    }
    const std::uint32_t raw_size = (static_cast<std::uint32_t>(data.size()) + 0x1FF) & ~0x1FFu;

    std::vector<std::uint8_t> b(raw + raw_size);
    b[0] = 'M';
    b[1] = 'Z';
    put32(b, 0x3C, static_cast<std::uint32_t>(l.pe));
    std::memcpy(&b[l.pe], "PE\0\0", 4);
    const std::size_t coff = l.pe + 4;
    put16(b, coff, spec.machine);
    put16(b, coff + 2, 1);
    put16(b, coff + 16, opt_size);
    put16(b, coff + 18, spec.dll ? 0x2102 : 0x0102);
    put16(b, l.optional, plus ? 0x20B : 0x10B);
    const std::size_t count_at = l.optional + (plus ? 108 : 92);
    put32(b, count_at, 16);
    if (n > 0) {
        put32(b, count_at + 4, va);
        put32(b, count_at + 8, static_cast<std::uint32_t>(data.size()));
    }
    std::memcpy(&b[l.sections], ".edata\0\0", 8);
    put32(b, l.sections + 8, static_cast<std::uint32_t>(data.size()));
    put32(b, l.sections + 12, va);
    put32(b, l.sections + 16, raw_size);
    put32(b, l.sections + 20, raw);
    std::memcpy(&b[raw], data.data(), data.size());
    l.export_dir = raw;
    l.names = raw + 40;
    if (layout) *layout = l;
    return b;
}

}  // namespace zrn::cfg::testing
