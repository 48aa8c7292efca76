// The USB configuration file: parse over any text, and the rewrite that
// releases one slot over any file content.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "zrn/fakes/fake_files.h"
#include "zrn/config/usb_config.h"

using zrn::config::UsbConfig;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the device whose slot is released.
    // "CD730" and "CD730-1" hold slot 0, "CD730-N" slot N-1; "CD730-11": none.
    const int unit = data[0] % 12;
    const std::string key = unit == 0 ? std::string("CD730") : "CD730-" + std::to_string(unit);
    const int slot = unit == 0 ? 0 : unit - 1;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    zrn::fakes::FakeFiles files;
    UsbConfig parsed(files);
    parsed.parse(text);
    FUZZ_CHECK(parsed.slot_names().size() <= text.size());
    for (const auto& s : parsed.slot_names()) FUZZ_CHECK(s.size() <= UsbConfig::kAttributeMax);
    for (const auto& s : parsed.identifiers()) FUZZ_CHECK(s.size() <= UsbConfig::kAttributeMax);

    // What the parser takes in whole composes back to the same pairs.
    if (parsed.complete()) {
        UsbConfig back(files);
        FUZZ_CHECK(back.parse(UsbConfig::compose(parsed.slot_names(), parsed.identifiers())) == UsbConfig::kParsed);
        FUZZ_CHECK(back.complete());
        FUZZ_CHECK(back.slot_names() == parsed.slot_names());
        FUZZ_CHECK(back.identifiers() == parsed.identifiers());
    }

    const std::string path(zrn::config::kUsbConfigPath);
    files.put(path, text);
    UsbConfig config(files);
    const UsbConfig::ReleaseOutcome out = config.release_slot(key);
    const std::string after = files.content(path);
    // A file not understood whole is never rewritten; one without the slot
    // needs no rewrite.
    FUZZ_CHECK(out.done() || after == text);
    FUZZ_CHECK(!files.exists(path + ".new"));
    if (!out.done() || after == text) return 0;
    // The rewrite is the composed text of what it kept, and reads back as
    // exactly that, without the released slot.
    FUZZ_CHECK(after == UsbConfig::compose(config.slot_names(), config.identifiers()));
    UsbConfig again(files);
    FUZZ_CHECK(again.parse(after) == UsbConfig::kParsed);
    FUZZ_CHECK(again.complete());
    FUZZ_CHECK(again.slot_names() == config.slot_names());
    FUZZ_CHECK(again.identifiers() == config.identifiers());
    for (const auto& s : config.slot_names()) FUZZ_CHECK(s != "USB" + std::to_string(slot));
    return 0;
}
