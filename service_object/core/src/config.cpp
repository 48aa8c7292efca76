#include "zrn/so/config.h"

#include "zrn/device_types.h"
#include "zrn/text.h"

namespace zrn::so {

using platform::kRegOk;
using platform::Registry;
using platform::ScopedKey;

namespace {

constexpr std::size_t kValueBuffer = 1024;

void read_number(Registry& reg, platform::RegKey key, const char* name, std::int32_t* out) {
    std::string text;
    if (platform::query_text(reg, key, name, kValueBuffer, &text) == kRegOk) *out = decimal_value(text);
}

// False when the text is longer than max (the value is then left alone).
bool read_text(Registry& reg, platform::RegKey key, const char* name, std::size_t max, std::string* out) {
    std::string text;
    if (platform::query_text(reg, key, name, kValueBuffer, &text) != kRegOk) return true;
    if (text.size() > max) return false;
    *out = std::move(text);
    return true;
}

}  // namespace

bool read_service_settings(Registry& reg, ServiceSettings* settings) {
    ScopedKey key(reg);
    if (reg.open_key(platform::kHklm, kServiceSettingsKey, false, key.out()) != kRegOk) return false;
    std::string path;
    if (platform::query_text(reg, key.get(), "TargetPath", kTargetPathMax + 1, &path) != kRegOk) return false;
    std::string unquoted;
    for (char c : path)
        if (c != '"') unquoted.push_back(c);
    settings->TargetPath = std::move(unquoted);

    platform::RegData d;
    if (reg.query_value(key.get(), "TraceEnabled", 256, &d) != kRegOk) return false;
    // The first four bytes as a signed number; shorter data is zero-extended.
    std::uint32_t raw = 0;
    for (std::size_t i = 0; i < 4 && i < d.bytes.size(); ++i) raw |= static_cast<std::uint32_t>(d.bytes[i]) << (8 * i);
    settings->TraceEnabled = static_cast<std::int32_t>(raw);
    return true;
}

LogicalNames read_logical_names(Registry& reg) {
    LogicalNames names;
    ScopedKey key(reg);
    if (reg.open_key(platform::kHklm, kDeviceClassKey, false, key.out()) != kRegOk) return names;
    std::string name;
    platform::RegData data;
    for (std::uint32_t i = 0; reg.enum_value(key.get(), i, &name, &data) == kRegOk; ++i) {
        std::string target = value_as_text(data.type, data.bytes);
        if (device_type_of(target)) names.emplace_back(name, std::move(target));
    }
    return names;
}

std::string translate_device_name(const LogicalNames& names, const std::string& name) {
    for (const auto& [logical, device] : names)
        if (logical == name) return device;
    return name;
}

EntryRead read_device_entry(Registry& reg, const std::string& device_key, DeviceConfig* c, DriverParamBlock* b) {
    ScopedKey key(reg);
    const std::string path = std::string(kDeviceClassKey) + "\\" + device_key;
    if (reg.open_key(platform::kHklm, path, false, key.out()) != kRegOk) return EntryRead::NoKey;
    const platform::RegKey k = key.get();
    bool fits = true;
    read_number(reg, k, "DeviceID", &c->DeviceID);
    const auto serial = [&] {
        read_number(reg, k, "Port", &c->Port);
        read_number(reg, k, "BaudRate", &c->BaudRate);
        read_number(reg, k, "DataBitLen", &c->DataBitLen);
        read_number(reg, k, "StopBits", &c->StopBits);
        read_number(reg, k, "HandShaking", &c->HandShaking);
        read_number(reg, k, "Parity", &c->Parity);
        fits &= read_text(reg, k, "FirstOC", kFirstOCMax, &c->FirstOC);
    };
    switch (c->DeviceID) {
        case kDeviceIdSerialII:
            serial();
            break;
        case kDeviceIdSmartSerial:
            serial();
            fits &= read_text(reg, k, "SecondOC", kSecondOCMax, &c->SecondOC);
            read_number(reg, k, "DrawerNo", &c->DrawerNo);
            break;
        case kDeviceIdParallel:
            read_number(reg, k, "Port", &c->Port);
            fits &= read_text(reg, k, "FirstOC", kFirstOCMax, &c->FirstOC);
            fits &= read_text(reg, k, "SecondOC", kSecondOCMax, &c->SecondOC);
            read_number(reg, k, "DrawerNo", &c->DrawerNo);
            break;
        default:
            break;
    }
    read_number(reg, k, "Status", &c->Status);
    std::string desc;
    if (platform::query_text(reg, k, "DeviceDesc", kValueBuffer, &desc) == kRegOk)
        c->DeviceDesc = desc.substr(0, kDeviceDescMax);  // a description only: shortened, never refused
    fits &= read_text(reg, k, "DeviceName", kDeviceNameMax, &c->DeviceName);

    c->CapStatus = c->DeviceID == kDeviceIdSerialII || c->DeviceID == kDeviceIdSmartSerial || c->DeviceID == kDeviceIdUsb;
    c->CapStatusMultiDrawerDetect = c->DeviceID == kDeviceIdSmartSerial || c->DeviceID == kDeviceIdUsb;

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
    return fits ? EntryRead::Ok : EntryRead::BadText;
}

}  // namespace zrn::so
