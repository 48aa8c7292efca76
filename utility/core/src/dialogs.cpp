#include "zrn/utility/dialogs.h"

#include <algorithm>
#include <cstdio>

#include "zrn/device_types.h"
#include "zrn/text.h"
#include "zrn/utility/main_presenter.h"
#include "zrn/utility/rules.h"

namespace zrn::utility {

using platform::RegKey;

namespace {

constexpr std::string_view kNameTakenPage1 =
    "The Logical Device Name  '%s'  already      \nexists.  Please use a different name.";
constexpr std::string_view kNameTakenPage2 =
    "The Logical Device Name '%s' already      \nexists.  Please use a different name.";
constexpr std::string_view kUnknownType = "errdlg::Initialization: 0x0002";
constexpr std::string_view kCreateFailed = "errdlg::Initialization: 0x0001";
constexpr std::string_view kSingleInstance =
    "Single instance CD730 supported version.  \n\nDynamic single drawer implementation\n"
    "[SD OPOS ADK Version 3.38.1].  ";
constexpr std::string_view kMissingUsbLibrary = "Error: Missing USB730SO.DLL file";
constexpr std::string_view kUsbNotFound = "The USB Device for DeviceID %s cannot be found";
constexpr std::string_view kBadOpenChar = "Open Character must be an ASCII\r\nvalue between 0 - 255";
constexpr std::string_view kBadOpenCharCaption = "Invalid Open Character";
constexpr std::string_view kConflictCaption = "Port Conflict Notice ";
constexpr std::string_view kRemoveLdnQuestion = "Are you sure you want to remove the\nLDN '%s' ?";

// printf-style formatting of the fixed message texts.
template <typename... Args>
std::string format(std::string_view pattern, Args... args) {
    const std::string p(pattern);
    const int n = std::snprintf(nullptr, 0, p.c_str(), args...);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), p.c_str(), args...);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

template <std::size_t N>
int index_of(const std::array<std::string_view, N>& items, std::string_view text) {
    for (std::size_t i = 0; i < N; ++i)
        if (items[i] == text) return static_cast<int>(i);
    return -1;
}

template <std::size_t N>
std::string item_at(const std::array<std::string_view, N>& items, std::int32_t index) {
    if (index < 0 || index >= static_cast<std::int32_t>(N)) return {};
    return std::string(items[static_cast<std::size_t>(index)]);
}

bool is_serial(std::int32_t type) { return type == kDeviceIdSerialII || type == kDeviceIdSmartSerial; }

// Open characters are written as typed when they are a plain decimal code;
// any other accepted text (letters count as 0) is written as the code the
// Service Object would take from it, so the entry never holds a text longer
// than the Service Object's field for it.
std::string stored_open_char(const std::string& text) {
    if (text.empty()) return text;
    const bool plain = text.size() <= 3 && std::all_of(text.begin(), text.end(), [](char c) {
                           return c >= '0' && c <= '9';
                       });
    return plain ? text : std::to_string(decimal_value(text));
}

}  // namespace

// ---------------------------------------------------------------- page 1

void AddDevicePagePresenter::open() {
    ModelItems.assign(kModelTexts.begin(), kModelTexts.end());
    Upos = true;
    ModelIndex = 0;
    for (std::size_t i = 0; i < std::size(kDeviceTypes); ++i)
        if (kDeviceTypes[i].key == TypeKey) ModelIndex = static_cast<int>(i);
}

void AddDevicePagePresenter::on_model_selected(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(kDeviceTypes))) return;
    ModelIndex = index;
    TypeKey = std::string(kDeviceTypes[index].key);
}

int AddDevicePagePresenter::on_next() {
    LogicalName = std::string(trim_blanks(LogicalName));
    if (TypeKey.empty()) TypeKey = std::string(kDeviceTypes[0].key);
    if (!LogicalName.empty() && logical_name_taken(store_, TypeKey, LogicalName)) {
        prompter_.ask(format(kNameTakenPage1, LogicalName.c_str()), kMessageCaption, Buttons::Ok, Icon::Error);
        return kStayOpen;
    }
    MasterId = TypeKey;
    if (ShowMasterId) ShowMasterId();
    clock_.sleep_ms(50);  // lets the user see the key before the page goes
    return kResultOk;
}

// ---------------------------------------------------------------- settings pages

DeviceSettingsPresenter::~DeviceSettingsPresenter() {
    if (usb_loaded_ && usb_ != nullptr) usb_->unload();
}

void DeviceSettingsPresenter::set_target(std::string key, std::string logical_name) {
    target_ = std::move(key);
    logical_name_ = std::move(logical_name);
}

std::string DeviceSettingsPresenter::Title() const {
    return mode_ == SettingsMode::Add ? "Add New Cash Drawer Device Settings" : "Modify Cash Drawer Device Settings";
}

std::string DeviceSettingsPresenter::usb_port_text() const {
    std::int32_t n = 0;
    if (entry_key_.size() > kTypeKeyLength) {
        const char last = entry_key_.back();
        n = last >= '1' && last <= '9' ? last - '0' - 1 : 0;
    }
    return "USB" + std::to_string(n);
}

void DeviceSettingsPresenter::fill_lists() {
    PortItems.clear();
    HandShakingItemsShown.assign(kHandShakingItems.begin(), kHandShakingItems.end());
    Enabled = SettingsEnabling{};
    switch (type_) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial:
            PortItems = {"COM1", "COM2", "COM3", "COM4"};
            PortGroupCaption = " COM Port Setting ";
            Enabled.communication = true;
            Enabled.status = true;
            Enabled.drawer = type_ == kDeviceIdSmartSerial;
            Enabled.first_oc = true;
            Enabled.second_oc = type_ == kDeviceIdSmartSerial;
            break;
        case kDeviceIdParallel:
            PortItems = {"LPT1", "LPT2"};
            PortGroupCaption = " LPT Port Setting ";
            Enabled.drawer = true;
            Enabled.first_oc = true;
            Enabled.second_oc = true;
            break;
        default:
            PortGroupCaption = " USB Port Setting ";
            if (mode_ == SettingsMode::Modify) PortItems = {usb_port_text()};
            break;
    }
}

void DeviceSettingsPresenter::show_defaults() {
    config::DeviceEntry v;
    v.Status = 0;
    if (is_serial(type_)) {
        v.Port = 1;
        v.BaudRate = 5;
        v.DataBitLen = 8;
        v.StopBits = 1;
        v.Parity = 0;
        v.HandShaking = 0;
        v.FirstOC = type_ == kDeviceIdSerialII ? "7" : "91";
        if (type_ == kDeviceIdSmartSerial) {
            v.SecondOC = "91";
            v.DrawerNo = 1;
        }
    } else if (type_ == kDeviceIdParallel) {
        v.Port = 1;
        v.FirstOC = "91";
        v.SecondOC = "91";
        v.DrawerNo = 1;
    }
    values_ = v;
    Port = BaudRate = DataBits = StopBits = Parity = HandShaking = DrawerNo = FirstOC = SecondOC = "";
    show_values();
}

void DeviceSettingsPresenter::show_values() {
    const config::DeviceEntry& v = values_;
    switch (type_) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial:
            Port = v.Port >= 1 && v.Port <= 4 ? "COM" + std::to_string(v.Port) : "";
            BaudRate = item_at(kBaudRateItems, v.BaudRate - 1);
            DataBits = v.DataBitLen == 7 || v.DataBitLen == 8 ? std::to_string(v.DataBitLen) : "";
            StopBits = v.StopBits == 1 || v.StopBits == 2 ? std::to_string(v.StopBits) : "";
            Parity = item_at(kParityItems, v.Parity);
            if (v.HandShaking == 2) {
                HandShaking = kHandShakingXonXoff;
                HandShakingItemsShown.assign(kHandShakingItems.begin(), kHandShakingItems.end());
                HandShakingItemsShown.emplace_back(kHandShakingXonXoff);
            } else {
                HandShaking = item_at(kHandShakingItems, v.HandShaking);
            }
            FirstOC = v.FirstOC;
            if (type_ == kDeviceIdSmartSerial) {
                SecondOC = v.SecondOC;
                DrawerNo = v.DrawerNo == 0 ? "" : std::to_string(v.DrawerNo);
            }
            break;
        case kDeviceIdParallel:
            Port = v.Port >= 1 && v.Port <= 2 ? "LPT" + std::to_string(v.Port) : "";
            FirstOC = v.FirstOC;
            SecondOC = v.SecondOC;
            DrawerNo = v.DrawerNo == 0 ? "" : std::to_string(v.DrawerNo);
            break;
        default:
            Port = PortItems.empty() ? "" : PortItems.front();
            break;
    }
    // The check boxes stand for the drawer-sense lines of a serial drawer;
    // a new entry of any type shows its default.
    if (is_serial(type_) || mode_ == SettingsMode::Add) {
        Cts = v.Status == 0 || v.Status == 2 || v.Status < 0 || v.Status > 3;
        Ring = v.Status == 1 || v.Status == 2;
    }
    HandShakingEnabled = !Cts;
}

int DeviceSettingsPresenter::open() {
    const DeviceType* type = device_type_of(target_);
    type_ = type == nullptr ? -1 : type->DeviceID;
    Cts = Ring = false;
    FocusOpenChar = 0;
    if (type_ < 0) {
        prompter_.ask(kUnknownType, kMessageCaption, Buttons::Ok, Icon::None);
        return kResultUnknownType;
    }
    if (mode_ == SettingsMode::Modify) {
        KeyName = entry_key_ = target_;
        fill_lists();
        Port = BaudRate = DataBits = StopBits = Parity = HandShaking = DrawerNo = FirstOC = SecondOC = "";
        load_entry();
        return kStayOpen;
    }

    created_ = name_added_ = false;
    DialogDeviceKey.clear();
    KeyName.clear();
    entry_key_.clear();
    fill_lists();
    show_defaults();
    if (const int closed = create_entry(); closed != kStayOpen) return closed;
    full_save();

    if (!logical_name_.empty()) {
        if (logical_name_taken(store_, entry_key_, logical_name_)) {
            prompter_.ask(format(kNameTakenPage2, logical_name_.c_str()), kMessageCaption, Buttons::Ok,
                          Icon::Warning);
        } else if (store_.add_logical_name(entry_key_, logical_name_) == DeviceStore::kNameAdded) {
            name_added_ = true;
        }
    }

    if (usb_loaded_ && usb_ != nullptr) usb_->unload();
    usb_loaded_ = false;
    // Without a driver folder there is no library we could trust to be the
    // USB driver; loading by bare name would search the system path.
    std::string folder;
    if (store_.read_target_path(&folder) == 1 && usb_ != nullptr)
        usb_loaded_ = usb_->load(folder + "\\" + std::string(kUsbLibraryName));
    if (!usb_loaded_) prompter_.ask(kMissingUsbLibrary, kApplicationTitle, Buttons::Ok, Icon::Error);
    return kStayOpen;
}

int DeviceSettingsPresenter::create_entry() {
    std::int32_t index = 0;
    RegKey key = 0;
    std::string name;
    const std::string type_key(kDeviceTypes[type_].key);
    const std::int32_t r = store_.create_device_key(type_key, &index, &key, &name);
    if (r != DeviceStore::kCreated) {
        if (r == DeviceStore::kIndexLimit) {
            const std::string_view please = type_ == kDeviceIdSerialII ? "please " : "please";
            const std::string text = "Max device index limit reached! [10]\n\nIf additonal " + type_key +
                                     " devices are desired, " + std::string(please) +
                                     "\nremove from index 9 until desired device can be added.  ";
            prompter_.ask(text, kMessageCaption, Buttons::Ok, Icon::Warning);
        } else if (r == DeviceStore::kSingleUsbDevice) {
            prompter_.ask(kSingleInstance, kMessageCaption, Buttons::Ok, Icon::Warning);
        }
        prompter_.ask(kCreateFailed, kMessageCaption, Buttons::Ok, Icon::None);
        return kResultCancel;
    }
    store_.close_key(key);
    created_ = true;
    KeyName = entry_key_ = name;
    if (type_ == kDeviceIdUsb) {
        values_.Port = 0;
        PortItems = {"USB0"};
        Port = "USB0";
    }
    return kStayOpen;
}

void DeviceSettingsPresenter::load_entry() {
    // A value the entry does not hold keeps the type's default, so a save
    // never writes a number nobody chose.
    const std::int32_t type = type_;
    show_defaults();
    Port = BaudRate = DataBits = StopBits = Parity = HandShaking = DrawerNo = FirstOC = SecondOC = "";
    Cts = Ring = false;
    RegKey key = 0;
    if (store_.open_device_key(entry_key_, &key) != DeviceStore::kOpened) {
        HandShakingEnabled = true;
        return;
    }
    const auto number = [&](std::string_view name, std::int32_t* out) {
        std::string text;
        if (store_.read_text(key, name, &text) == DeviceStore::kNotRead) return false;
        *out = decimal_value(text);
        return true;
    };
    const auto text = [&](std::string_view name, std::string* out) {
        return store_.read_text(key, name, out) != DeviceStore::kNotRead;
    };
    config::DeviceEntry& v = values_;
    const bool port_read = number("Port", &v.Port);
    if (is_serial(type)) {
        if (port_read && v.Port >= 1 && v.Port <= 4) Port = "COM" + std::to_string(v.Port);
        if (number("BaudRate", &v.BaudRate)) BaudRate = item_at(kBaudRateItems, v.BaudRate - 1);
        if (number("DataBitLen", &v.DataBitLen) && (v.DataBitLen == 7 || v.DataBitLen == 8))
            DataBits = std::to_string(v.DataBitLen);
        if (number("StopBits", &v.StopBits) && (v.StopBits == 1 || v.StopBits == 2))
            StopBits = std::to_string(v.StopBits);
        if (number("Parity", &v.Parity)) Parity = item_at(kParityItems, v.Parity);
        if (number("HandShaking", &v.HandShaking)) {
            if (v.HandShaking == 2) {
                HandShaking = kHandShakingXonXoff;
                HandShakingItemsShown.emplace_back(kHandShakingXonXoff);
            } else {
                HandShaking = item_at(kHandShakingItems, v.HandShaking);
            }
        }
        if (number("Status", &v.Status)) {
            Cts = v.Status == 0 || v.Status < 0 || v.Status > 3 || v.Status == 2;
            Ring = v.Status == 1 || v.Status == 2;
        }
        text("FirstOC", &v.FirstOC);
        FirstOC = v.FirstOC;
        if (type == kDeviceIdSmartSerial) {
            text("SecondOC", &v.SecondOC);
            SecondOC = v.SecondOC;
            if (number("DrawerNo", &v.DrawerNo)) DrawerNo = std::to_string(v.DrawerNo);
        }
    } else if (type == kDeviceIdParallel) {
        if (port_read && v.Port >= 1 && v.Port <= 2) Port = "LPT" + std::to_string(v.Port);
        number("Status", &v.Status);
        text("FirstOC", &v.FirstOC);
        FirstOC = v.FirstOC;
        text("SecondOC", &v.SecondOC);
        SecondOC = v.SecondOC;
        if (number("DrawerNo", &v.DrawerNo)) DrawerNo = std::to_string(v.DrawerNo);
    } else {
        Port = usb_port_text();
    }
    store_.close_key(key);
    HandShakingEnabled = !Cts;
}

void DeviceSettingsPresenter::on_cts_clicked() {
    if (Cts) {
        Ring = false;
        HandShaking = kHandShakingItems[0];
        HandShakingEnabled = false;
    } else {
        HandShakingEnabled = true;
    }
}

void DeviceSettingsPresenter::on_ring_clicked() {
    if (!Ring) return;
    Cts = false;
    HandShakingEnabled = true;
    HandShaking = kHandShakingItems[1];
}

void DeviceSettingsPresenter::on_hand_shaking_selected() {
    if (HandShaking == kHandShakingItems[1]) Cts = false;
}

void DeviceSettingsPresenter::on_hand_shaking_kill_focus() {
    int index = index_of(kHandShakingItems, HandShaking);
    if (index < 0 && HandShaking == kHandShakingXonXoff) index = 2;
    if (index < 0) return;
    values_.HandShaking = index;
    if (index == 1) Cts = false;
}

void DeviceSettingsPresenter::on_port_edited() {
    if (mode_ == SettingsMode::Modify && type_ == kDeviceIdUsb && !PortItems.empty()) Port = PortItems.front();
}

void DeviceSettingsPresenter::on_key_edited() { KeyName = entry_key_; }

bool DeviceSettingsPresenter::on_open_char_kill_focus(int which) {
    const std::string& text = which == 1 ? FirstOC : SecondOC;
    const std::int32_t value = decimal_value(text);
    if (value >= 0 && value <= 255) return true;
    prompter_.ask(kBadOpenChar, kBadOpenCharCaption, Buttons::Ok, Icon::Warning);
    FocusOpenChar = which;
    return false;
}

// Finish and Health Check save what the fields hold, so a code the field
// check refused (the user may press a button without leaving the field) is
// refused here once more instead of reaching the drawer.
bool DeviceSettingsPresenter::check_open_chars() {
    FocusOpenChar = 0;
    if (Enabled.first_oc && !on_open_char_kill_focus(1)) return false;
    if (Enabled.second_oc && !on_open_char_kill_focus(2)) return false;
    return true;
}

bool DeviceSettingsPresenter::port_conflict_check() {
    const std::int32_t port = port_number(type_, Port);
    const std::string prefix(port_prefix(type_));
    const bool add = mode_ == SettingsMode::Add;
    for (const PortConflict& c : find_port_conflicts(store_, entry_key_, type_, port)) {
        std::string text = format(add ? "The cash drawer device '%s' is already assigned to port '%s%d'.\n"
                                      : "The cash drawer device '%s' is already assigned to port '%s%d'\n",
                                  c.device_key.c_str(), prefix.c_str(), c.port);
        text += add ? "If not intended, please change this port assignment to avoid any conflict.     \n\n"
                      "Would you still like to proceed?"
                    : "If not intended, please change this port assignment to avoid any conflict.     \n\n"
                      "Would you like to proceed anyway?";
        if (prompter_.ask(text, kConflictCaption, Buttons::YesNo, Icon::Warning) != Answer::Yes) return false;
    }
    return true;
}

void DeviceSettingsPresenter::take_numbers() {
    config::DeviceEntry& v = values_;
    if (is_serial(type_)) {
        for (int i = 1; i <= 4; ++i)
            if (Port == "COM" + std::to_string(i)) v.Port = i;
        if (const int i = index_of(kBaudRateItems, BaudRate); i >= 0) v.BaudRate = i + 1;
        if (const int i = index_of(kDataBitsItems, DataBits); i >= 0) v.DataBitLen = i + 7;
        if (const int i = index_of(kStopBitsItems, StopBits); i >= 0) v.StopBits = i + 1;
        if (const int i = index_of(kParityItems, Parity); i >= 0) v.Parity = i;
        if (const int i = index_of(kHandShakingItems, HandShaking); i >= 0) v.HandShaking = i;
        if (HandShaking == kHandShakingXonXoff) v.HandShaking = 2;
        v.Status = Cts && !Ring ? 0 : Ring && !Cts ? 1 : Cts && Ring ? 2 : 3;
        v.FirstOC = stored_open_char(FirstOC);
        if (type_ == kDeviceIdSmartSerial) {
            v.SecondOC = stored_open_char(SecondOC);
            if (const int i = index_of(kDrawerNoItems, DrawerNo); i >= 0) v.DrawerNo = i + 1;
        }
    } else if (type_ == kDeviceIdParallel) {
        for (int i = 1; i <= 2; ++i)
            if (Port == "LPT" + std::to_string(i)) v.Port = i;
        v.FirstOC = stored_open_char(FirstOC);
        v.SecondOC = stored_open_char(SecondOC);
        if (const int i = index_of(kDrawerNoItems, DrawerNo); i >= 0) v.DrawerNo = i + 1;
    }
}

void DeviceSettingsPresenter::full_save() {
    RegKey key = 0;
    KeyName = entry_key_;
    if (store_.open_device_key(entry_key_, &key) != DeviceStore::kOpened) return;
    const DeviceType& type = kDeviceTypes[type_];
    take_numbers();
    // The page's settings under the name, type and description of the key.
    config::DeviceEntry entry = values_;
    const config::DeviceEntry identity = config::default_entry(KeyName, type);
    entry.DeviceName = identity.DeviceName;
    entry.DeviceID = identity.DeviceID;
    entry.DeviceDesc = identity.DeviceDesc;
    store_.write_entry(key, entry);
    store_.close_key(key);
    show_values();
}

void DeviceSettingsPresenter::settings_save() {
    RegKey key = 0;
    KeyName = entry_key_;
    if (store_.open_device_key(entry_key_, &key) != DeviceStore::kOpened) return;
    take_numbers();
    const config::DeviceEntry& v = values_;
    const auto text = [&](std::string_view name, std::string_view value) { store_.write_text(key, name, value); };
    const auto number = [&](std::string_view name, std::int32_t value) { store_.write_number(key, name, value); };
    number("Port", v.Port);
    if (is_serial(type_)) {
        number("BaudRate", v.BaudRate);
        number("DataBitLen", v.DataBitLen);
        number("StopBits", v.StopBits);
        number("Parity", v.Parity);
        number("HandShaking", v.HandShaking);
        if (type_ == kDeviceIdSmartSerial) number("DrawerNo", v.DrawerNo);
        text("FirstOC", v.FirstOC);
        if (type_ == kDeviceIdSmartSerial) text("SecondOC", v.SecondOC);
        number("Status", v.Status);
    } else if (type_ == kDeviceIdParallel) {
        text("FirstOC", v.FirstOC);
        text("SecondOC", v.SecondOC);
        number("DrawerNo", v.DrawerNo);
    }
    store_.close_key(key);
    show_values();
}

void DeviceSettingsPresenter::usb_probe() {
    const std::int32_t unit = so_unit_index(entry_key_);
    if (usb_->open_port(unit) != 0) {
        usb_->close_port(unit);
    } else {
        prompter_.ask(format(kUsbNotFound, entry_key_.c_str()), kApplicationTitle, Buttons::Ok, Icon::None);
    }
}

int DeviceSettingsPresenter::on_finish() {
    if (!check_open_chars()) return kStayOpen;
    if (!port_conflict_check()) return kStayOpen;
    if (mode_ == SettingsMode::Modify) {
        settings_save();
        DialogDeviceKey = entry_key_;
        return kResultOk;
    }
    full_save();
    DialogDeviceKey = entry_key_;
    if (type_ == kDeviceIdUsb && usb_loaded_) {
        usb_probe();
        // The default names all stand for the USB device: right only for it.
        store_.default_logical_names(entry_key_);
    }
    created_ = false;  // the entry is the user's now
    if (usb_loaded_) usb_->unload();
    usb_loaded_ = false;
    return kResultOk;
}

void DeviceSettingsPresenter::remove_new_entry() {
    if (created_) {
        store_.delete_device_key(entry_key_);
        if (name_added_) store_.remove_logical_name(entry_key_, logical_name_);
    }
    created_ = name_added_ = false;
    if (usb_loaded_ && usb_ != nullptr) usb_->unload();
    usb_loaded_ = false;
}

int DeviceSettingsPresenter::on_back() {
    remove_new_entry();
    return kResultBack;
}

int DeviceSettingsPresenter::on_cancel() {
    // A cancelled wizard leaves no half-made entry behind.
    if (mode_ == SettingsMode::Add) remove_new_entry();
    return kResultCancel;
}

void DeviceSettingsPresenter::on_health_check() {
    if (!check_open_chars()) return;
    if (mode_ == SettingsMode::Add) {
        full_save();
    } else {
        settings_save();
    }
    if (health_check_) health_check_(entry_key_);
    show_values();
}

// ---------------------------------------------------------------- logical names

void LdnDialogPresenter::open(std::string device_key) {
    DeviceKey = std::move(device_key);
    KeyText = DeviceKey;
    EntryText.clear();
    Selected.clear();
    names_.clear();
    targets_.clear();
    RegKey key = 0;
    class_key_open_ = store_.collect_logical_names(DeviceKey, &names_, &targets_, &key);
    if (class_key_open_) store_.close_key(key);
    loaded_names_ = names_;
    loaded_targets_ = targets_;
    ListItems = names_;
}

bool LdnDialogPresenter::taken(const std::string& name) const {
    // A name waiting in the list for Finish is taken as well: listing it
    // twice would show more names than Finish can write.
    if (std::any_of(names_.begin(), names_.end(), [&](const std::string& n) { return equal_ignoring_case(n, name); }))
        return true;
    return logical_name_taken(store_, DeviceKey, name);
}

void LdnDialogPresenter::on_add() {
    const std::string name = std::string(trim_blanks(EntryText));
    EntryText.clear();
    if (name.empty()) return;
    if (taken(name)) {
        prompter_.ask(format(kNameTakenPage1, name.c_str()), kMessageCaption, Buttons::Ok, Icon::Error);
        return;
    }
    names_.push_back(name);
    targets_.push_back(DeviceKey);
    ListItems = names_;
}

void LdnDialogPresenter::on_remove() {
    if (Selected.empty()) return;
    if (prompter_.ask(format(kRemoveLdnQuestion, Selected.c_str()), kMessageCaption, Buttons::YesNo,
                      Icon::Question) != Answer::Yes)
        return;
    const auto it = std::find(names_.begin(), names_.end(), Selected);
    if (it != names_.end()) {
        targets_.erase(targets_.begin() + (it - names_.begin()));
        names_.erase(it);
    }
    ListItems = names_;
    Selected.clear();
}

int LdnDialogPresenter::on_finish() {
    if (class_key_open_) {
        for (const std::string& name : loaded_names_) store_.remove_logical_name(DeviceKey, name);
        for (std::size_t i = 0; i < names_.size(); ++i) store_.add_logical_name(targets_[i], names_[i]);
    }
    return kResultOk;
}

int LdnDialogPresenter::on_cancel() { return kResultCancel; }

// ---------------------------------------------------------------- health check

std::string health_check_caption(const std::string& device_key) {
    return device_key + " OPOS CheckHealth (Interactive)";
}

void run_health_check(const std::string& device_key, ControlObject* control, Prompter& prompter,
                      platform::Clock& clock) {
    const std::string caption = health_check_caption(device_key);
    if (control == nullptr) {
        prompter.ask("The OPOS CashDrawer Control Object is not installed on this computer.\n\n"
                     "The interactive health check opens the device through it; install it and try again.",
                     caption, Buttons::Ok, Icon::Error);
        return;
    }
    const auto error = [&](const std::string& text) { prompter.ask(text, caption, Buttons::Ok, Icon::Error); };
    bool prepared = false;
    bool capable = false;
    do {
        if (const std::int32_t r = control->Open(device_key); r != 0) {
            error(format("OPOS CheckHealth Interactive Error.\n\nOpen = 0x%08d,  Result Code = 0x%08d   ", r,
                         control->GetResultCode()));
            break;
        }
        if (const std::int32_t r = control->ClaimDevice(2000); r != 0) {
            error(format("OPOS CheckHealth Interactive Error.\n\nClaimDevice(2000) = 0x%08ld,  Result Code = "
                         "0x%08ld   ",
                         static_cast<long>(r), static_cast<long>(control->GetResultCode())));
            break;
        }
        control->SetDeviceEnabled(true);
        (void)control->GetResultCode();
        if (!control->GetDeviceEnabled()) {
            error(format("OPOS CheckHealth Interactive Error.\n\nDeviceEnable = FALSE, Result Code = 0x%08ld   ",
                         static_cast<long>(control->GetResultCode())));
            break;
        }
        capable = control->GetCapStatus();
        if (!capable) {
            prompter.ask(format("This Cash Drawer device '%s' does not support drawer status.    \n\n"
                                "CapStatus = 0x%08d, Result Code = 0x%08ld   ",
                                device_key.c_str(), 0, static_cast<long>(control->GetResultCode())),
                         caption, Buttons::Ok, Icon::Information);
        }
        prepared = true;
    } while (false);

    if (prepared) {
        clock.sleep_ms(200);
        const std::string_view model = std::string_view(device_key).substr(0, kTypeKeyLength);
        if (model == "CD926" || model == "CD347") {
            prompter.ask("Before proceeding, enable Drawer Status on the cash drawer.   \n"
                         "[Refer to Cash Drawer Product Guide for more information].",
                         device_key + " Cash Drawer Status: Device Enabling Required", Buttons::Ok, Icon::Warning);
        }
        while (prompter.ask("Press OK to open cash drawer, CANCEL to quit  ", caption, Buttons::OkCancel,
                            Icon::None) == Answer::Ok) {
            control->OpenDrawer();
            if (!capable) continue;
            const bool opened = control->GetDrawerOpened();
            const long result = control->GetResultCode();
            const std::string text =
                opened ? format("DrawerOpened = 0x%08d, Result Code = 0x%08ld        \nCash Drawer open successful",
                                1, result)
                       : format("DrawerOpened = 0x%08d, Result Code = 0x%08ld        \nCash Drawer open failed", 0,
                                result);
            prompter.ask(text, caption, Buttons::Ok, Icon::Information);
        }
    }
    control->Close();
}

// ---------------------------------------------------------------- information page

PropertyFields read_property_fields(DeviceStore& store) {
    PropertyFields f;
    ControlObjectInfo co;
    store.read_control_object_info(&co);
    f.co_description = co.description;
    f.co_version = co.version;
    f.co_device_class = co.device_class;
    const ServiceObjectInfo so = DeviceStore::service_object_info();
    f.so_description = so.description;
    f.so_version = so.version;
    f.so_release = so.standard;
    return f;
}

// ---------------------------------------------------------------- the wizard

bool run_add_device_wizard(AddDevicePagePresenter& page1, DeviceSettingsPresenter& page2,
                           const std::function<int()>& show_page1, const std::function<int()>& show_page2) {
    for (;;) {
        if (show_page1() != kResultOk) return false;
        page2.set_target(page1.TypeKey, page1.LogicalName);
        const int r = show_page2();
        if (r == kResultOk) return true;
        if (r == kResultCancel) return false;
    }
}

}  // namespace zrn::utility
