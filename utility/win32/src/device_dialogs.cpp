#include "device_dialogs.h"

#include <algorithm>

#include "resource.h"
#include "zrn/opos.h"

namespace zrn::utility::win32 {

// ---------------------------------------------------------------- modal dialog

INT_PTR ModalDialog::run(HINSTANCE instance, int template_id, HWND owner) {
    ended_ = false;
    result_ = 0;
    previous_owner_ = prompter_.owner();
    const bool owner_enabled = owner != nullptr && IsWindowEnabled(owner);
    if (owner_enabled) EnableWindow(owner, FALSE);
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(template_id), owner, &ModalDialog::dialog_proc,
                                     reinterpret_cast<LPARAM>(this));
    if (dialog == nullptr) {
        if (owner_enabled) EnableWindow(owner, TRUE);
        prompter_.set_owner(previous_owner_);
        return -1;
    }
    // Initialisation may have ended the dialog already; it is then never shown.
    if (!ended_) ShowWindow(dialog, SW_SHOW);
    MSG message;
    bool quit = false;
    while (!ended_) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got <= 0) {
            quit = got == 0;
            break;
        }
        const bool ours = message.hwnd == dialog || IsChild(dialog, message.hwnd);
        if (ours && message.message == WM_KEYDOWN && message.wParam == VK_RETURN) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
            continue;
        }
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    ended_ = true;  // notifications while the window goes decide nothing
    if (owner_enabled) EnableWindow(owner, TRUE);
    if (owner != nullptr) SetActiveWindow(owner);
    DestroyWindow(dialog);
    hwnd_ = nullptr;
    prompter_.set_owner(previous_owner_);
    if (quit) PostQuitMessage(static_cast<int>(message.wParam));
    return result_;
}

INT_PTR CALLBACK ModalDialog::dialog_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<ModalDialog*>(lparam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
        self->hwnd_ = hwnd;
        self->prompter_.set_owner(hwnd);
        return self->handle(message, wparam, lparam);
    }
    auto* self = reinterpret_cast<ModalDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (self == nullptr) return FALSE;
    if (self->ended_ && message == WM_COMMAND) return TRUE;
    return self->handle(message, wparam, lparam);
}

void ModalDialog::end(INT_PTR result) {
    ended_ = true;
    result_ = result;
}

std::string ModalDialog::text(int id) const {
    HWND control = GetDlgItem(hwnd_, id);
    const int n = GetWindowTextLengthA(control);
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    GetWindowTextA(control, out.data(), n + 1);
    out.resize(static_cast<std::size_t>(std::max(0, n)));
    return out.c_str();
}

void ModalDialog::set_text(int id, const std::string& value) {
    if (text(id) != value) SetDlgItemTextA(hwnd_, id, value.c_str());
}

std::string ModalDialog::list_text(int id) const {
    const LRESULT i = SendDlgItemMessageA(hwnd_, id, CB_GETCURSEL, 0, 0);
    if (i == CB_ERR) return {};
    const LRESULT n = SendDlgItemMessageA(hwnd_, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
    if (n == CB_ERR) return {};
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    SendDlgItemMessageA(hwnd_, id, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(out.data()));
    return out.c_str();
}

void ModalDialog::fill_combo(int id, const std::vector<std::string>& items) {
    const LRESULT count = SendDlgItemMessageA(hwnd_, id, CB_GETCOUNT, 0, 0);
    bool same = count == static_cast<LRESULT>(items.size());
    for (std::size_t i = 0; same && i < items.size(); ++i) {
        char buffer[64] = {};
        if (SendDlgItemMessageA(hwnd_, id, CB_GETLBTEXTLEN, i, 0) >= static_cast<LRESULT>(sizeof buffer)) {
            same = false;
            break;
        }
        SendDlgItemMessageA(hwnd_, id, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer));
        same = items[i] == buffer;
    }
    if (same) return;
    SendDlgItemMessageA(hwnd_, id, CB_RESETCONTENT, 0, 0);
    for (const std::string& item : items)
        SendDlgItemMessageA(hwnd_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
}

void ModalDialog::select_combo(int id, const std::string& value) {
    HWND combo = GetDlgItem(hwnd_, id);
    const bool list_only = (GetWindowLongA(combo, GWL_STYLE) & 0x3) == CBS_DROPDOWNLIST;
    const LRESULT i = value.empty() ? CB_ERR
                                    : SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                   reinterpret_cast<LPARAM>(value.c_str()));
    if (list_only) {
        if (SendMessageA(combo, CB_GETCURSEL, 0, 0) != i) SendMessageA(combo, CB_SETCURSEL, i, 0);
    } else if (text(id) != value) {
        if (i != CB_ERR) SendMessageA(combo, CB_SETCURSEL, i, 0);
        SetWindowTextA(combo, value.c_str());
    }
}

void ModalDialog::enable(int id, bool on) {
    HWND control = GetDlgItem(hwnd_, id);
    if (control != nullptr && (IsWindowEnabled(control) != FALSE) != on) EnableWindow(control, on ? TRUE : FALSE);
}

bool ModalDialog::checked(int id) const { return IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }

void ModalDialog::check(int id, bool on) { CheckDlgButton(hwnd_, id, on ? BST_CHECKED : BST_UNCHECKED); }

// ---------------------------------------------------------------- page 1

INT_PTR CAddDeviceDlg::handle(UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            p_.open();
            fill_combo(IDC_MODEL, p_.ModelItems);
            SendDlgItemMessageA(hwnd_, IDC_MODEL, CB_SETCURSEL, static_cast<WPARAM>(p_.ModelIndex), 0);
            check(IDC_UPOS, p_.Upos);
            set_text(IDC_MASTER_ID, p_.MasterId);
            set_text(IDC_PAGE1_LDN, p_.LogicalName);
            p_.ShowMasterId = [this] {
                set_text(IDC_MASTER_ID, p_.MasterId);
                UpdateWindow(GetDlgItem(hwnd_, IDC_MASTER_ID));
            };
            return TRUE;
        case WM_COMMAND:
            switch (LOWORD(wparam)) {
                case IDC_MODEL:
                    if (HIWORD(wparam) == CBN_SELCHANGE)
                        p_.on_model_selected(static_cast<int>(SendDlgItemMessageA(hwnd_, IDC_MODEL, CB_GETCURSEL, 0, 0)));
                    return TRUE;
                case IDOK: {
                    p_.LogicalName = text(IDC_PAGE1_LDN);
                    const int r = p_.on_next();
                    set_text(IDC_PAGE1_LDN, p_.LogicalName);
                    if (r == kStayOpen) {
                        SetFocus(GetDlgItem(hwnd_, IDC_PAGE1_LDN));
                    } else {
                        end(r);
                    }
                    return TRUE;
                }
                case IDCANCEL:
                    end(kResultCancel);
                    return TRUE;
                default:
                    return FALSE;
            }
        default:
            return FALSE;
    }
}

// ---------------------------------------------------------------- settings pages

namespace {

constexpr int kCommunicationControls[] = {IDC_COMM_GROUP,       IDC_BAUD_LABEL,   IDC_DATA_BITS_LABEL, IDC_STOP_BITS_LABEL,
                                          IDC_PARITY_LABEL,     IDC_HAND_SHAKING_LABEL, IDC_BAUD,     IDC_DATA_BITS,
                                          IDC_STOP_BITS,        IDC_PARITY};
constexpr int kStatusControls[] = {IDC_STATUS_GROUP, IDC_STATUS_LABEL, IDC_CTS, IDC_RING};
constexpr int kDrawerControls[] = {IDC_DRAWER_GROUP, IDC_DRAWER_NO_LABEL, IDC_DRAWER_NO};
constexpr int kFirstOcControls[] = {IDC_DATA_GROUP, IDC_FIRST_OC_LABEL, IDC_FIRST_OC};
constexpr int kSecondOcControls[] = {IDC_SECOND_OC_LABEL, IDC_SECOND_OC};

template <std::size_t N>
std::vector<std::string> items_of(const std::array<std::string_view, N>& items) {
    return {items.begin(), items.end()};
}

}  // namespace

void CDeviceSettingsDlg::copy_in() {
    p_.KeyName = text(IDC_KEY);
    p_.Port = text(IDC_PORT);
    p_.BaudRate = list_text(IDC_BAUD);
    p_.DataBits = list_text(IDC_DATA_BITS);
    p_.StopBits = list_text(IDC_STOP_BITS);
    p_.Parity = list_text(IDC_PARITY);
    p_.HandShaking = list_text(IDC_HAND_SHAKING);
    p_.DrawerNo = list_text(IDC_DRAWER_NO);
    p_.FirstOC = text(IDC_FIRST_OC);
    p_.SecondOC = text(IDC_SECOND_OC);
    p_.Cts = checked(IDC_CTS);
    p_.Ring = checked(IDC_RING);
}

void CDeviceSettingsDlg::copy_out() {
    updating_ = true;
    set_text(IDC_PORT_GROUP, p_.PortGroupCaption);
    fill_combo(IDC_PORT, p_.PortItems);
    fill_combo(IDC_BAUD, items_of(config::kBaudRateItems));
    fill_combo(IDC_DATA_BITS, items_of(config::kDataBitsItems));
    fill_combo(IDC_STOP_BITS, items_of(config::kStopBitsItems));
    fill_combo(IDC_PARITY, items_of(config::kParityItems));
    fill_combo(IDC_HAND_SHAKING, p_.HandShakingItemsShown);
    fill_combo(IDC_DRAWER_NO, items_of(config::kDrawerNoItems));
    set_text(IDC_KEY, p_.KeyName);
    select_combo(IDC_PORT, p_.Port);
    select_combo(IDC_BAUD, p_.BaudRate);
    select_combo(IDC_DATA_BITS, p_.DataBits);
    select_combo(IDC_STOP_BITS, p_.StopBits);
    select_combo(IDC_PARITY, p_.Parity);
    select_combo(IDC_HAND_SHAKING, p_.HandShaking);
    select_combo(IDC_DRAWER_NO, p_.DrawerNo);
    set_text(IDC_FIRST_OC, p_.FirstOC);
    set_text(IDC_SECOND_OC, p_.SecondOC);
    check(IDC_CTS, p_.Cts);
    check(IDC_RING, p_.Ring);
    for (const int id : kCommunicationControls) enable(id, p_.Enabled.communication);
    enable(IDC_HAND_SHAKING, p_.Enabled.communication && p_.HandShakingEnabled);
    for (const int id : kStatusControls) enable(id, p_.Enabled.status);
    for (const int id : kDrawerControls) enable(id, p_.Enabled.drawer);
    for (const int id : kFirstOcControls) enable(id, p_.Enabled.first_oc);
    for (const int id : kSecondOcControls) enable(id, p_.Enabled.second_oc);
    updating_ = false;
}

void CDeviceSettingsDlg::relay(void (DeviceSettingsPresenter::*handler)()) {
    copy_in();
    (p_.*handler)();
    copy_out();
}

void CDeviceSettingsDlg::focus_open_char() {
    if (p_.FocusPort) SetFocus(GetDlgItem(hwnd_, IDC_PORT));
    if (p_.FocusOpenChar != 0) SetFocus(GetDlgItem(hwnd_, p_.FocusOpenChar == 1 ? IDC_FIRST_OC : IDC_SECOND_OC));
}

INT_PTR CDeviceSettingsDlg::handle(UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) {
        SetWindowTextA(hwnd_, p_.Title().c_str());
        const int r = p_.open();
        if (r != kStayOpen) {
            end(r);
            return TRUE;
        }
        copy_out();
        return TRUE;
    }
    if (message != WM_COMMAND || updating_) return FALSE;
    const int id = LOWORD(wparam);
    const int code = HIWORD(wparam);
    switch (id) {
        case IDC_CTS:
            if (code != BN_CLICKED) return FALSE;
            relay(&DeviceSettingsPresenter::on_cts_clicked);
            return TRUE;
        case IDC_RING:
            if (code != BN_CLICKED) return FALSE;
            relay(&DeviceSettingsPresenter::on_ring_clicked);
            return TRUE;
        case IDC_HAND_SHAKING:
            if (code == CBN_SELCHANGE) relay(&DeviceSettingsPresenter::on_hand_shaking_selected);
            if (code == CBN_KILLFOCUS) relay(&DeviceSettingsPresenter::on_hand_shaking_kill_focus);
            return TRUE;
        case IDC_PORT:
            if (code == CBN_EDITCHANGE) relay(&DeviceSettingsPresenter::on_port_edited);
            return TRUE;
        case IDC_KEY:
            if (code == EN_CHANGE) relay(&DeviceSettingsPresenter::on_key_edited);
            return TRUE;
        case IDC_FIRST_OC:
        case IDC_SECOND_OC:
            if (code == EN_KILLFOCUS) {
                copy_in();
                if (!p_.on_open_char_kill_focus(id == IDC_FIRST_OC ? 1 : 2)) SetFocus(GetDlgItem(hwnd_, id));
            }
            return TRUE;
        case IDC_HEALTH_CHECK:
            if (code != BN_CLICKED) return FALSE;
            relay(&DeviceSettingsPresenter::on_health_check);
            focus_open_char();
            return TRUE;
        case IDOK: {
            copy_in();
            const int r = p_.on_finish();
            copy_out();
            if (r != kStayOpen) {
                end(r);
            } else {
                focus_open_char();
            }
            return TRUE;
        }
        case IDC_BACK:
            if (code != BN_CLICKED) return FALSE;
            end(p_.on_back());
            return TRUE;
        case IDCANCEL:
            end(p_.on_cancel());
            return TRUE;
        default:
            return FALSE;
    }
}

// ---------------------------------------------------------------- logical names

void CLdnDialog::copy_out() {
    updating_ = true;
    set_text(IDC_KEY, p_.KeyText);
    SendDlgItemMessageA(hwnd_, IDC_LDN_LIST, LB_RESETCONTENT, 0, 0);
    for (const std::string& name : p_.ListItems)
        SendDlgItemMessageA(hwnd_, IDC_LDN_LIST, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    set_text(IDC_LDN_VALUE, p_.EntryText);
    updating_ = false;
}

INT_PTR CLdnDialog::handle(UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) {
        p_.open(key_);
        copy_out();
        return TRUE;
    }
    if (message != WM_COMMAND || updating_) return FALSE;
    switch (LOWORD(wparam)) {
        case IDC_KEY:
            if (HIWORD(wparam) == EN_CHANGE) {
                p_.on_key_edited();
                updating_ = true;
                set_text(IDC_KEY, p_.KeyText);
                updating_ = false;
            }
            return TRUE;
        case IDC_LDN_ADD:
            p_.EntryText = text(IDC_LDN_VALUE);
            p_.on_add();
            copy_out();
            SetFocus(GetDlgItem(hwnd_, IDC_LDN_VALUE));
            return TRUE;
        case IDC_LDN_REMOVE: {
            const LRESULT i = SendDlgItemMessageA(hwnd_, IDC_LDN_LIST, LB_GETCURSEL, 0, 0);
            p_.Selected.clear();
            if (i != LB_ERR) {
                const LRESULT n = SendDlgItemMessageA(hwnd_, IDC_LDN_LIST, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
                std::string name(static_cast<std::size_t>(n) + 1, '\0');
                SendDlgItemMessageA(hwnd_, IDC_LDN_LIST, LB_GETTEXT, static_cast<WPARAM>(i),
                                    reinterpret_cast<LPARAM>(name.data()));
                p_.Selected = name.c_str();
            }
            p_.EntryText = text(IDC_LDN_VALUE);
            p_.on_remove();
            copy_out();
            return TRUE;
        }
        case IDOK: {
            // A Finish that could not write its names keeps the dialog open.
            const int r = p_.on_finish();
            if (r != kStayOpen) end(r);
            return TRUE;
        }
        case IDCANCEL:
            end(p_.on_cancel());
            return TRUE;
        default:
            return FALSE;
    }
}

// ---------------------------------------------------------------- health check

INT_PTR CCheckHealthDlg::handle(UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) {
        // The Control Object lives only while the check runs.
        std::unique_ptr<ControlObject> control = factory_ ? factory_() : nullptr;
        run_health_check(key_, control.get(), prompter_, clock_);
        control.reset();
        end(0);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
        end(0);
        return TRUE;
    }
    return FALSE;
}

// ---------------------------------------------------------------- information page

INT_PTR CPropertyDlg::handle(UINT message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) {
        const PropertyFields f = read_property_fields(store_);
        set_text(IDC_CO_DESCRIPTION, f.co_description);
        set_text(IDC_CO_CLASS, f.co_device_class);
        set_text(IDC_CO_VERSION, f.co_version);
        set_text(IDC_SO_DESCRIPTION, f.so_description);
        set_text(IDC_SO_VERSION, f.so_version);
        set_text(IDC_SO_RELEASE, f.so_release);
        set_text(IDC_TRACE, f.trace);
        set_text(IDC_TRACE_KEPT, f.trace_kept);
        return TRUE;
    }
    if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
        end(LOWORD(wparam));
        return TRUE;
    }
    return FALSE;
}

// ---------------------------------------------------------------- host

bool DialogHost::run_wizard(HWND owner, std::string* key, std::string* ldn) {
    AddDevicePagePresenter page1(store_, prompter_, clock_);
    Win32UsbDriverLibrary usb;
    DeviceSettingsPresenter page2(SettingsMode::Add, store_, prompter_, &usb,
                                  [this](const std::string& k) { run_check_health(prompter_.owner(), k); });
    CAddDeviceDlg dialog1(page1, prompter_);
    CDeviceSettingsDlg dialog2(page2, prompter_);
    const bool finished = run_add_device_wizard(
        page1, page2, [&] { return static_cast<int>(dialog1.run(instance_, IDD_ADD_DEVICE, owner)); },
        [&] { return static_cast<int>(dialog2.run(instance_, IDD_ADD_SETTINGS, owner)); });
    if (finished) *key = page2.DialogDeviceKey;
    *ldn = page1.LogicalName;
    return finished;
}

bool DialogHost::run_modify(HWND owner, const std::string& key) {
    DeviceSettingsPresenter page(SettingsMode::Modify, store_, prompter_, nullptr,
                                 [this](const std::string& k) { run_check_health(prompter_.owner(), k); });
    page.set_target(key);
    CDeviceSettingsDlg dialog(page, prompter_);
    return dialog.run(instance_, IDD_MODIFY_SETTINGS, owner) == kResultOk;
}

bool DialogHost::run_ldn(HWND owner, const std::string& key) {
    LdnDialogPresenter presenter(store_, prompter_);
    CLdnDialog dialog(presenter, prompter_, key);
    return dialog.run(instance_, IDD_LDN, owner) == kResultOk;
}

void DialogHost::run_check_health(HWND owner, const std::string& key) {
    CCheckHealthDlg dialog(prompter_, clock_, factory_, key);
    dialog.run(instance_, IDD_CHECK_HEALTH, owner);
}

void DialogHost::run_property(HWND owner) {
    CPropertyDlg dialog(store_, prompter_);
    dialog.run(instance_, IDD_PROPERTY, owner);
}

}  // namespace zrn::utility::win32
