// A configuration document as import reads it: any bytes. What is accepted
// must survive its own export unchanged, and a command line for config
// (the input split at zero bytes) must parse or be refused, never crash.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "zrn/cfg/commands.h"
#include "zrn/cfg/document.h"
#include "zrn/json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    zrn::json::Value doc;
    std::string error;
    if (zrn::json::parse(text, &doc, &error)) {
        // Whatever the parser took, the writer writes back to the same value.
        zrn::json::Value again;
        FUZZ_CHECK(zrn::json::parse(zrn::json::dump(doc, true), &again, &error));
        FUZZ_CHECK(again == doc);
        zrn::cfg::Configuration c;
        std::vector<std::string> errors;
        if (zrn::cfg::from_json(doc, &c, &errors)) {
            FUZZ_CHECK(errors.empty());
            const zrn::json::Value exported = zrn::cfg::to_json(c);
            zrn::cfg::Configuration back;
            FUZZ_CHECK(zrn::cfg::from_json(exported, &back, &errors));
            FUZZ_CHECK(zrn::json::dump(zrn::cfg::to_json(back)) == zrn::json::dump(exported));
        } else {
            FUZZ_CHECK(!errors.empty());
        }
    } else {
        FUZZ_CHECK(error.rfind("line ", 0) == 0);
    }

    std::vector<std::string> args(1);
    for (const char ch : text) {
        if (ch == 0)
            args.emplace_back();
        else
            args.back().push_back(ch);
    }
    zrn::cfg::Command cmd;
    const std::string refused = zrn::cfg::parse_config(args, &cmd);
    if (refused.empty() && !cmd.help) FUZZ_CHECK(!args.empty());
    return 0;
}
