#include "zrn/device_config.h"

#include "zrn/text.h"

namespace zrn::config {

using platform::kRegOk;
using platform::Registry;
using platform::RegKey;
using platform::RegStatus;
using platform::ScopedKey;

namespace {

void read_number(Registry& reg, RegKey key, const char* name, std::int32_t* out) {
    std::string text;
    if (read_text(reg, key, name, &text) == kRegOk) *out = decimal_value(text);
}

// False when the text is longer than max (the value is then left alone).
bool read_field(Registry& reg, RegKey key, const char* name, std::size_t max, std::string* out) {
    std::string text;
    if (read_text(reg, key, name, &text) != kRegOk) return true;
    if (text.size() > max) return false;
    *out = std::move(text);
    return true;
}

std::string device_key_path(std::string_view device_key) {
    std::string path(kDeviceClassKey);
    path += '\\';
    path += device_key;
    return path;
}

}  // namespace

RegStatus read_text(Registry& reg, RegKey key, std::string_view name, std::string* text) {
    return platform::query_text(reg, key, name, kValueBuffer, text);
}

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

EntryRead read_device_entry(Registry& reg, std::string_view device_key, DeviceConfig* c) {
    ScopedKey key(reg);
    if (reg.open_key(platform::kHklm, device_key_path(device_key), false, key.out()) != kRegOk) return EntryRead::NoKey;
    const RegKey k = key.get();
    bool fits = true;
    read_number(reg, k, "DeviceID", &c->DeviceID);
    const auto serial = [&] {
        read_number(reg, k, "Port", &c->Port);
        read_number(reg, k, "BaudRate", &c->BaudRate);
        read_number(reg, k, "DataBitLen", &c->DataBitLen);
        read_number(reg, k, "StopBits", &c->StopBits);
        read_number(reg, k, "HandShaking", &c->HandShaking);
        read_number(reg, k, "Parity", &c->Parity);
        fits &= read_field(reg, k, "FirstOC", kFirstOCMax, &c->FirstOC);
    };
    switch (c->DeviceID) {
        case kDeviceIdSerialII:
            serial();
            break;
        case kDeviceIdSmartSerial:
            serial();
            fits &= read_field(reg, k, "SecondOC", kSecondOCMax, &c->SecondOC);
            read_number(reg, k, "DrawerNo", &c->DrawerNo);
            break;
        case kDeviceIdParallel:
            read_number(reg, k, "Port", &c->Port);
            fits &= read_field(reg, k, "FirstOC", kFirstOCMax, &c->FirstOC);
            fits &= read_field(reg, k, "SecondOC", kSecondOCMax, &c->SecondOC);
            read_number(reg, k, "DrawerNo", &c->DrawerNo);
            break;
        default:
            break;
    }
    read_number(reg, k, "Status", &c->Status);
    std::string desc;
    if (read_text(reg, k, "DeviceDesc", &desc) == kRegOk)
        c->DeviceDesc = desc.substr(0, kDeviceDescMax);  // a description only: shortened, never refused
    fits &= read_field(reg, k, "DeviceName", kDeviceNameMax, &c->DeviceName);

    c->CapStatus =
        c->DeviceID == kDeviceIdSerialII || c->DeviceID == kDeviceIdSmartSerial || c->DeviceID == kDeviceIdUsb;
    c->CapStatusMultiDrawerDetect = c->DeviceID == kDeviceIdSmartSerial || c->DeviceID == kDeviceIdUsb;
    return fits ? EntryRead::Ok : EntryRead::BadText;
}

RegStatus write_text(Registry& reg, RegKey key, std::string_view name, std::string_view text) {
    return platform::set_sz(reg, key, name, text);
}

RegStatus write_number(Registry& reg, RegKey key, std::string_view name, std::int32_t number) {
    return platform::set_dword(reg, key, name, static_cast<std::uint32_t>(number));
}

bool write_service_settings(Registry& reg, const ServiceSettings& settings) {
    ScopedKey key(reg);
    if (reg.create_key(platform::kHklm, kServiceSettingsKey, "", key.out(), nullptr) != kRegOk) return false;
    const bool path = write_text(reg, key.get(), "TargetPath", settings.TargetPath) == kRegOk;
    const bool trace = write_number(reg, key.get(), "TraceEnabled", settings.TraceEnabled) == kRegOk;
    return path && trace;
}

DeviceEntry default_entry(std::string_view device_key, const DeviceType& type) {
    DeviceEntry e;
    e.DeviceName = std::string(device_key);
    e.DeviceID = type.DeviceID;
    e.DeviceDesc = std::string(type.default_desc);
    switch (type.DeviceID) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial:
            e.Port = 1;
            e.BaudRate = 5;  // 9600
            e.DataBitLen = 8;
            e.StopBits = 1;
            e.FirstOC = type.DeviceID == kDeviceIdSerialII ? "7" : "91";
            if (type.DeviceID == kDeviceIdSmartSerial) {
                e.SecondOC = "91";
                e.DrawerNo = 1;
            }
            break;
        case kDeviceIdParallel:
            e.Port = 1;
            e.FirstOC = "91";
            e.SecondOC = "91";
            e.DrawerNo = 1;
            break;
        default:  // USB: port 0, status only
            break;
    }
    return e;
}

bool write_entry_values(Registry& reg, RegKey key, const DeviceEntry& e) {
    const bool serial = e.DeviceID == kDeviceIdSerialII || e.DeviceID == kDeviceIdSmartSerial;
    const bool smart = e.DeviceID == kDeviceIdSmartSerial;
    const bool parallel = e.DeviceID == kDeviceIdParallel;
    const bool usb = e.DeviceID == kDeviceIdUsb;
    if (!serial && !parallel && !usb) return false;

    bool all = true;
    const auto text = [&](std::string_view name, std::string_view value) {
        all &= write_text(reg, key, name, value) == kRegOk;
    };
    const auto number = [&](std::string_view name, std::int32_t value) {
        all &= write_number(reg, key, name, value) == kRegOk;
    };
    text("", kServiceProgId);
    text("ADKConfig", kAdkConfig);
    text("ServiceVersion", kServiceVersion);
    text("ServiceDesc", kServiceDesc);
    text("DeviceDesc", e.DeviceDesc);
    text("DeviceName", e.DeviceName);
    number("DeviceID", e.DeviceID);
    number("DeviceState", 0);
    text("PortSel", serial ? "1,2,3,4" : parallel ? "1,2" : "USB");
    number("Port", e.Port);
    if (serial) {
        text("BaudRateSel", "1,2,3,4,5,6");
        number("BaudRate", e.BaudRate);
        text("DataBitLenSel", "7,8");
        number("DataBitLen", e.DataBitLen);
        text("StopBitsSel", "1,2");
        number("StopBits", e.StopBits);
        text("ParitySel", "0,1,2");
        number("Parity", e.Parity);
        text("HandShakingSel", "0,1,2");
        number("HandShaking", e.HandShaking);
    }
    text("StatusSel", "0,1,2,3");
    number("Status", e.Status);
    if (serial || parallel) text("FirstOC", e.FirstOC);
    if (smart || parallel) {
        text("SecondOC", e.SecondOC);
        text("DrawerNoSel", "1,2");
        number("DrawerNo", e.DrawerNo);
    }
    number("TimeOut", kTimeOut);
    return all;
}

bool write_device_entry(Registry& reg, const DeviceEntry& entry) {
    ScopedKey key(reg);
    if (reg.create_key(platform::kHklm, device_key_path(entry.DeviceName), "", key.out(), nullptr) != kRegOk)
        return false;
    return write_entry_values(reg, key.get(), entry);
}

bool write_device_value(Registry& reg, std::string_view device_key, std::string_view name, std::string_view text) {
    ScopedKey key(reg);
    if (reg.create_key(platform::kHklm, device_key_path(device_key), "", key.out(), nullptr) != kRegOk) return false;
    return write_text(reg, key.get(), name, text) == kRegOk;
}

bool write_device_value(Registry& reg, std::string_view device_key, std::string_view name, std::int32_t number) {
    ScopedKey key(reg);
    if (reg.create_key(platform::kHklm, device_key_path(device_key), "", key.out(), nullptr) != kRegOk) return false;
    return write_number(reg, key.get(), name, number) == kRegOk;
}

bool write_logical_name(Registry& reg, std::string_view logical_name, std::string_view device_key) {
    ScopedKey key(reg);
    if (reg.create_key(platform::kHklm, kDeviceClassKey, "", key.out(), nullptr) != kRegOk) return false;
    return write_text(reg, key.get(), logical_name, device_key) == kRegOk;
}

}  // namespace zrn::config
