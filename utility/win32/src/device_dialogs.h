#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zrn/callconv.h"

#include "control_object_dispatch.h"
#include "usb_driver_library_win32.h"
#include "win32_prompter.h"
#include "zrn/platform/clock.h"
#include "zrn/config/device_store.h"
#include "zrn/utility/dialogs.h"

namespace zrn::utility::win32 {

// A modal dialog with a message loop of its own: the Enter key goes to the
// control that has the focus and never to the dialog manager, so it presses
// no default button; every other key gets the usual dialog handling.
class ModalDialog {
public:
    virtual ~ModalDialog() = default;
    // Creates the dialog from its template and runs it until end() is called.
    INT_PTR run(HINSTANCE instance, int template_id, HWND owner);
    HWND hwnd() const { return hwnd_; }

protected:
    explicit ModalDialog(Win32Prompter& prompter) : prompter_(prompter) {}
    virtual INT_PTR handle(UINT message, WPARAM wparam, LPARAM lparam) = 0;
    void end(INT_PTR result);
    bool ended() const { return ended_; }

    std::string text(int id) const;
    void set_text(int id, const std::string& text);
    // The selected item's text of a drop-down list.
    std::string list_text(int id) const;
    // Fills a combo box's list and selects the item of that text (none when
    // the list does not hold it).
    void fill_combo(int id, const std::vector<std::string>& items);
    void select_combo(int id, const std::string& text);
    void enable(int id, bool on);
    bool checked(int id) const;
    void check(int id, bool on);

    Win32Prompter& prompter_;
    HWND hwnd_ = nullptr;

private:
    static INT_PTR CALLBACK dialog_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    bool ended_ = false;
    INT_PTR result_ = 0;
    HWND previous_owner_ = nullptr;
};

// The wizard's first page (CAddDeviceDlg).
class CAddDeviceDlg final : public ModalDialog {
public:
    CAddDeviceDlg(AddDevicePagePresenter& presenter, Win32Prompter& prompter)
        : ModalDialog(prompter), p_(presenter) {}

private:
    INT_PTR handle(UINT message, WPARAM wparam, LPARAM lparam) override;
    AddDevicePagePresenter& p_;
};

// The wizard's settings page and the modify page (CAddDeviceSettingsDlg,
// CModifyDeviceSettingsDlg): one window class over the settings presenter.
class CDeviceSettingsDlg final : public ModalDialog {
public:
    CDeviceSettingsDlg(DeviceSettingsPresenter& presenter, Win32Prompter& prompter)
        : ModalDialog(prompter), p_(presenter) {}

private:
    INT_PTR handle(UINT message, WPARAM wparam, LPARAM lparam) override;
    void copy_in();
    void copy_out();
    // The controls to the presenter, one of its handlers, the result back.
    void relay(void (DeviceSettingsPresenter::*handler)());
    // Puts the focus on the port or opening code the presenter refused.
    void focus_open_char();
    DeviceSettingsPresenter& p_;
    bool updating_ = false;
};

// The logical device name dialog (CLdnDialog).
class CLdnDialog final : public ModalDialog {
public:
    CLdnDialog(LdnDialogPresenter& presenter, Win32Prompter& prompter, std::string device_key)
        : ModalDialog(prompter), p_(presenter), key_(std::move(device_key)) {}

private:
    INT_PTR handle(UINT message, WPARAM wparam, LPARAM lparam) override;
    void copy_out();
    LdnDialogPresenter& p_;
    std::string key_;
    bool updating_ = false;
};

// The interactive health check (CCheckHealthDlg): the whole check runs while
// the dialog initialises, through message boxes; the dialog then closes.
class CCheckHealthDlg final : public ModalDialog {
public:
    using Factory = std::function<std::unique_ptr<ControlObject>()>;
    CCheckHealthDlg(Win32Prompter& prompter, platform::Clock& clock, Factory factory, std::string device_key)
        : ModalDialog(prompter), clock_(clock), factory_(std::move(factory)), key_(std::move(device_key)) {}

private:
    INT_PTR handle(UINT message, WPARAM wparam, LPARAM lparam) override;
    platform::Clock& clock_;
    Factory factory_;
    std::string key_;
};

// The information page (CPropertyDlg).
class CPropertyDlg final : public ModalDialog {
public:
    CPropertyDlg(config::DeviceStore& store, Win32Prompter& prompter) : ModalDialog(prompter), store_(store) {}

private:
    INT_PTR handle(UINT message, WPARAM wparam, LPARAM lparam) override;
    config::DeviceStore& store_;
};

// Everything the dialogs need, owned by the program; the frame asks it to run
// a dialog.
class DialogHost {
public:
    DialogHost(HINSTANCE instance, config::DeviceStore& store, Win32Prompter& prompter, platform::Clock& clock,
               CCheckHealthDlg::Factory factory = create_control_object)
        : instance_(instance), store_(store), prompter_(prompter), clock_(clock), factory_(std::move(factory)) {}

    // The add-device wizard. True when page 2 finished; key gets the entry's
    // key name and ldn page 1's logical name.
    bool run_wizard(HWND owner, std::string* key, std::string* ldn);
    // The modify page; true on Finish.
    bool run_modify(HWND owner, const std::string& key);
    bool run_ldn(HWND owner, const std::string& key);
    void run_check_health(HWND owner, const std::string& key);
    void run_property(HWND owner);

private:
    HINSTANCE instance_;
    config::DeviceStore& store_;
    Win32Prompter& prompter_;
    platform::Clock& clock_;
    CCheckHealthDlg::Factory factory_;
};

}  // namespace zrn::utility::win32
