// The readers of the service settings, the logical names and a device entry
// over arbitrary registry values: any type, any size, any bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "zrn/device_config.h"
#include "zrn/device_types.h"
#include "zrn/fakes/fake_registry.h"
#include "zrn/so/config.h"

using namespace zrn;

namespace {

const char* const kNames[] = {"DeviceID", "Port",     "BaudRate",   "DataBitLen", "StopBits",     "HandShaking",
                              "Parity",   "Status",   "FirstOC",    "SecondOC",   "DrawerNo",     "DeviceDesc",
                              "DeviceName", "TargetPath", "TraceEnabled", "",        "CapStatus"};
const char* const kKeys[] = {"CD926", "CD926-2", "CD347", "CD615-3", "CD730", "CD730-10", "cd926", "XX1"};

void put_values(FuzzedDataProvider& in, platform::Registry& reg, std::string_view path, int count) {
    platform::ScopedKey key(reg);
    if (reg.create_key(platform::kHklm, path, "", key.out(), nullptr) != platform::kRegOk) return;
    for (int i = 0; i < count && in.remaining_bytes() > 0; ++i) {
        std::string name = in.ConsumeBool() ? std::string(in.PickValueInArray(kNames)) : in.ConsumeRandomLengthString(40);
        platform::RegData d;
        d.type = in.ConsumeIntegralInRange<std::uint32_t>(0, 12);
        const std::string bytes = in.ConsumeRandomLengthString(600);
        d.bytes.assign(bytes.begin(), bytes.end());
        reg.set_value(key.get(), name, d);
    }
}

bool terminated(const char* field, std::size_t size) { return std::memchr(field, 0, size) != nullptr; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    fakes::FakeRegistry reg;
    const std::string key = in.PickValueInArray(kKeys);
    put_values(in, reg, kServiceSettingsKey, in.ConsumeIntegralInRange(0, 4));
    put_values(in, reg, kDeviceClassKey, in.ConsumeIntegralInRange(0, 4));
    put_values(in, reg, std::string(kDeviceClassKey) + "\\" + key, in.ConsumeIntegralInRange(0, 20));

    config::ServiceSettings settings;
    config::read_service_settings(reg, &settings);
    FUZZ_CHECK(settings.TargetPath.find('"') == std::string::npos);

    const config::LogicalNames names = config::read_logical_names(reg);
    const std::string asked = in.ConsumeRandomLengthString(40);
    const std::string translated = config::translate_device_name(names, asked);
    const std::string stored = config::stored_key_name(reg, translated).value_or(translated);
    FUZZ_CHECK(stored.size() == translated.size());

    config::DeviceConfig c;
    const config::EntryRead read = config::read_device_entry(reg, key, &c);
    if (read == config::EntryRead::Ok) {
        FUZZ_CHECK(c.FirstOC.size() <= config::kFirstOCMax);
        FUZZ_CHECK(c.SecondOC.size() <= config::kSecondOCMax);
        FUZZ_CHECK(c.DeviceDesc.size() <= config::kDeviceDescMax);
        FUZZ_CHECK(c.DeviceName.size() <= config::kDeviceNameMax);
    }

    config::DeviceConfig sc;
    DriverParamBlock block;
    std::memset(&block, 0x5a, sizeof block);  // fields not read keep their contents
    so::read_device_entry(reg, key, &sc, &block);
    FUZZ_CHECK(terminated(block.Device.FirstOC, sizeof block.Device.FirstOC) ||
               std::memchr(block.Device.FirstOC, 0x5a, 1) != nullptr);
    return 0;
}
