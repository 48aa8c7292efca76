#include "zrn/utility/main_presenter.h"

#include <algorithm>
#include <array>
#include <optional>

#include "zrn/device_types.h"
#include "zrn/text.h"
#include "zrn/config/rules.h"
#include "zrn/config/values.h"

namespace zrn::utility {

namespace {

constexpr int kStatusWidthDevice = 400;
constexpr int kStatusWidthRoot = 300;


// The table's text for the number the Service Object takes from the stored
// text. A number the table does not know shows as stored: a text kept from
// another device, or a guessed name, would misstate what the device holds.
template <std::size_t N>
std::string table_text(const std::array<std::string_view, N>& table, std::int32_t first, const std::string& stored) {
    const std::int64_t i = std::int64_t{decimal_value(stored)} - first;
    if (i < 0 || i >= static_cast<std::int64_t>(N)) return stored;
    return std::string(table[static_cast<std::size_t>(i)]);
}

std::string number_text(const std::string& stored) {
    return std::to_string(decimal_value(stored));
}

// Ports a type names: COM1 to COM4 for the serial types, LPT1 and LPT2 for
// the parallel one; any other number shows as stored.
std::string port_text(std::int32_t device_id, const std::string& stored) {
    const std::int32_t n = decimal_value(stored);
    switch (device_id) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial:
            return n >= 1 && n <= 4 ? "COM" + std::to_string(n) : stored;
        case kDeviceIdParallel:
            return n >= 1 && n <= 2 ? "LPT" + std::to_string(n) : stored;
        default:
            return "USB" + std::to_string(n);
    }
}

// Ascending by the trimmed names' bytes; of names equal once trimmed the
// first enumerated stays, with its blanks.
void sort_and_drop_equal(std::vector<std::string>* names) {
    const auto less = [](const std::string& a, const std::string& b) {
        const std::string_view ta = trim_blanks(a), tb = trim_blanks(b);
        // Byte-wise: char may be signed, the comparison is on unsigned bytes.
        return std::lexicographical_compare(ta.begin(), ta.end(), tb.begin(), tb.end(), [](char x, char y) {
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
        });
    };
    std::stable_sort(names->begin(), names->end(), less);
    const auto equal = [](const std::string& a, const std::string& b) { return trim_blanks(a) == trim_blanks(b); };
    names->erase(std::unique(names->begin(), names->end(), equal), names->end());
}

}  // namespace

void LeftViewPresenter::fill_tree() {
    devices_.clear();
    RootItem = next_id_++;
    caret_ = kNoItem;
    SelectedItem = kNoItem;
    LastInsertedItem = kNoItem;
    // An unreadable class key leaves the root alone.
    std::vector<std::string> keys;
    if (store_.enum_device_keys(&keys) == config::DeviceStore::kEnumerated) DeviceKeys = std::move(keys);
    for (const std::string& key : DeviceKeys)
        if (device_type_of(key) != nullptr) devices_.push_back(TreeItem{next_id_++, key});
    EnableAddDevice = true;
    set_device_flags(false);
}

std::vector<TreeItem> LeftViewPresenter::items() const {
    std::vector<TreeItem> all;
    if (RootItem == kNoItem) return all;
    all.push_back(TreeItem{RootItem, std::string(kRootText)});
    all.insert(all.end(), devices_.begin(), devices_.end());
    return all;
}

std::string LeftViewPresenter::text_of(ItemId item) const {
    if (item != kNoItem && item == RootItem) return std::string(kRootText);
    for (const TreeItem& d : devices_)
        if (d.id == item) return d.text;
    return {};
}

bool LeftViewPresenter::is_device(ItemId item) const {
    return std::any_of(devices_.begin(), devices_.end(), [&](const TreeItem& d) { return d.id == item; });
}

void LeftViewPresenter::set_device_flags(bool enabled) {
    EnableLdn = enabled;
    EnableRemoveDevice = enabled;
    EnableModifySettings = enabled;
    EnableCheckHealth = enabled;
}

void LeftViewPresenter::on_selection_changed(ItemId item) {
    caret_ = item == RootItem || is_device(item) ? item : kNoItem;
    refresh_list();
}

void LeftViewPresenter::select(ItemId item) {
    if (item == caret_) return;
    on_selection_changed(item);
}

void LeftViewPresenter::refresh_list() {
    SelectedItem = caret_;
    SelectedText = text_of(SelectedItem);
    EnableAddDevice = true;
    list.columns.clear();
    list.rows.clear();

    // Without a caret there is nothing to act on: shown as the root is.
    if (!is_device(SelectedItem)) {
        set_device_flags(false);
        list.mode = ListMode::List;
        status = StatusPane{std::string(kRootStatusText), kStatusWidthRoot};
        return;
    }

    set_device_flags(true);
    list.mode = ListMode::Report;
    list.columns = {{"Description", 195}, {"Value", 265}};
    status = StatusPane{SelectedText, kStatusWidthDevice};

    const DeviceType* type = device_type_of(SelectedText);
    read_device_values(SelectedText, type->DeviceID);
    // Names read for another device are never shown for this one: an
    // unreadable class key shows none.
    DeviceLdns.clear();
    store_.read_logical_names(SelectedText, &DeviceLdns);
    fill_rows(type->DeviceID);
}

void LeftViewPresenter::read_device_values(std::string_view key, std::int32_t device_id) {
    // Nothing carries over from the device shown before: what this one does
    // not hold shows as missing, never as another device's value.
    const std::string missing(kMissingValueText);
    RowDeviceName = RowPort = RowSerialSettings = RowStatusIndicator = missing;
    RowOpenChar1 = RowOpenChar2 = RowDrawerNumber = missing;
    platform::RegKey k = 0;
    if (store_.open_device_key(key, &k) != config::DeviceStore::kOpened) return;
    // A value of another registry type reads as "?": that is a value too.
    const auto read = [&](std::string_view name) -> std::optional<std::string> {
        std::string text;
        const std::int32_t r = store_.read_text(k, name, &text);
        if (r != config::DeviceStore::kRead && r != config::DeviceStore::kOtherType) return std::nullopt;
        return text;
    };

    if (auto v = read("Port")) RowPort = port_text(device_id, *v);
    if (auto v = read("DeviceDesc")) RowDeviceName = *v;

    const bool serial = device_id == kDeviceIdSerialII || device_id == kDeviceIdSmartSerial;
    if (serial) {
        const auto baud = read("BaudRate");
        const auto data_bits = read("DataBitLen");
        const auto stop_bits = read("StopBits");
        const auto parity = read("Parity");
        const auto hand_shaking = read("HandShaking");
        // One text of five parts; a part the entry lacks shows as missing in
        // its place, so the others keep theirs.
        if (baud || data_bits || stop_bits || parity || hand_shaking) {
            const auto part = [&](const std::optional<std::string>& v, auto&& text) {
                return v ? text(*v) : missing;
            };
            RowSerialSettings = part(baud, [](const std::string& v) { return table_text(config::kBaudRateItems, 1, v); }) + "," +
                                part(data_bits, number_text) + "," + part(stop_bits, number_text) + "," +
                                part(parity, [](const std::string& v) { return table_text(config::kParityItems, 0, v); }) +
                                "," +
                                part(hand_shaking,
                                     [](const std::string& v) { return table_text(config::kHandShakingTexts, 0, v); });
        }
        if (auto v = read("Status")) RowStatusIndicator = table_text(config::kStatusTexts, 0, *v);
    }
    if (serial || device_id == kDeviceIdParallel) {
        if (auto v = read("FirstOC")) RowOpenChar1 = *v;
    }
    if (device_id == kDeviceIdSmartSerial || device_id == kDeviceIdParallel) {
        if (auto v = read("SecondOC")) RowOpenChar2 = *v;
        if (auto v = read("DrawerNo")) RowDrawerNumber = number_text(*v);
    }
    store_.close_key(k);
}

void LeftViewPresenter::fill_rows(std::int32_t device_id) {
    auto& rows = list.rows;
    rows.push_back({"Device Name", RowDeviceName});
    rows.push_back({"Port", RowPort});
    switch (device_id) {
        case kDeviceIdSerialII:
            rows.push_back({"Serial Settings", RowSerialSettings});
            rows.push_back({"Status Indicator", RowStatusIndicator});
            rows.push_back({"ASCII Open Drawer Character", RowOpenChar1});
            break;
        case kDeviceIdSmartSerial:
            rows.push_back({"Serial Settings", RowSerialSettings});
            rows.push_back({"Status Indicator", RowStatusIndicator});
            rows.push_back({"ASCII Open Character1", RowOpenChar1});
            rows.push_back({"ASCII Open Drawer Character2", RowOpenChar2});
            rows.push_back({"Drawer Number", RowDrawerNumber});
            break;
        case kDeviceIdParallel:
            rows.push_back({"ASCII Open Drawer Character1", RowOpenChar1});
            rows.push_back({"ASCII Open Drawer Character2", RowOpenChar2});
            rows.push_back({"Drawer Number", RowDrawerNumber});
            break;
        default:
            break;
    }
    if (device_id == kDeviceIdParallel) {
        sort_and_drop_equal(&DeviceLdns);
        for (const std::string& n : DeviceLdns) rows.push_back({"LDN", n});
    } else {
        // The rows go in at the top one by one: the last enumerated ends up first.
        for (auto it = DeviceLdns.rbegin(); it != DeviceLdns.rend(); ++it) rows.push_back({"LDN", *it});
    }
}

void LeftViewPresenter::refresh() {
    std::vector<std::string> keys;
    // A class key that cannot be read any more leaves the root alone.
    store_.enum_device_keys(&keys);
    DeviceKeys = keys;
    std::vector<TreeItem> devices;
    for (const std::string& key : keys) {
        if (device_type_of(key) == nullptr) continue;
        const auto same = std::find_if(devices_.begin(), devices_.end(), [&](const TreeItem& d) { return d.text == key; });
        devices.push_back(same != devices_.end() ? *same : TreeItem{next_id_++, key});
    }
    devices_ = std::move(devices);
    if (LastInsertedItem != kNoItem && !is_device(LastInsertedItem)) LastInsertedItem = kNoItem;
    if (caret_ != RootItem && !is_device(caret_)) caret_ = RootItem;
    refresh_list();
}

void LeftViewPresenter::on_right_click() {
    SelectedItem = caret_;
    SelectedText = text_of(SelectedItem);
}

PopupMenu LeftViewPresenter::on_context_menu(Point requested, Point cursor,
                                             const std::function<ItemId(Point)>& hit_test) {
    const Point at = requested == Point{-1, -1} ? cursor : requested;
    const ItemId hit = hit_test ? hit_test(at) : kNoItem;
    if (hit == RootItem || is_device(hit)) select(hit);
    SelectedItem = caret_;
    SelectedText = text_of(SelectedItem);
    // With no item at the caret the device commands would act on nothing.
    return PopupMenu{is_device(SelectedItem) ? kIdrLevel1 : kIdrLevel0, at};
}

void LeftViewPresenter::on_double_click() {
    SelectedItem = caret_;
    SelectedText = text_of(SelectedItem);
    if (SelectedItem == RootItem) list.rows.clear();
}

bool LeftViewPresenter::is_enabled(int command, bool tree_pane_active) const {
    switch (command) {
        case kIdAppExit:
        case kIdAppAbout:
        case kIdRefresh:
            return true;
        case kIdProperty:
            return tree_pane_active;
        case kIdAddDevice:
            return tree_pane_active && EnableAddDevice;
        case kIdAddLdn:
            return tree_pane_active && EnableLdn;
        case kIdRemoveDevice:
            return tree_pane_active && EnableRemoveDevice;
        case kIdModifySettings:
            return tree_pane_active && EnableModifySettings;
        case kIdCheckHealth:
            return tree_pane_active && EnableCheckHealth;
        default:
            return false;
    }
}

Run LeftViewPresenter::on_command(int command) {
    if (!is_enabled(command)) return Run::Nothing;
    switch (command) {
        case kIdAddDevice:
            return Run::AddDeviceWizard;
        case kIdProperty:
            return Run::PropertyPage;
        case kIdRemoveDevice:
            remove_device();
            return Run::Nothing;
        case kIdRefresh:
            refresh();
            return Run::Nothing;
        case kIdAddLdn:
        case kIdModifySettings:
        case kIdCheckHealth:
            break;
        default:  // Exit and About belong to the frame and the application
            return Run::Nothing;
    }
    SelectedText = text_of(SelectedItem);
    if (!is_device(SelectedItem)) return Run::Nothing;
    DialogDeviceKey = SelectedText;
    if (command == kIdAddLdn) return Run::LdnDialog;
    if (command == kIdModifySettings) return Run::ModifyDialog;
    return Run::CheckHealth;
}

void LeftViewPresenter::on_dialog_closed(Run dialog, bool finished) {
    switch (dialog) {
        case Run::AddDeviceWizard:
            if (finished) add_device_item();
            break;
        case Run::LdnDialog:
        case Run::ModifyDialog:
            // Names and settings may have changed whichever way it closed,
            // and the device itself may be gone (removed by another program
            // while the dialog was open).
            refresh();
            break;
        default:
            break;
    }
}

void LeftViewPresenter::add_device_item() {
    if (device_type_of(DialogDeviceKey) == nullptr) return;
    // The store may open a key of that name that exists already: one item
    // per entry.
    const auto same =
        std::find_if(devices_.begin(), devices_.end(), [&](const TreeItem& d) { return d.text == DialogDeviceKey; });
    if (same != devices_.end()) {
        select(same->id);
        return;
    }
    devices_.push_back(TreeItem{next_id_++, DialogDeviceKey});
    LastInsertedItem = devices_.back().id;
    select(LastInsertedItem);
}

void LeftViewPresenter::remove_device() {
    SelectedText = text_of(SelectedItem);
    if (!is_device(SelectedItem)) return;
    const std::string key = SelectedText;
    const std::string question = "Are you sure you want to remove the\n" + key + " cash drawer device?";
    if (prompter_.ask(question, kMessageCaption, config::Buttons::YesNo, config::Icon::Question) != config::Answer::Yes) return;

    config::Removal removal;
    {
        const config::ChangeHold hold(store_, prompter_);
        if (!hold.held()) return;
        removal = config::remove_device(store_, usb_, key);
    }
    if (!removal.removed) {
        prompter_.ask("The " + key + " cash drawer device could not be removed.\n\n" +
                          store_.failure_words(removal.status),
                      kMessageCaption, config::Buttons::Ok, config::Icon::Error);
        return;
    }
    if (!removal.names_left.empty()) {
        prompter_.ask("The " + key + " cash drawer device was removed, but its logical device names " +
                          join(removal.names_left) + " could not be removed:\n\n" +
                          store_.failure_words(removal.names_status),
                      kMessageCaption, config::Buttons::Ok, config::Icon::Error);
    }
    if (!removal.usb.done()) {
        prompter_.ask("The " + key + " cash drawer device was removed, but its slot in the USB configuration file\n" +
                          std::string(config::kUsbConfigPath) + "\nwas left as it is: " + usb_.why(removal.usb) + ".",
                      kMessageCaption, config::Buttons::Ok, config::Icon::Warning);
    }

    const auto it =
        std::find_if(devices_.begin(), devices_.end(), [&](const TreeItem& d) { return d.id == SelectedItem; });
    const std::size_t at = static_cast<std::size_t>(it - devices_.begin());
    const ItemId removed = it->id;
    devices_.erase(it);
    if (LastInsertedItem == removed) LastInsertedItem = kNoItem;
    // The list must not go on showing a device that is gone: the caret moves
    // to the next device, else the one before, else the root.
    if (caret_ == removed) {
        caret_ = kNoItem;
        const ItemId next = at < devices_.size() ? devices_[at].id : at > 0 ? devices_[at - 1].id : RootItem;
        on_selection_changed(next);
    }
    SelectedItem = caret_;
    SelectedText = text_of(SelectedItem);
    if (devices_.empty()) {
        EnableAddDevice = true;
        set_device_flags(false);
    }
}

}  // namespace zrn::utility
