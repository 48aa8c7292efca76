// The settings page: the wizard's second page and the modify page.
#include "zrn/utility/dialogs.h"

#include "dialog_texts.h"

namespace zrn::utility {

using namespace dialog_texts;
using platform::RegKey;

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
    HandShakingItemsShown.assign(config::kHandShakingItems.begin(), config::kHandShakingItems.end());
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
    values_ = config::default_settings(type_);
    Port = BaudRate = DataBits = StopBits = Parity = HandShaking = DrawerNo = FirstOC = SecondOC = "";
    show_values();
}

void DeviceSettingsPresenter::show_values() {
    const config::DeviceEntry& v = values_;
    switch (type_) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial:
            Port = v.Port >= 1 && v.Port <= 4 ? "COM" + std::to_string(v.Port) : "";
            BaudRate = item_at(config::kBaudRateItems, v.BaudRate - 1);
            DataBits = v.DataBitLen == 7 || v.DataBitLen == 8 ? std::to_string(v.DataBitLen) : "";
            StopBits = v.StopBits == 1 || v.StopBits == 2 ? std::to_string(v.StopBits) : "";
            Parity = item_at(config::kParityItems, v.Parity);
            if (v.HandShaking == 2) {
                HandShaking = config::kHandShakingXonXoff;
                HandShakingItemsShown.assign(config::kHandShakingItems.begin(), config::kHandShakingItems.end());
                HandShakingItemsShown.emplace_back(config::kHandShakingXonXoff);
            } else {
                HandShaking = item_at(config::kHandShakingItems, v.HandShaking);
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
    FocusPort = false;
    if (type_ < 0) {
        prompter_.ask(kUnknownType, kMessageCaption, config::Buttons::Ok, config::Icon::None);
        return kResultUnknownType;
    }
    if (mode_ == SettingsMode::Modify) {
        KeyName = entry_key_ = target_;
        fill_lists();
        Port = BaudRate = DataBits = StopBits = Parity = HandShaking = DrawerNo = FirstOC = SecondOC = "";
        if (!load_entry()) {
            // Gone since the main window listed it: nothing to modify.
            prompter_.ask(format(kDeviceGone, entry_key_.c_str()), kMessageCaption, config::Buttons::Ok, config::Icon::Warning);
            return kResultCancel;
        }
        return kStayOpen;
    }

    created_ = name_added_ = false;
    DialogDeviceKey.clear();
    KeyName.clear();
    entry_key_.clear();
    fill_lists();
    show_defaults();
    // The new key's name is chosen and the key made, written and named in
    // one hold of the configuration lock, so no other program picks the
    // same name meanwhile; the messages come after it is let go.
    std::int32_t made = config::DeviceStore::kKeyNotCreated;
    Saved saved;
    bool name_taken = false;
    {
        const config::ChangeHold hold(store_, prompter_);
        if (!hold.held()) return kResultCancel;
        made = create_entry();
        if (made == config::DeviceStore::kCreated) {
            saved = full_save();
            if (!logical_name_.empty()) {
                name_taken = config::logical_name_taken(store_, entry_key_, logical_name_);
                name_added_ =
                    !name_taken && store_.add_logical_name(entry_key_, logical_name_) == config::DeviceStore::kNameAdded;
            }
        }
    }
    if (made != config::DeviceStore::kCreated) {
        if (made == config::DeviceStore::kIndexLimit) {
            const std::string type_key(kDeviceTypes[type_].key);
            const std::string_view please = type_ == kDeviceIdSerialII ? "please " : "please";
            const std::string text = "Max device index limit reached! [10]\n\nIf additonal " + type_key +
                                     " devices are desired, " + std::string(please) +
                                     "\nremove from index 9 until desired device can be added.  ";
            prompter_.ask(text, kMessageCaption, config::Buttons::Ok, config::Icon::Warning);
        } else if (made == config::DeviceStore::kSingleUsbDevice) {
            prompter_.ask(kSingleInstance, kMessageCaption, config::Buttons::Ok, config::Icon::Warning);
        }
        prompter_.ask(kCreateFailed, kMessageCaption, config::Buttons::Ok, config::Icon::None);
        return kResultCancel;
    }
    report(saved);
    if (name_taken)
        prompter_.ask(format(kNameTakenPage2, logical_name_.c_str()), kMessageCaption, config::Buttons::Ok, config::Icon::Warning);

    if (usb_loaded_ && usb_ != nullptr) usb_->unload();
    usb_loaded_ = false;
    // Without a driver folder there is no library we could trust to be the
    // USB driver; loading by bare name would search the system path.
    std::string folder;
    if (store_.read_target_path(&folder) == 1 && usb_ != nullptr)
        usb_loaded_ = usb_->load(folder + "\\" + std::string(kUsbLibraryName));
    if (!usb_loaded_) prompter_.ask(kMissingUsbLibrary, kApplicationTitle, config::Buttons::Ok, config::Icon::Error);
    return kStayOpen;
}

std::int32_t DeviceSettingsPresenter::create_entry() {
    std::int32_t index = 0;
    RegKey key = 0;
    std::string name;
    const std::int32_t r = store_.create_device_key(std::string(kDeviceTypes[type_].key), &index, &key, &name);
    if (r != config::DeviceStore::kCreated) return r;
    store_.close_key(key);
    created_ = true;
    KeyName = entry_key_ = name;
    if (type_ == kDeviceIdUsb) {
        values_.Port = 0;
        PortItems = {"USB0"};
        Port = "USB0";
    }
    return r;
}

bool DeviceSettingsPresenter::load_entry() {
    // A value the entry does not hold keeps the type's default, so a save
    // never writes a number nobody chose.
    const std::int32_t type = type_;
    show_defaults();
    Port = BaudRate = DataBits = StopBits = Parity = HandShaking = DrawerNo = FirstOC = SecondOC = "";
    Cts = Ring = false;
    RegKey key = 0;
    if (store_.open_device_key(entry_key_, &key) != config::DeviceStore::kOpened) {
        HandShakingEnabled = true;
        return false;
    }
    const auto number = [&](std::string_view name, std::int32_t* out) {
        std::string text;
        if (store_.read_text(key, name, &text) == config::DeviceStore::kNotRead) return false;
        *out = decimal_value(text);
        return true;
    };
    const auto text = [&](std::string_view name, std::string* out) {
        return store_.read_text(key, name, out) != config::DeviceStore::kNotRead;
    };
    config::DeviceEntry& v = values_;
    const bool port_read = number("Port", &v.Port);
    if (is_serial(type)) {
        if (port_read && v.Port >= 1 && v.Port <= 4) Port = "COM" + std::to_string(v.Port);
        if (number("BaudRate", &v.BaudRate)) BaudRate = item_at(config::kBaudRateItems, v.BaudRate - 1);
        if (number("DataBitLen", &v.DataBitLen) && (v.DataBitLen == 7 || v.DataBitLen == 8))
            DataBits = std::to_string(v.DataBitLen);
        if (number("StopBits", &v.StopBits) && (v.StopBits == 1 || v.StopBits == 2))
            StopBits = std::to_string(v.StopBits);
        if (number("Parity", &v.Parity)) Parity = item_at(config::kParityItems, v.Parity);
        if (number("HandShaking", &v.HandShaking)) {
            if (v.HandShaking == 2) {
                HandShaking = config::kHandShakingXonXoff;
                HandShakingItemsShown.emplace_back(config::kHandShakingXonXoff);
            } else {
                HandShaking = item_at(config::kHandShakingItems, v.HandShaking);
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
    return true;
}

void DeviceSettingsPresenter::on_cts_clicked() {
    if (Cts) {
        Ring = false;
        HandShaking = config::kHandShakingItems[0];
        HandShakingEnabled = false;
    } else {
        HandShakingEnabled = true;
    }
}

void DeviceSettingsPresenter::on_ring_clicked() {
    if (!Ring) return;
    Cts = false;
    HandShakingEnabled = true;
    HandShaking = config::kHandShakingItems[1];
}

void DeviceSettingsPresenter::on_hand_shaking_selected() {
    if (HandShaking == config::kHandShakingItems[1]) Cts = false;
}

void DeviceSettingsPresenter::on_hand_shaking_kill_focus() {
    int index = index_of(config::kHandShakingItems, HandShaking);
    if (index < 0 && HandShaking == config::kHandShakingXonXoff) index = 2;
    if (index < 0) return;
    values_.HandShaking = index;
    if (index == 1) Cts = false;
}

void DeviceSettingsPresenter::on_port_edited() {
    if (mode_ == SettingsMode::Modify && type_ == kDeviceIdUsb && !PortItems.empty()) Port = PortItems.front();
}

void DeviceSettingsPresenter::on_key_edited() { KeyName = entry_key_; }

bool DeviceSettingsPresenter::on_open_char_kill_focus(int which) {
    if (open_char_ok(which == 1 ? FirstOC : SecondOC, which)) return true;
    prompter_.ask(kBadOpenChar, kBadOpenCharCaption, config::Buttons::Ok, config::Icon::Warning);
    FocusOpenChar = which;
    return false;
}

// A port typed into the box is used when the list holds it (letter case and
// blanks aside) and refused otherwise; it never silently stands for the port
// stored before.
bool DeviceSettingsPresenter::check_port() {
    if (type_ == kDeviceIdUsb) return true;
    const std::string_view typed = trim_blanks(Port);
    for (const std::string& item : PortItems)
        if (equal_ignoring_case(item, typed)) {
            Port = item;
            return true;
        }
    const std::string text = typed.empty() ? std::string(kNoPort)
                                           : format(kPortNotInList, std::string(typed).c_str(), join(PortItems).c_str());
    prompter_.ask(text, kMessageCaption, config::Buttons::Ok, config::Icon::Warning);
    FocusPort = true;
    return false;
}

// Finish and Health Check save what the fields hold, so a value the field
// checks refused (the user may press a button without leaving the field) is
// refused here once more instead of reaching the drawer.
bool DeviceSettingsPresenter::check_typed_values() {
    FocusOpenChar = 0;
    FocusPort = false;
    if (!check_port()) return false;
    if (Enabled.first_oc && !on_open_char_kill_focus(1)) return false;
    if (Enabled.second_oc && !on_open_char_kill_focus(2)) return false;
    return true;
}

bool DeviceSettingsPresenter::port_conflict_check() {
    const std::int32_t port = config::port_number(type_, Port);
    const std::string prefix(config::port_prefix(type_));
    const bool add = mode_ == SettingsMode::Add;
    for (const config::PortConflict& c : config::find_port_conflicts(store_, entry_key_, type_, port)) {
        std::string text = format(add ? "The cash drawer device '%s' is already assigned to port '%s%d'.\n"
                                      : "The cash drawer device '%s' is already assigned to port '%s%d'\n",
                                  c.device_key.c_str(), prefix.c_str(), c.port);
        text += add ? "If not intended, please change this port assignment to avoid any conflict.     \n\n"
                      "Would you still like to proceed?"
                    : "If not intended, please change this port assignment to avoid any conflict.     \n\n"
                      "Would you like to proceed anyway?";
        if (prompter_.ask(text, kConflictCaption, config::Buttons::YesNo, config::Icon::Warning) != config::Answer::Yes) return false;
    }
    return true;
}

void DeviceSettingsPresenter::take_numbers() {
    config::DeviceEntry& v = values_;
    if (is_serial(type_)) {
        for (int i = 1; i <= 4; ++i)
            if (Port == "COM" + std::to_string(i)) v.Port = i;
        if (const int i = index_of(config::kBaudRateItems, BaudRate); i >= 0) v.BaudRate = i + 1;
        if (const int i = index_of(config::kDataBitsItems, DataBits); i >= 0) v.DataBitLen = i + 7;
        if (const int i = index_of(config::kStopBitsItems, StopBits); i >= 0) v.StopBits = i + 1;
        if (const int i = index_of(config::kParityItems, Parity); i >= 0) v.Parity = i;
        if (const int i = index_of(config::kHandShakingItems, HandShaking); i >= 0) v.HandShaking = i;
        if (HandShaking == config::kHandShakingXonXoff) v.HandShaking = 2;
        v.Status = Cts && !Ring ? 0 : Ring && !Cts ? 1 : Cts && Ring ? 2 : 3;
        v.FirstOC = std::string(trim_blanks(FirstOC));
        if (type_ == kDeviceIdSmartSerial) {
            v.SecondOC = std::string(trim_blanks(SecondOC));
            if (const int i = index_of(config::kDrawerNoItems, DrawerNo); i >= 0) v.DrawerNo = i + 1;
        }
    } else if (type_ == kDeviceIdParallel) {
        for (int i = 1; i <= 2; ++i)
            if (Port == "LPT" + std::to_string(i)) v.Port = i;
        v.FirstOC = std::string(trim_blanks(FirstOC));
        v.SecondOC = std::string(trim_blanks(SecondOC));
        if (const int i = index_of(config::kDrawerNoItems, DrawerNo); i >= 0) v.DrawerNo = i + 1;
    }
}

bool DeviceSettingsPresenter::open_entry(RegKey* key, Saved* failed) {
    KeyName = entry_key_;
    store_.clear_failure();
    if (store_.open_device_key(entry_key_, key) == config::DeviceStore::kOpened) return true;
    const platform::RegStatus st = store_.last_failure();
    *failed = st == platform::kRegNotFound ? Saved{Saved::Gone, st, {}} : Saved{Saved::Refused, st, store_.failure_text()};
    return false;
}

DeviceSettingsPresenter::Saved DeviceSettingsPresenter::full_save() {
    RegKey key = 0;
    Saved failed;
    if (!open_entry(&key, &failed)) return failed;
    const DeviceType& type = kDeviceTypes[type_];
    take_numbers();
    // The page's settings under the name, type and description of the key.
    config::DeviceEntry entry = values_;
    const config::DeviceEntry identity = config::default_entry(KeyName, type);
    entry.DeviceName = identity.DeviceName;
    entry.DeviceID = identity.DeviceID;
    entry.DeviceDesc = identity.DeviceDesc;
    const bool written = store_.write_entry(key, entry) == config::DeviceStore::kWritten;
    store_.close_key(key);
    show_values();
    return written ? Saved{} : Saved{Saved::Refused, store_.last_failure(), store_.failure_text()};
}

DeviceSettingsPresenter::Saved DeviceSettingsPresenter::settings_save() {
    RegKey key = 0;
    Saved failed;
    if (!open_entry(&key, &failed)) return failed;
    take_numbers();
    const config::DeviceEntry& v = values_;
    bool written = true;
    const auto text = [&](std::string_view name, std::string_view value) {
        written &= store_.write_text(key, name, value) == config::DeviceStore::kWritten;
    };
    const auto number = [&](std::string_view name, std::int32_t value) {
        written &= store_.write_number(key, name, value) == config::DeviceStore::kWritten;
    };
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
    return written ? Saved{} : Saved{Saved::Refused, store_.last_failure(), store_.failure_text()};
}

void DeviceSettingsPresenter::report(const Saved& saved) {
    if (saved.result == Saved::Gone)
        prompter_.ask(format(kDeviceGone, entry_key_.c_str()), kMessageCaption, config::Buttons::Ok, config::Icon::Warning);
    if (saved.result == Saved::Refused)
        prompter_.ask(format(kSaveFailed, entry_key_.c_str(), saved.why.c_str()),
                      kMessageCaption, config::Buttons::Ok, config::Icon::Error);
}

bool DeviceSettingsPresenter::save(bool* gone) {
    *gone = false;
    Saved saved;
    {
        const config::ChangeHold hold(store_, prompter_);
        if (!hold.held()) return false;
        saved = mode_ == SettingsMode::Add ? full_save() : settings_save();
    }
    report(saved);
    *gone = saved.result == Saved::Gone;
    return saved.result == Saved::Written;
}

void DeviceSettingsPresenter::usb_probe() {
    const std::int32_t unit = so_unit_index(entry_key_);
    if (usb_->open_port(unit) != 0) {
        usb_->close_port(unit);
    } else {
        prompter_.ask(format(kUsbNotFound, entry_key_.c_str()), kApplicationTitle, config::Buttons::Ok, config::Icon::None);
    }
}

int DeviceSettingsPresenter::on_finish() {
    if (!check_typed_values()) return kStayOpen;
    if (!port_conflict_check()) return kStayOpen;
    // A save that did not go through keeps the page open with what the user
    // entered; an entry another program removed meanwhile has nothing to keep.
    bool gone = false;
    if (!save(&gone)) return gone ? kResultCancel : kStayOpen;
    DialogDeviceKey = entry_key_;
    if (mode_ == SettingsMode::Modify) return kResultOk;
    if (type_ == kDeviceIdUsb && usb_loaded_) {
        usb_probe();
        // The default names all stand for the USB device: right only for it.
        const config::ChangeHold hold(store_, prompter_);
        if (hold.held()) store_.default_logical_names(entry_key_);
    }
    created_ = false;  // the entry is the user's now
    if (usb_loaded_) usb_->unload();
    usb_loaded_ = false;
    return kResultOk;
}

void DeviceSettingsPresenter::remove_new_entry() {
    if (created_) {
        const config::ChangeHold hold(store_, prompter_);
        if (!hold.held()) return;
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
    if (!check_typed_values()) return;
    // The check runs on what is stored: without a save it would test
    // settings other than those the page shows.
    bool gone = false;
    if (!save(&gone)) return;
    if (health_check_) health_check_(entry_key_);
    show_values();
}

}  // namespace zrn::utility
