#include "zrn/so/config.h"

#include "zrn/device_types.h"
#include "zrn/text.h"

namespace zrn::so {

namespace {
char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool same_ignoring_case(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}
}  // namespace

std::string stored_device_key_name(platform::Registry& reg, const std::string& device_key) {
    platform::ScopedKey cls(reg);
    if (reg.open_key(platform::kHklm, kDeviceClassKey, false, cls.out()) != platform::kRegOk) return device_key;
    std::string name;
    for (std::uint32_t i = 0; reg.enum_key(cls.get(), i, &name) == platform::kRegOk; ++i) {
        if (name == device_key) return name;
        if (same_ignoring_case(name, device_key)) return name;
    }
    return device_key;
}

EntryRead read_device_entry(platform::Registry& reg, const std::string& device_key, DeviceConfig* c,
                            DriverParamBlock* b) {
    const EntryRead read = config::read_device_entry(reg, device_key, c);
    if (read == EntryRead::NoKey) return read;

    // The block mirrors what was read for this DeviceID; fields not read keep
    // their previous contents.
    DeviceRecord& d = b->Device;
    d.DeviceID = c->DeviceID;
    if (c->DeviceID == kDeviceIdSerialII || c->DeviceID == kDeviceIdSmartSerial) {
        d.Port = c->Port;
        d.BaudRate = c->BaudRate;
        d.DataBitLen = c->DataBitLen;
        d.StopBits = c->StopBits;
        d.HandShaking = c->HandShaking;
        d.Parity = c->Parity;
        copy_field(d.FirstOC, c->FirstOC);
    }
    if (c->DeviceID == kDeviceIdSmartSerial || c->DeviceID == kDeviceIdParallel) {
        copy_field(d.SecondOC, c->SecondOC);
        d.DrawerNo = c->DrawerNo;
    }
    if (c->DeviceID == kDeviceIdParallel) {
        d.Port = c->Port;
        copy_field(d.FirstOC, c->FirstOC);
    }
    d.Status = c->Status;
    copy_field(d.DeviceDesc, c->DeviceDesc);
    copy_field(d.DeviceName, c->DeviceName);
    return read;
}

}  // namespace zrn::so
