#include "zrn/cfg/pe_image.h"

#include <algorithm>
#include <cstdio>

namespace zrn::cfg {

namespace {

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> b) : b_(b) {}
    bool fits(std::uint64_t offset, std::uint64_t size) const {
        return offset <= b_.size() && size <= b_.size() - offset;
    }
    std::uint16_t u16(std::size_t at) const { return static_cast<std::uint16_t>(b_[at] | b_[at + 1] << 8); }
    std::uint32_t u32(std::size_t at) const {
        return static_cast<std::uint32_t>(b_[at]) | static_cast<std::uint32_t>(b_[at + 1]) << 8 |
               static_cast<std::uint32_t>(b_[at + 2]) << 16 | static_cast<std::uint32_t>(b_[at + 3]) << 24;
    }
    std::uint8_t u8(std::size_t at) const { return b_[at]; }

private:
    std::span<const std::uint8_t> b_;
};

struct Section {
    std::uint32_t va, vsize, raw_size, raw_ptr;
};

// File offset of an RVA whose size bytes all lie in one section's file data.
bool file_offset(const std::vector<Section>& sections, const Reader& r, std::uint32_t rva, std::uint32_t size,
                 std::size_t* out) {
    for (const Section& s : sections) {
        if (rva < s.va) continue;
        const std::uint64_t delta = static_cast<std::uint64_t>(rva) - s.va;
        if (delta >= std::max(s.vsize, s.raw_size)) continue;
        // Past the file data the section is zeros in memory, which no name is.
        if (delta + size > s.raw_size) return false;
        const std::uint64_t off = static_cast<std::uint64_t>(s.raw_ptr) + delta;
        if (!r.fits(off, size)) return false;
        *out = static_cast<std::size_t>(off);
        return true;
    }
    return false;
}

bool fail(std::string* error, const char* what) {
    if (error) *error = what;
    return false;
}

}  // namespace

bool read_pe_image(std::span<const std::uint8_t> bytes, PeImage* out, std::string* error) {
    *out = PeImage{};
    const Reader r(bytes);
    if (!r.fits(0, 0x40) || r.u8(0) != 'M' || r.u8(1) != 'Z') return fail(error, "no MZ header");
    const std::uint32_t pe = r.u32(0x3C);
    if (!r.fits(pe, 24) || r.u32(pe) != 0x00004550u) return fail(error, "no PE signature");
    const std::size_t coff = pe + 4;
    out->machine = r.u16(coff);
    const std::uint16_t section_count = r.u16(coff + 2);
    const std::uint16_t optional_size = r.u16(coff + 16);
    out->dll = (r.u16(coff + 18) & 0x2000) != 0;
    const std::size_t opt = coff + 20;
    if (!r.fits(opt, optional_size) || optional_size < 2) return fail(error, "optional header cut short");
    const std::uint16_t magic = r.u16(opt);
    if (magic != 0x10B && magic != 0x20B) return fail(error, "unknown optional header");
    out->pe32_plus = magic == 0x20B;
    const std::size_t count_at = out->pe32_plus ? 108 : 92;
    if (optional_size < count_at + 4) return fail(error, "optional header cut short");
    const std::uint32_t dir_count = r.u32(opt + count_at);
    const std::size_t dirs = opt + count_at + 4;

    std::vector<Section> sections;
    const std::size_t sec = opt + optional_size;
    if (!r.fits(sec, static_cast<std::uint64_t>(section_count) * 40)) return fail(error, "section table cut short");
    for (std::size_t i = 0; i < section_count; ++i) {
        const std::size_t at = sec + i * 40;
        sections.push_back({r.u32(at + 12), r.u32(at + 8), r.u32(at + 16), r.u32(at + 20)});
    }

    // No export directory: a valid image that exports nothing.
    if (dir_count < 1 || optional_size < dirs - opt + 8) return true;
    const std::uint32_t export_rva = r.u32(dirs);
    const std::uint32_t export_size = r.u32(dirs + 4);
    if (export_rva == 0 || export_size == 0) return true;
    std::size_t ed = 0;
    if (!file_offset(sections, r, export_rva, 40, &ed)) return fail(error, "export directory outside the file");
    const std::uint32_t name_count = r.u32(ed + 24);
    const std::uint32_t names_rva = r.u32(ed + 32);
    if (name_count > kPeMaxExportNames) return fail(error, "too many export names");
    if (name_count == 0) return true;
    std::size_t names = 0;
    if (!file_offset(sections, r, names_rva, name_count * 4, &names)) return fail(error, "export names outside the file");
    for (std::uint32_t i = 0; i < name_count; ++i) {
        std::size_t at = 0;
        if (!file_offset(sections, r, r.u32(names + i * 4), 1, &at)) return fail(error, "export name outside the file");
        std::string name;
        for (;;) {
            if (!r.fits(at, 1)) return fail(error, "export name cut short");
            const std::uint8_t c = r.u8(at++);
            if (c == 0) break;
            if (name.size() >= kPeMaxNameLength) return fail(error, "export name too long");
            name.push_back(static_cast<char>(c));
        }
        out->exports.push_back(std::move(name));
    }
    return true;
}

std::string machine_name(std::uint16_t machine) {
    if (machine == kPeMachineI386) return "i386";
    if (machine == kPeMachineAmd64) return "amd64";
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%04X", machine);
    return buf;
}

bool has_export(const PeImage& image, std::string_view name) {
    return std::find(image.exports.begin(), image.exports.end(), name) != image.exports.end();
}

}  // namespace zrn::cfg
