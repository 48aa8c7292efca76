// zrncd's command line: any list of arguments (the input split at zero bytes).
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "zrn/cli/cli.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> args = fuzz_arguments(data, size);
    zrn::cli::Options options;
    const std::string error = zrn::cli::parse(args, &options);
    for (const auto& a : args) {
        // What the JSON output makes of an argument is one string's content:
        // no raw control character, no quote or backslash left bare.
        const std::string j = zrn::cli::json_escape(a);
        for (std::size_t i = 0; i < j.size(); ++i) {
            FUZZ_CHECK(static_cast<unsigned char>(j[i]) >= 0x20);
            if (j[i] == '\\') {
                FUZZ_CHECK(i + 1 < j.size());
                ++i;
            } else {
                FUZZ_CHECK(j[i] != '"');
            }
        }
    }
    (void)error;
    return 0;
}
