#include "zrn/config/device_store.h"

#include <algorithm>

#include "zrn/device_types.h"
#include "zrn/text.h"

namespace zrn::config {

using platform::kHklm;
using platform::kRegOk;
using platform::RegData;
using platform::RegKey;
using platform::ScopedKey;

namespace {

// "TargetPath" is read through a buffer of 256 bytes and holds a folder of at
// most kTargetPathMax characters.
constexpr std::size_t kTargetPathBuffer = 256;

constexpr std::string_view kSoftwareKey = "SOFTWARE";
static_assert(kDeviceClassKey.starts_with("SOFTWARE\\"));
// The device class key as a path below SOFTWARE.
constexpr std::string_view kClassKeyBelowSoftware = kDeviceClassKey.substr(kSoftwareKey.size() + 1);

constexpr std::string_view kOpenFailedText = "ERROR: Open-1";
constexpr std::string_view kOpenFailedCaption = "Registry Operation Error";

bool any_value_named(const std::vector<ClassValue>& values, std::string_view name) {
    return std::any_of(values.begin(), values.end(), [&](const ClassValue& v) { return v.name == name; });
}

}  // namespace

DeviceStore::Result DeviceStore::open_device_key(std::string_view device_key, RegKey* key) {
    const std::string path = std::string(kDeviceClassKey) + "\\" + std::string(device_key);
    return reg_.open_key(kHklm, path, true, key) == kRegOk ? kOpened : kOpenFailed;
}

DeviceStore::Result DeviceStore::close_key(RegKey key) {
    if (key == 0) return kCloseFailed;
    reg_.close_key(key);
    return kClosed;
}

DeviceStore::Result DeviceStore::enum_device_keys(std::vector<std::string>* names) {
    return config::list_device_keys(reg_, true, names) ? kEnumerated : kClassKeyNotOpened;
}

DeviceStore::Result DeviceStore::next_device_key(std::string_view type_key, std::int32_t* index, std::string* key_name) {
    // Without a device class key there are no devices yet: the first one.
    std::vector<std::string> names;
    enum_device_keys(&names);

    const std::string_view type5 = type_key.substr(0, std::min(type_key.size(), kTypeKeyLength));
    int count = 0;
    std::int32_t next = 0;
    bool limit = false;
    for (const std::string& n : names) {
        const std::string_view name = n;
        if (name.substr(0, std::min(name.size(), kTypeKeyLength)) != type5) continue;
        ++count;
        if (name.size() <= kTypeKeyLength) continue;
        // The index is read from the last character alone.
        const char last = name.back();
        const std::int32_t value = last >= '0' && last <= '9' ? last - '0' : 0;
        if (value >= 9) {
            limit = true;
            break;
        }
        // A suffixed name holds an index of at least 1, so the new key is
        // never the one named by the type key alone; taking the highest index
        // met (not the last) keeps an odd name such as "CD926-X" from sending
        // the new key onto one that exists.
        next = std::max(next, std::max(value + 1, 2));
    }
    if (type_key.starts_with(kUsbDeviceKey)) return kSingleUsbDevice;
    if (limit) return kIndexLimit;
    if (next == 0 && count > 0) next = 2;  // the second device of a type
    *index = next;
    *key_name = std::string(type_key);
    if (next >= 2) *key_name += "-" + std::to_string(next);
    return kCreated;
}

DeviceStore::Result DeviceStore::create_device_key(std::string_view type_key, std::int32_t* index, RegKey* key,
                                            std::string* key_name) {
    std::int32_t next = 0;
    std::string name;
    if (const Result r = next_device_key(type_key, &next, &name); r != kCreated) return r;

    ScopedKey software(reg_);
    if (reg_.open_key(kHklm, kSoftwareKey, true, software.out()) != kRegOk) return kSoftwareKeyNotOpened;
    RegKey created = 0;
    if (reg_.create_key(software.get(), std::string(kClassKeyBelowSoftware) + "\\" + name, "REG_SZ", &created,
                        nullptr) != kRegOk)
        return kKeyNotCreated;
    *index = next;
    *key = created;
    if (key_name) *key_name = std::move(name);
    return kCreated;
}

DeviceStore::Result DeviceStore::write_entry(RegKey key, const config::DeviceEntry& entry) {
    return config::write_entry_values(reg_, key, entry) ? kWritten : kTextNotWritten;
}

DeviceStore::Result DeviceStore::put_entry(const config::DeviceEntry& entry) {
    ScopedKey software(reg_);
    if (reg_.open_key(kHklm, kSoftwareKey, true, software.out()) != kRegOk) return kKeyNotCreated;
    ScopedKey key(reg_);
    if (reg_.create_key(software.get(), std::string(kClassKeyBelowSoftware) + "\\" + entry.DeviceName, "REG_SZ",
                        key.out(), nullptr) != kRegOk)
        return kKeyNotCreated;
    return write_entry(key.get(), entry);
}

DeviceStore::Result DeviceStore::write_text(RegKey key, std::string_view name, std::string_view text) {
    return config::write_text(reg_, key, name, text) == kRegOk ? kWritten : kTextNotWritten;
}

DeviceStore::Result DeviceStore::write_number(RegKey key, std::string_view name, std::int32_t number) {
    return config::write_number(reg_, key, name, number) == kRegOk ? kWritten : kNumberNotWritten;
}

DeviceStore::Result DeviceStore::read_text(RegKey key, std::string_view name, std::string* text) {
    RegData d;
    if (reg_.query_value(key, name, kValueBuffer, &d) != kRegOk) return kNotRead;
    *text = value_as_text(d.type, d.bytes);
    const bool known = d.type == kRegTypeSz || (d.type == kRegTypeDword && d.bytes.size() >= 4);
    return known ? kRead : kOtherType;
}

DeviceStore::Result DeviceStore::delete_device_key(std::string_view device_key) {
    ScopedKey key(reg_);
    if (reg_.open_key(kHklm, kDeviceClassKey, true, key.out()) != kRegOk) return kClassKeyMissing;
    reg_.delete_key(key.get(), device_key);
    return kClassKeyOpened;
}

DeviceStore::Result DeviceStore::test_logical_name(std::string_view device_key, std::string_view logical_name) {
    ScopedKey key(reg_);
    if (reg_.open_key(kHklm, kDeviceClassKey, true, key.out()) != kRegOk) return kNamesNotStored;
    return any_value_named(class_key_values(reg_, key.get()), logical_name) ? kNameTaken : kNameFree;
}

bool DeviceStore::value_name_taken_any_case(std::string_view name) {
    ScopedKey key(reg_);
    if (reg_.open_key(kHklm, kDeviceClassKey, true, key.out()) != kRegOk) return false;
    const auto lower = [](std::string_view s) {
        std::string out(s);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    };
    const std::string wanted = lower(name);
    for (const ClassValue& v : class_key_values(reg_, key.get()))
        if (lower(v.name) == wanted) return true;
    return false;
}

DeviceStore::Result DeviceStore::add_logical_name(std::string_view device_key, std::string_view logical_name) {
    ScopedKey key(reg_);
    if (reg_.open_key(kHklm, kDeviceClassKey, true, key.out()) != kRegOk) return kNamesNotStored;
    if (any_value_named(class_key_values(reg_, key.get()), logical_name)) return kNameTaken;
    // A name the registry refused was not added; saying so lets the caller tell.
    if (config::write_text(reg_, key.get(), logical_name, device_key) != kRegOk) return kNamesNotStored;
    return kNameAdded;
}

DeviceStore::Result DeviceStore::remove_logical_name(std::string_view device_key, std::string_view logical_name) {
    ScopedKey key(reg_);
    if (reg_.open_key(kHklm, kDeviceClassKey, true, key.out()) != kRegOk) return kNamesNotStored;
    for (const ClassValue& v : class_key_values(reg_, key.get())) {
        if (!v.logical || v.text != device_key) continue;
        if (logical_name != "*" && v.name != logical_name) continue;
        return reg_.delete_value(key.get(), v.name) == kRegOk ? kNameRemoved : kNamesNotStored;
    }
    return kNoNameMatched;
}

bool DeviceStore::collect_logical_names(std::string_view device_key, std::vector<std::string>* names,
                                        std::vector<std::string>* data, RegKey* class_key) {
    RegKey key = 0;
    if (reg_.open_key(kHklm, kDeviceClassKey, true, &key) != kRegOk) {
        prompter_.ask(kOpenFailedText, kOpenFailedCaption, Buttons::Ok, Icon::None);
        return false;
    }
    names->clear();
    data->clear();
    for (ClassValue& v : class_key_values(reg_, key)) {
        if (!v.logical || v.text != device_key) continue;
        names->push_back(std::move(v.name));
        data->push_back(std::move(v.text));
    }
    *class_key = key;
    return true;
}

bool DeviceStore::read_logical_names(std::string_view device_key, std::vector<std::string>* names) {
    ScopedKey key(reg_);
    if (reg_.open_key(kHklm, kDeviceClassKey, true, key.out()) != kRegOk) return false;
    names->clear();
    for (ClassValue& v : class_key_values(reg_, key.get()))
        if (v.logical && v.text == device_key) names->push_back(std::move(v.name));
    return true;
}

void DeviceStore::default_logical_names(std::string_view device_key) {
    std::vector<std::string> names, data;
    RegKey key = 0;
    if (!collect_logical_names(device_key, &names, &data, &key)) return;
    for (const std::string& name : names) reg_.delete_value(key, name);
    for (std::string_view name : kDefaultLogicalNames) config::write_text(reg_, key, name, kUsbDeviceKey);
    reg_.close_key(key);
}

std::int32_t DeviceStore::read_target_path(std::string* path) {
    ScopedKey key(reg_);
    if (reg_.open_key(kHklm, kServiceSettingsKey, false, key.out()) != kRegOk) return 0;
    std::string text;
    if (platform::query_text(reg_, key.get(), "TargetPath", kTargetPathBuffer, &text) != kRegOk) return 0;
    std::erase(text, '"');
    // A 256-byte value without its terminating zero names no folder we can use.
    if (text.size() > kTargetPathMax) return 0;
    *path = std::move(text);
    return 1;
}

std::optional<std::int32_t> DeviceStore::read_service_number(std::string_view name) {
    return config::read_service_number(reg_, name);
}

void DeviceStore::read_control_object_info(ControlObjectInfo* info) {
    ScopedKey key(reg_);
    if (reg_.open_key(kHklm, kControlObjectInfoKey, true, key.out()) != kRegOk) return;
    read_text(key.get(), "", &info->description);
    read_text(key.get(), "Version", &info->version);
    info->device_class = "CashDrawer";
}

ServiceObjectInfo DeviceStore::service_object_info() {
    return {std::string(kServiceDesc), "3.38.1 [SD]", "UPOS Standard Release 1.7 (OPOS)"};
}

}  // namespace zrn::config
