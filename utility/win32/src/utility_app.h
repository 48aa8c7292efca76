#pragma once

#include <windows.h>

#include "device_dialogs.h"
#include "main_frame.h"
#include "win32_prompter.h"
#include "zrn/config/device_store.h"
#include "zrn/utility/main_presenter.h"
#include "zrn/config/usb_config.h"
#include "zrn/win32/config_lock.h"
#include "zrn/win32/win32_platform.h"

namespace zrn::utility::win32 {

// QVTUtility's objects, wired as the program runs them: the real registry,
// files and clock under the store, the presenters, the dialogs and the main
// window. WinMain and the scripted demo build the same thing from here.
class UtilityApp {
public:
    explicit UtilityApp(HINSTANCE instance)
        : instance_(instance), dialogs_(instance, store_, prompter_, clock_) {
        frame_.set_dialog_host(&dialogs_);
    }
    UtilityApp(const UtilityApp&) = delete;
    UtilityApp& operator=(const UtilityApp&) = delete;

    // Creates the main window and shows it; false when it was not created.
    bool show(int how) {
        if (!frame_.Create(instance_)) return false;
        ShowWindow(frame_.hwnd(), how);
        UpdateWindow(frame_.hwnd());
        return true;
    }
    HWND main_window() const { return frame_.hwnd(); }
    platform::Registry& registry() { return registry_; }

private:
    HINSTANCE instance_;
    zrn::win32::Win32Registry registry_;
    zrn::win32::Win32Files files_;
    zrn::win32::Win32Clock clock_;
    Win32Prompter prompter_;
    // The configuration lock zrncd config takes too: one writer at a time.
    zrn::win32::Win32ConfigLock lock_;
    config::DeviceStore store_{registry_, prompter_, &lock_};
    config::UsbConfig usb_config_{files_};
    LeftViewPresenter presenter_{store_, usb_config_, prompter_};
    DialogHost dialogs_;
    CMainFrame frame_{presenter_, prompter_};
};

}  // namespace zrn::utility::win32
