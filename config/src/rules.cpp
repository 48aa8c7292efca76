#include "zrn/config/rules.h"

#include "zrn/device_config.h"
#include "zrn/device_types.h"
#include "zrn/text.h"

namespace zrn::config {

namespace {

bool is_serial(std::int32_t id) { return id == kDeviceIdSerialII || id == kDeviceIdSmartSerial; }

}  // namespace

std::string_view port_prefix(std::int32_t device_id) {
    if (is_serial(device_id)) return "COM";
    if (device_id == kDeviceIdParallel) return "LPT";
    return {};
}

std::int32_t port_number(std::int32_t device_id, std::string_view text) {
    const std::string_view prefix = port_prefix(device_id);
    const int count = is_serial(device_id) ? 4 : device_id == kDeviceIdParallel ? 2 : 0;
    for (int i = 1; i <= count; ++i)
        if (text == std::string(prefix) + std::to_string(i)) return i;
    return -1;
}

std::vector<PortConflict> find_port_conflicts(DeviceStore& store, std::string_view own_key, std::int32_t device_id,
                                              std::int32_t port) {
    std::vector<PortConflict> conflicts;
    if (port_prefix(device_id).empty() || port < 0) return conflicts;
    std::vector<std::string> keys;
    if (store.enum_device_keys(&keys) != DeviceStore::kEnumerated) return conflicts;
    for (const std::string& other : keys) {
        if (other == own_key) continue;
        platform::RegKey key = 0;
        if (store.open_device_key(other, &key) != DeviceStore::kOpened) continue;
        std::string id_text, port_text;
        const bool read = store.read_text(key, "DeviceID", &id_text) != DeviceStore::kNotRead &&
                          store.read_text(key, "Port", &port_text) != DeviceStore::kNotRead;
        store.close_key(key);
        if (!read) continue;
        const std::int32_t id = decimal_value(id_text);
        const bool same_kind = is_serial(device_id) ? is_serial(id) : id == kDeviceIdParallel;
        if (same_kind && decimal_value(port_text) == port) conflicts.push_back({other, port});
    }
    return conflicts;
}

bool logical_name_taken(DeviceStore& store, std::string_view device_key, std::string_view name) {
    return store.test_logical_name(device_key, name) == DeviceStore::kNameTaken ||
           store.value_name_taken_any_case(name);
}

bool device_key_allowed(std::string_view key) {
    const DeviceType* type = device_type_of(key);
    if (type == nullptr) return false;
    if (type->DeviceID == kDeviceIdUsb) return key == kUsbDeviceKey;
    if (key.size() == kTypeKeyLength) return true;
    return key.size() == kTypeKeyLength + 2 && key[kTypeKeyLength] == '-' && key.back() >= '2' && key.back() <= '9';
}

std::vector<std::string_view> changeable_settings(std::int32_t device_id) {
    std::vector<std::string_view> names;
    for (const config::Setting& s : config::settings_of(device_id)) {
        // The parallel page shows no status boxes (its Status stays the
        // default) and a USB entry's port is fixed by its name.
        if (s.name == "Status" && !is_serial(device_id)) continue;
        if (s.name == "Port" && device_id == kDeviceIdUsb) continue;
        names.push_back(s.name);
    }
    return names;
}

Removal remove_device(DeviceStore& store, UsbConfig& usb, std::string_view device_key) {
    Removal r;
    store.clear_failure();
    store.delete_device_key(device_key);
    // The store does not tell whether the key itself went; a device still in
    // the registry keeps its names and USB slot.
    platform::RegKey still = 0;
    if (store.open_device_key(device_key, &still) == DeviceStore::kOpened) {
        store.close_key(still);
        r.status = store.last_failure() != platform::kRegOk ? store.last_failure() : platform::kRegAccessDenied;
        return r;
    }
    r.removed = true;
    store.clear_failure();
    while (store.remove_logical_name(device_key, "*") == DeviceStore::kNameRemoved) {
    }
    store.read_logical_names(device_key, &r.names_left);
    if (!r.names_left.empty()) r.names_status = store.last_failure();
    const DeviceType* type = device_type_of(device_key);
    if (type != nullptr && type->DeviceID == kDeviceIdUsb) r.usb = usb.release_slot(device_key);
    return r;
}

ChangeHold::ChangeHold(DeviceStore& store, Prompter& prompter, std::string_view who)
    : hold_(store.config_lock(), kWindowLockWaitMs, who) {
    if (hold_.held()) return;
    const std::string text =
        hold_.status() == platform::ConfigLock::Status::Busy
            ? "The cash drawer configuration is being changed by " + hold_.holder() +
                  ".\n\nNothing was changed. Try again when it has finished."
            : "The cash drawer configuration cannot be locked for a change: " + hold_.holder() +
                  ".\n\nNothing was changed.";
    prompter.ask(text, "QVTUtility", Buttons::Ok, Icon::Warning);
}

}  // namespace zrn::config
