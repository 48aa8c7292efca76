#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// A property every input must keep; a breach is a crash libFuzzer records.
#define FUZZ_CHECK(cond)                                                             \
    do {                                                                             \
        if (!(cond)) {                                                               \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                            \
        }                                                                            \
    } while (0)

// A command line from an input: its arguments are the pieces between zero
// bytes, so every list of arguments is reachable.
inline std::vector<std::string> fuzz_arguments(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back().push_back(static_cast<char>(data[i]));
    }
    return args;
}
