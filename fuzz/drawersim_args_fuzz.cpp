// drawersim's command line and its line-state words.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "zrn/drawersim/drawersim.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> args = fuzz_arguments(data, size);
    const zrn::drawersim::Parsed parsed = zrn::drawersim::parse(args);
    (void)parsed;
    for (const auto& a : args) {
        const auto word = zrn::drawersim::parse_lines(a);
        if (word) {
            // A word read from text reads back the same from its own text.
            const std::string text = zrn::drawersim::lines_text(*word);
            const auto again = zrn::drawersim::parse_lines(text);
            FUZZ_CHECK(again && zrn::drawersim::lines_text(*again) == text);
        }
    }
    return 0;
}
