#pragma once

// The rules of the utility's dialogs: the add-device wizard's two pages, the
// modify page, the logical device name dialog, the interactive health check
// and the information page. The Win32 dialog procedures copy the fields below
// into their controls and back and forward clicks and focus changes; every
// decision and every message is made here.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zrn/platform/clock.h"
#include "zrn/config/device_store.h"
#include "zrn/config/prompter.h"
#include "zrn/config/values.h"
#include "zrn/utility/control_object.h"
#include "zrn/utility/usb_driver_library.h"

namespace zrn::utility {

// Dialog results.
inline constexpr int kResultOk = 1;
inline constexpr int kResultCancel = 2;
inline constexpr int kResultBack = 3;
inline constexpr int kResultUnknownType = 9;
// A handler's answer that the dialog stays open.
inline constexpr int kStayOpen = 0;

// The model texts of page 1, in type order.
inline constexpr std::array<std::string_view, 4> kModelTexts = {
    "Model 926A SerialLINE(r) II Interface", "Model 347A Smart SerialLINE(r) Interface",
    "Model 615 ParallelLINE(tm) Interface", "Model 730 USBLine(tm) Interface"};

// ---------------------------------------------------------------- page 1

class AddDevicePagePresenter {
public:
    AddDevicePagePresenter(config::DeviceStore& store, config::Prompter& prompter, platform::Clock& clock)
        : store_(store), prompter_(prompter), clock_(clock) {}

    // The dialog opens (again, after Back): the model list, the check box and,
    // until a model was chosen, the first model shown as selected.
    void open();
    void on_model_selected(int index);
    // Next, with the fields read back. kResultOk closes the page; kStayOpen
    // keeps it, with the focus in the logical-name field.
    int on_next();

    // Fields. ModelIndex is the model shown (-1 none).
    std::vector<std::string> ModelItems;
    int ModelIndex = -1;
    std::string TypeKey;        // empty until a model is picked
    std::string MasterId;       // "Device Master ID"
    std::string LogicalName;    // as typed; on_next trims it
    bool Upos = true;
    // Called by Next once MasterId holds the key, so the window can show it
    // during the pause before the page closes.
    std::function<void()> ShowMasterId;

private:
    config::DeviceStore& store_;
    config::Prompter& prompter_;
    platform::Clock& clock_;
};

// ---------------------------------------------------------------- settings pages

enum class SettingsMode { Add, Modify };

// Which controls a type enables.
struct SettingsEnabling {
    bool communication = false;  // group, five labels, five boxes
    bool status = false;         // group, label, both check boxes
    bool drawer = false;         // group, label, box
    bool first_oc = false;       // group, first label and field
    bool second_oc = false;      // second label and field
};

// Page 2 of the wizard (Add) and the modify page (Modify): the same controls
// and rules, different store work.
class DeviceSettingsPresenter {
public:
    using HealthCheckRunner = std::function<void(const std::string& device_key)>;

    DeviceSettingsPresenter(SettingsMode mode, config::DeviceStore& store, config::Prompter& prompter, UsbDriverLibrary* usb,
                            HealthCheckRunner health_check)
        : mode_(mode), store_(store), prompter_(prompter), usb_(usb), health_check_(std::move(health_check)) {}
    ~DeviceSettingsPresenter();

    // Page 2: the type key chosen on page 1 and its logical name. Modify: the
    // device key name of the entry.
    void set_target(std::string key, std::string logical_name = {});
    // The dialog opens. kStayOpen, or the result the page closes with at once.
    int open();

    // Control notifications, with the fields read back before the call.
    void on_cts_clicked();
    void on_ring_clicked();
    void on_hand_shaking_selected();
    void on_hand_shaking_kill_focus();
    void on_port_edited();
    void on_key_edited();
    // An open-character field (1 first, 2 second) lost the focus. False when
    // the value was refused: the focus goes back into that field.
    bool on_open_char_kill_focus(int which);
    // Button results: kStayOpen or the dialog result.
    int on_finish();
    int on_back();
    int on_cancel();
    void on_health_check();

    // What the window shows.
    std::string Title() const;
    std::string PortGroupCaption;
    std::vector<std::string> PortItems;
    std::vector<std::string> HandShakingItemsShown;
    SettingsEnabling Enabled;
    bool HandShakingEnabled = true;
    // The field that gets the focus after a refused open character (1, 2) or
    // 0.
    int FocusOpenChar = 0;
    // Whether the Port box gets the focus after a port was refused.
    bool FocusPort = false;

    // Fields (the controls' texts and check boxes).
    std::string KeyName;
    std::string Port, BaudRate, DataBits, StopBits, Parity, HandShaking, DrawerNo, FirstOC, SecondOC;
    bool Cts = false;
    bool Ring = false;

    // After Finish: the entry's key name, for the main window.
    std::string DialogDeviceKey;
    std::int32_t type_number() const { return type_; }
    const config::DeviceEntry& values() const { return values_; }
    bool entry_created() const { return created_; }

private:
    void fill_lists();
    void show_defaults();
    void show_values();
    // What a save came to: written, the entry gone (another program removed
    // it), or a write the registry refused (status is its code).
    struct Saved {
        enum { Written, Gone, Refused } result = Written;
        platform::RegStatus status = platform::kRegOk;
        std::string why;  // Refused: the call that failed and the system's words
    };
    // Opens the entry's key; false with the outcome to report when it cannot.
    bool open_entry(platform::RegKey* key, Saved* failed);
    int create_entry();
    bool load_entry();
    bool check_typed_values();
    bool check_port();
    bool port_conflict_check();
    void take_numbers();
    Saved full_save();
    Saved settings_save();
    // The save of the page's mode under the configuration lock; false, after
    // telling the user, when it did not go through (gone: the entry is gone).
    bool save(bool* gone);
    void report(const Saved& saved);
    void usb_probe();
    void remove_new_entry();
    std::string usb_port_text() const;

    SettingsMode mode_;
    config::DeviceStore& store_;
    config::Prompter& prompter_;
    UsbDriverLibrary* usb_;
    HealthCheckRunner health_check_;
    std::string target_;
    std::string entry_key_;  // the entry's key name, whatever field 1002 holds
    std::string logical_name_;
    std::int32_t type_ = -1;
    config::DeviceEntry values_;  // the settings only: name, type and description come from the key
    bool created_ = false;
    bool name_added_ = false;
    bool usb_loaded_ = false;
};

// ---------------------------------------------------------------- logical names

class LdnDialogPresenter {
public:
    LdnDialogPresenter(config::DeviceStore& store, config::Prompter& prompter) : store_(store), prompter_(prompter) {}

    void open(std::string device_key);
    // Add with the entry text read back. The entry text is cleared and takes
    // the focus afterwards.
    void on_add();
    // Remove with the selected name read back (empty: none selected).
    void on_remove();
    int on_finish();
    int on_cancel();
    void on_key_edited() { KeyText = DeviceKey; }

    std::string DeviceKey;
    std::string KeyText;    // field 1002
    std::string EntryText;  // field 1034
    std::string Selected;   // the list's selected name
    // The list's names; the list box sorts them.
    std::vector<std::string> ListItems;

    const std::vector<std::string>& names() const { return names_; }

private:
    bool taken(const std::string& name) const;
    // Finish's writes: the new names first, then the dropped ones go. False
    // when the set was not replaced whole (the user has been told).
    bool replace_names(std::string* message);

    config::DeviceStore& store_;
    config::Prompter& prompter_;
    bool class_key_open_ = false;
    std::vector<std::string> names_, targets_, loaded_names_, loaded_targets_;
};

// ---------------------------------------------------------------- health check

inline constexpr std::string_view kHealthCheckTitle = "Check Health (Interactive)";

// The interactive health check on one device: open, claim and enable through
// the Control Object, then open the drawer as often as the user asks.
// control is null when no Control Object could be created; the user is told.
void run_health_check(const std::string& device_key, ControlObject* control, config::Prompter& prompter,
                      platform::Clock& clock);

// The caption of the health check's boxes for a device.
std::string health_check_caption(const std::string& device_key);

// ---------------------------------------------------------------- information page

struct PropertyFields {
    std::string co_description;   // 1001
    std::string co_device_class;  // 1002
    std::string so_description;   // 1003
    std::string so_release;       // 1004
    std::string co_version;       // 1005
    std::string so_version;       // 1006
    std::string trace;            // 1007: what the trace writes
    std::string trace_kept;       // 1008: how long its daily files are kept
};

PropertyFields read_property_fields(config::DeviceStore& store);

// ---------------------------------------------------------------- the wizard

// Page 1, then page 2 with page 1's choices; Back returns to page 1. The
// pages keep their state across the loop. True when page 2 finished.
bool run_add_device_wizard(AddDevicePagePresenter& page1, DeviceSettingsPresenter& page2,
                           const std::function<int()>& show_page1, const std::function<int()>& show_page2);

}  // namespace zrn::utility
