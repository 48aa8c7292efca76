// The PE reader the doctor runs over files it finds on a till: raw bytes, and
// well-formed images with bytes of their headers and export tables changed.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "test_pe.h"
#include "zrn/cfg/pe_image.h"

using namespace zrn::cfg;

namespace {

void check(const std::vector<std::uint8_t>& bytes) {
    PeImage image;
    std::string error;
    if (read_pe_image(bytes, &image, &error)) {
        FUZZ_CHECK(image.exports.size() <= kPeMaxExportNames);
        for (const auto& n : image.exports) FUZZ_CHECK(n.size() <= kPeMaxNameLength);
        FUZZ_CHECK(!machine_name(image.machine).empty());
    } else {
        FUZZ_CHECK(!error.empty());
    }
}

// A name an export table can hold: it ends at its first zero byte, and the
// reader takes none as long as its limit.
bool representable(const std::string& name) {
    return !name.empty() && name.size() < kPeMaxNameLength && name.find('\0') == std::string::npos;
}

}  // namespace

// First byte even: the rest is the file. Odd: bit 1 picks amd64 over i386;
// then export names, one per line, up to an empty line; then patches of
// three bytes each (offset low, offset high, value) applied to the image.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if ((data[0] & 1) == 0) {
        check(std::vector<std::uint8_t>(data + 1, data + size));
        return 0;
    }
    testing::PeSpec spec;
    spec.machine = (data[0] & 2) ? kPeMachineAmd64 : kPeMachineI386;
    std::size_t i = 1;
    std::string name;
    for (; i < size; ++i) {
        if (data[i] != '\n') {
            name.push_back(static_cast<char>(data[i]));
            continue;
        }
        if (name.empty()) {
            ++i;
            break;
        }
        if (representable(name) && spec.exports.size() < 64) spec.exports.push_back(name);
        name.clear();
    }
    if (representable(name) && spec.exports.size() < 64) spec.exports.push_back(name);
    std::vector<std::uint8_t> image = testing::make_pe(spec);
    {
        // The image as built is always read back whole.
        PeImage read;
        std::string error;
        FUZZ_CHECK(read_pe_image(image, &read, &error));
        FUZZ_CHECK(read.machine == spec.machine);
        FUZZ_CHECK(read.exports.size() == spec.exports.size());
    }
    for (; i + 3 <= size; i += 3) {
        const std::size_t at = (data[i] | data[i + 1] << 8) % image.size();
        image[at] = data[i + 2];
    }
    check(image);
    return 0;
}
