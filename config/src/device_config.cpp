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

std::optional<std::int32_t> read_service_number(Registry& reg, std::string_view name) {
    ScopedKey key(reg);
    if (reg.open_key(platform::kHklm, kServiceSettingsKey, false, key.out()) != kRegOk) return std::nullopt;
    std::string text;
    if (read_text(reg, key.get(), name, &text) != kRegOk) return std::nullopt;
    return decimal_value(text);
}

std::int32_t read_trace_keep_days(Registry& reg) { return read_service_number(reg, "TraceKeepDays").value_or(0); }

std::vector<ClassValue> class_key_values(Registry& reg, RegKey class_key) {
    std::vector<ClassValue> values;
    std::string name;
    platform::RegData data;
    for (std::uint32_t i = 0; reg.enum_value(class_key, i, &name, &data) == kRegOk; ++i) {
        ClassValue v{name, std::string(), false};
        if (data.bytes.size() <= kValueBuffer) {
            v.text = value_as_text(data.type, data.bytes);
            v.logical = device_type_of(v.text) != nullptr;
        }
        values.push_back(std::move(v));
    }
    return values;
}

LogicalNames read_logical_names(Registry& reg) {
    LogicalNames names;
    ScopedKey key(reg);
    if (reg.open_key(platform::kHklm, kDeviceClassKey, false, key.out()) != kRegOk) return names;
    for (ClassValue& v : class_key_values(reg, key.get()))
        if (v.logical) names.emplace_back(std::move(v.name), std::move(v.text));
    return names;
}

bool list_device_keys(Registry& reg, bool for_change, std::vector<std::string>* keys) {
    keys->clear();
    ScopedKey key(reg);
    if (reg.open_key(platform::kHklm, kDeviceClassKey, for_change, key.out()) != kRegOk) return false;
    std::string name;
    for (std::uint32_t i = 0; reg.enum_key(key.get(), i, &name) == kRegOk; ++i) keys->push_back(name);
    return true;
}

std::vector<std::string> device_keys(Registry& reg) {
    std::vector<std::string> keys;
    list_device_keys(reg, false, &keys);
    return keys;
}

std::optional<std::string> stored_key_name(Registry& reg, std::string_view device_key) {
    const std::vector<std::string> keys = device_keys(reg);
    for (const std::string& k : keys)
        if (k == device_key) return k;
    for (const std::string& k : keys)
        if (equal_ignoring_case(k, device_key)) return k;
    return std::nullopt;
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

DeviceEntry default_settings(std::int32_t device_id) {
    DeviceEntry e;
    switch (device_id) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial:
            e.Port = 1;
            e.BaudRate = 5;  // 9600
            e.DataBitLen = 8;
            e.StopBits = 1;
            e.FirstOC = device_id == kDeviceIdSerialII ? "7" : "91";
            if (device_id == kDeviceIdSmartSerial) {
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

DeviceEntry default_entry(std::string_view device_key, const DeviceType& type) {
    DeviceEntry e = default_settings(type.DeviceID);
    e.DeviceName = std::string(device_key);
    e.DeviceID = type.DeviceID;
    e.DeviceDesc = std::string(type.default_desc);
    return e;
}

std::vector<Setting> settings_of(std::int32_t device_id) {
    const bool serial = device_id == kDeviceIdSerialII || device_id == kDeviceIdSmartSerial;
    const bool smart = device_id == kDeviceIdSmartSerial;
    const bool parallel = device_id == kDeviceIdParallel;
    const bool usb = device_id == kDeviceIdUsb;
    std::vector<Setting> s;
    if (!serial && !parallel && !usb) return s;
    const auto number = [&](std::string_view name, std::string_view sel, std::int32_t DeviceEntry::*field) {
        s.push_back(Setting{name, sel, field, nullptr, 0});
    };
    const auto text = [&](std::string_view name, std::string DeviceEntry::*field, std::size_t max) {
        s.push_back(Setting{name, {}, nullptr, field, max});
    };
    number("Port", serial ? "1,2,3,4" : parallel ? "1,2" : "USB", &DeviceEntry::Port);
    if (serial) {
        number("BaudRate", "1,2,3,4,5,6", &DeviceEntry::BaudRate);
        number("DataBitLen", "7,8", &DeviceEntry::DataBitLen);
        number("StopBits", "1,2", &DeviceEntry::StopBits);
        number("Parity", "0,1,2", &DeviceEntry::Parity);
        number("HandShaking", "0,1,2", &DeviceEntry::HandShaking);
    }
    number("Status", "0,1,2,3", &DeviceEntry::Status);
    if (serial || parallel) text("FirstOC", &DeviceEntry::FirstOC, kFirstOCMax);
    if (smart || parallel) {
        text("SecondOC", &DeviceEntry::SecondOC, kSecondOCMax);
        number("DrawerNo", "1,2", &DeviceEntry::DrawerNo);
    }
    return s;
}

const Setting* find_setting(std::int32_t device_id, std::string_view name) {
    static const std::vector<Setting> by_type[] = {settings_of(0), settings_of(1), settings_of(2), settings_of(3)};
    if (device_id < 0 || device_id > 3) return nullptr;
    for (const Setting& s : by_type[device_id])
        if (s.name == name) return &s;
    return nullptr;
}

bool code_allowed(std::string_view sel, std::int32_t code) {
    if (sel == "USB") return code == 0;
    while (!sel.empty()) {
        const std::size_t comma = sel.find(',');
        std::int32_t allowed = 0;
        if (parse_int32(sel.substr(0, comma), &allowed) && allowed == code) return true;
        if (comma == std::string_view::npos) break;
        sel.remove_prefix(comma + 1);
    }
    return false;
}

bool valid_open_code(std::string_view text) {
    std::int32_t code = 0;
    return text.size() <= 3 && parse_int32(text, &code) && text[0] != '-' && text[0] != '+' && code >= 0 &&
           code <= 255;
}

bool read_stored_entry(Registry& reg, std::string_view device_key, StoredEntry* out) {
    ScopedKey key(reg);
    if (reg.open_key(platform::kHklm, device_key_path(device_key), false, key.out()) != kRegOk) return false;
    *out = StoredEntry{};
    DeviceEntry& e = out->entry;
    e.DeviceID = -1;
    const auto value = [&](std::string_view name, bool number, std::string* text) {
        platform::RegData d;
        const RegStatus st = reg.query_value(key.get(), name, kValueBuffer, &d);
        if (st == platform::kRegNotFound) {
            out->missing.emplace_back(name);
            return false;
        }
        if (st != kRegOk) {
            out->other_type.emplace_back(name);
            return false;
        }
        if (d.type != (number ? kRegTypeDword : kRegTypeSz)) out->other_type.emplace_back(name);
        *text = value_as_text(d.type, d.bytes);
        return true;
    };
    std::string t;
    value("", false, &out->prog_id);
    if (value("DeviceName", false, &t)) e.DeviceName = t;
    if (value("DeviceDesc", false, &t)) e.DeviceDesc = t;
    if (value("DeviceID", true, &t)) e.DeviceID = decimal_value(t);
    for (const Setting& s : settings_of(e.DeviceID)) {
        if (!value(s.name, s.number != nullptr, &t)) continue;
        if (s.number)
            e.*s.number = decimal_value(t);
        else
            e.*s.text = t;
    }
    return true;
}

bool write_entry_values(Registry& reg, RegKey key, const DeviceEntry& e) {
    const std::vector<Setting> settings = settings_of(e.DeviceID);
    if (settings.empty()) return false;

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
    // Each setting after the list of its allowed codes.
    for (const Setting& s : settings) {
        if (s.number) {
            text(std::string(s.name) + "Sel", s.sel);
            number(s.name, e.*s.number);
        } else {
            text(s.name, e.*s.text);
        }
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
