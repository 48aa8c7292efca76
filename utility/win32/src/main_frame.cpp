#include "main_frame.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <string>

#include "resource.h"

namespace zrn::utility::win32 {

static_assert(IDR_MAINFRAME == kIdrMainFrame && IDR_LEVEL0 == kIdrLevel0 && IDR_LEVEL1 == kIdrLevel1);
static_assert(ID_ADD_DEVICE == kIdAddDevice && ID_ADD_LDN == kIdAddLdn && ID_REMOVE_DEVICE == kIdRemoveDevice);
static_assert(ID_PROPERTY == kIdProperty && ID_CHECK_HEALTH == kIdCheckHealth);
static_assert(ID_MODIFY_SETTINGS == kIdModifySettings && ID_APP_EXIT_CMD == kIdAppExit &&
              ID_APP_ABOUT_CMD == kIdAppAbout);
static_assert(ID_VIEW_REFRESH == kIdRefresh && ID_NEXT_PANE_CMD == kIdNextPane && ID_PREV_PANE_CMD == kIdPrevPane);

namespace {

constexpr char kFrameClass[] = "ZrnQVTUtilityFrame";
constexpr char kSplitterClass[] = "ZrnQVTUtilitySplitter";
constexpr int kIdSplitter = 0xE900;
constexpr int kIdTreePane = 0xE900;
constexpr int kIdListPane = 0xE901;
constexpr int kIdToolbar = 0xE800;
constexpr int kIdStatusBar = 0xE801;
constexpr int kSeparator = 0;

// Toolbar buttons left to right; 0 is a separator. Images follow the order of
// the buttons in the bitmap.
constexpr std::array<int, 11> kToolbarButtons = {kIdAddDevice, kIdAddLdn,         kSeparator, kIdRemoveDevice,
                                                 kSeparator,   kIdModifySettings, kSeparator, kIdCheckHealth,
                                                 kSeparator,   kIdProperty,       kIdAppAbout};

// The command's string resource: "prompt\ntooltip".
std::string command_string(HINSTANCE instance, int command) {
    char text[512] = {};
    LoadStringA(instance, static_cast<UINT>(command), text, sizeof text);
    return text;
}

std::string prompt_of(const std::string& both) { return both.substr(0, both.find('\n')); }

std::string tooltip_of(const std::string& both) {
    const auto cut = both.find('\n');
    return cut == std::string::npos ? std::string() : both.substr(cut + 1);
}

INT_PTR CALLBACK about_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
                EndDialog(dialog, LOWORD(wparam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

// ---------------------------------------------------------------- splitter

bool CSplitterWnd::Create(HWND parent, int id) {
    WNDCLASSA wc{};
    if (!GetClassInfoA(GetModuleHandleA(nullptr), kSplitterClass, &wc)) {
        wc.lpfnWndProc = &CSplitterWnd::window_proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_SIZEWE));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kSplitterClass;
        if (RegisterClassA(&wc) == 0) return false;
    }
    hwnd_ = CreateWindowExA(0, kSplitterClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 100, 100, parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), this);
    return hwnd_ != nullptr;
}

void CSplitterWnd::set_panes(HWND left, HWND right, int left_width) {
    left_ = left;
    right_ = right;
    left_width_ = left_width;
    layout();
}

void CSplitterWnd::layout() {
    RECT rc{};
    GetClientRect(hwnd_, &rc);
    const int width = rc.right - rc.left;
    const int height = rc.bottom - rc.top;
    const int left = std::max(0, std::min(left_width_, width - kBarWidth));
    if (left_ != nullptr) MoveWindow(left_, 0, 0, left, height, TRUE);
    if (right_ != nullptr) MoveWindow(right_, left + kBarWidth, 0, std::max(0, width - left - kBarWidth), height, TRUE);
}

LRESULT CALLBACK CSplitterWnd::window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<CSplitterWnd*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self == nullptr || self->hwnd_ == nullptr) return DefWindowProcA(hwnd, message, wparam, lparam);
    return self->handle(message, wparam, lparam);
}

LRESULT CSplitterWnd::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_SIZE:
            layout();
            return 0;
        case WM_LBUTTONDOWN:
            dragging_ = true;
            SetCapture(hwnd_);
            return 0;
        case WM_MOUSEMOVE:
            if (dragging_) {
                left_width_ = std::max(0, static_cast<int>(GET_X_LPARAM(lparam)) - kBarWidth / 2);
                layout();
            }
            return 0;
        case WM_LBUTTONUP:
        case WM_CAPTURECHANGED:
            if (dragging_) {
                dragging_ = false;
                if (message == WM_LBUTTONUP) ReleaseCapture();
            }
            return 0;
        case WM_NOTIFY:
        case WM_COMMAND:
            return SendMessageA(GetParent(hwnd_), message, wparam, lparam);
        default:
            return DefWindowProcA(hwnd_, message, wparam, lparam);
    }
}

// ---------------------------------------------------------------- frame

bool CMainFrame::Create(HINSTANCE instance) {
    instance_ = instance;
    WNDCLASSA wc{};
    wc.lpfnWndProc = &CMainFrame::window_proc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
    wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDR_MAINFRAME);
    wc.lpszClassName = kFrameClass;
    if (RegisterClassA(&wc) == 0) return false;
    // The title is fixed; no document name is ever appended.
    const std::string title(kWindowTitle);
    hwnd_ = CreateWindowExA(0, kFrameClass, title.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                            CW_USEDEFAULT, kWindowWidth, kWindowHeight, nullptr, nullptr, instance, this);
    if (hwnd_ == nullptr) return false;
    prompter_.set_owner(hwnd_);
    left_.OnInitialUpdate();
    update_from_presenter();
    return true;
}

LRESULT CALLBACK CMainFrame::window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
        auto* frame = static_cast<CMainFrame*>(create->lpCreateParams);
        frame->hwnd_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(frame));
    }
    auto* self = reinterpret_cast<CMainFrame*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcA(hwnd, message, wparam, lparam);
    return self->handle(message, wparam, lparam);
}

LRESULT CMainFrame::handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate();
        case WM_SIZE:
            layout();
            return 0;
        case WM_ACTIVATE:
            // Coming back (from a message box, say), the active view gets the
            // focus again rather than the frame.
            if (LOWORD(wparam) != WA_INACTIVE && HIWORD(wparam) == 0) {
                SetFocus(tree_active_ ? left_.hwnd() : list_.hwnd());
                return 0;
            }
            return DefWindowProcA(hwnd_, message, wparam, lparam);
        case WM_SETFOCUS:
            SetFocus(tree_active_ ? left_.hwnd() : list_.hwnd());
            return 0;
        case WM_COMMAND:
            if (lparam == 0 || reinterpret_cast<HWND>(lparam) == toolbar_) OnCommand(LOWORD(wparam));
            return 0;
        case WM_NOTIFY:
            return OnNotify(*reinterpret_cast<NMHDR*>(lparam));
        case WM_INITMENUPOPUP:
            OnInitMenuPopup(reinterpret_cast<HMENU>(wparam));
            return 0;
        case WM_MENUSELECT:
            OnMenuSelect(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HMENU>(lparam));
            return 0;
        case WM_DESTROY:
            if (images_ != nullptr) ImageList_Destroy(images_);
            images_ = nullptr;
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(hwnd_, message, wparam, lparam);
    }
}

int CMainFrame::OnCreate() {
    toolbar_ = CreateWindowExA(0, TOOLBARCLASSNAMEA, "",
                               WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP,
                               0, 0, 0, 0, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdToolbar)),
                               instance_, nullptr);
    if (toolbar_ == nullptr) return -1;
    SendMessageA(toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(toolbar_, TB_SETBITMAPSIZE, 0, MAKELPARAM(16, 15));
    // The bitmap's light grey is the transparent colour, so disabled buttons
    // are drawn from the glyph's shape.
    images_ = ImageList_LoadImageA(instance_, MAKEINTRESOURCEA(IDR_MAINFRAME), 16, 0, RGB(192, 192, 192),
                                   IMAGE_BITMAP, LR_CREATEDIBSECTION);
    if (images_ == nullptr) return -1;
    SendMessageA(toolbar_, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images_));
    std::array<TBBUTTON, kToolbarButtons.size()> buttons{};
    int image = 0;
    for (std::size_t i = 0; i < kToolbarButtons.size(); ++i) {
        if (kToolbarButtons[i] == kSeparator) {
            buttons[i].fsStyle = BTNS_SEP;
        } else {
            buttons[i].iBitmap = image++;
            buttons[i].idCommand = kToolbarButtons[i];
            buttons[i].fsState = TBSTATE_ENABLED;
            buttons[i].fsStyle = BTNS_BUTTON;
        }
    }
    SendMessageA(toolbar_, TB_ADDBUTTONSA, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
    SendMessageA(toolbar_, TB_AUTOSIZE, 0, 0);

    status_bar_ = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, hwnd_,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdStatusBar)), instance_, nullptr);
    if (status_bar_ == nullptr) return -1;

    if (!splitter_.Create(hwnd_, kIdSplitter) || !left_.Create(splitter_.hwnd(), kIdTreePane) ||
        !list_.Create(splitter_.hwnd(), kIdListPane, [this](WPARAM key) { return on_view_key(key); })) {
        if (splitter_.hwnd() != nullptr) DestroyWindow(splitter_.hwnd());
        return -1;
    }
    splitter_.set_panes(left_.hwnd(), list_.hwnd(), kTreePaneWidth);

    // Size and centre on the work area.
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + ((work.right - work.left) - kWindowWidth) / 2;
    const int y = work.top + ((work.bottom - work.top) - kWindowHeight) / 2;
    SetWindowPos(hwnd_, nullptr, x, y, kWindowWidth, kWindowHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    return 0;
}

void CMainFrame::layout() {
    if (toolbar_ == nullptr || status_bar_ == nullptr || splitter_.hwnd() == nullptr) return;
    SendMessageA(toolbar_, TB_AUTOSIZE, 0, 0);
    SendMessageA(status_bar_, WM_SIZE, 0, 0);
    RECT client{}, bar{}, status{};
    GetClientRect(hwnd_, &client);
    GetWindowRect(toolbar_, &bar);
    GetWindowRect(status_bar_, &status);
    const int top = bar.bottom - bar.top;
    const int bottom = client.bottom - (status.bottom - status.top);
    MoveWindow(splitter_.hwnd(), 0, top, client.right, std::max(0, bottom - top), TRUE);
}

bool CMainFrame::enabled(int command) const {
    return presenter_.is_enabled(command, popup_from_tree_ || tree_active_);
}

void CMainFrame::update_from_presenter() {
    left_.mirror();
    list_.show(presenter_.list);
    show_status();
    update_toolbar();
}

void CMainFrame::set_tree_active(bool active) {
    if (tree_active_ == active) return;
    tree_active_ = active;
    update_toolbar();
}

void CMainFrame::show_status() {
    const StatusPane& pane = presenter_.status;
    // Width 0: the message pane as created, stretching and with borders.
    int right = pane.width == 0 ? -1 : pane.width;
    SendMessageA(status_bar_, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&right));
    const WPARAM style = pane.width == 0 ? 0 : SBT_NOBORDERS;
    SendMessageA(status_bar_, SB_SETTEXTA, 0 | style, reinterpret_cast<LPARAM>(pane.text.c_str()));
}

void CMainFrame::show_prompt(int command) {
    const std::string prompt = prompt_of(command_string(instance_, command));
    const WPARAM style = presenter_.status.width == 0 ? 0 : SBT_NOBORDERS;
    SendMessageA(status_bar_, SB_SETTEXTA, 0 | style, reinterpret_cast<LPARAM>(prompt.c_str()));
}

void CMainFrame::update_toolbar() {
    if (toolbar_ == nullptr) return;
    for (const int command : kToolbarButtons) {
        if (command == kSeparator) continue;
        SendMessageA(toolbar_, TB_ENABLEBUTTON, command, MAKELPARAM(enabled(command) ? TRUE : FALSE, 0));
    }
}

void CMainFrame::switch_pane() {
    // Two panes: the next one and the previous one are the same.
    SetFocus(tree_active_ ? list_.hwnd() : left_.hwnd());
}

bool CMainFrame::on_view_key(WPARAM key) {
    switch (key) {
        case VK_F5:
            OnCommand(kIdRefresh);
            return true;
        case VK_F6:
        case VK_TAB:
            OnCommand((GetKeyState(VK_SHIFT) & 0x8000) != 0 ? kIdPrevPane : kIdNextPane);
            return true;
        default:
            return false;
    }
}

void CMainFrame::OnCommand(int command) {
    if (command == kIdNextPane || command == kIdPrevPane) {
        switch_pane();
        return;
    }
    if (!enabled(command)) return;
    switch (command) {
        case kIdAppExit:
            PostMessageA(hwnd_, WM_CLOSE, 0, 0);
            return;
        case kIdAppAbout:
            DialogBoxParamA(instance_, MAKEINTRESOURCEA(IDD_ABOUTBOX), hwnd_, about_proc, 0);
            return;
        default:
            // Device and property commands have their handler in the tree pane
            // only; with the list pane active they were disabled above.
            left_.OnCommand(command);
            return;
    }
}

LRESULT CMainFrame::OnNotify(NMHDR& header) {
    if (header.hwndFrom == left_.hwnd()) return left_.OnNotify(header);
    if (header.hwndFrom == list_.hwnd()) {
        if (header.code == NM_SETFOCUS) set_tree_active(false);
        return 0;
    }
    switch (header.code) {
        case TTN_GETDISPINFOA: {
            auto& info = reinterpret_cast<NMTTDISPINFOA&>(header);
            static std::string tip;
            tip = tooltip_of(command_string(instance_, static_cast<int>(header.idFrom)));
            info.lpszText = tip.data();
            return 0;
        }
        case TTN_GETDISPINFOW: {
            auto& info = reinterpret_cast<NMTTDISPINFOW&>(header);
            const std::string tip = tooltip_of(command_string(instance_, static_cast<int>(header.idFrom)));
            MultiByteToWideChar(CP_ACP, 0, tip.c_str(), -1, info.szText, static_cast<int>(std::size(info.szText)));
            info.lpszText = info.szText;
            return 0;
        }
        case TBN_HOTITEMCHANGE: {
            // Hovering a button shows its prompt, as the menus do.
            const auto& hot = reinterpret_cast<const NMTBHOTITEM&>(header);
            if (header.hwndFrom != toolbar_) return 0;
            if ((hot.dwFlags & HICF_LEAVING) != 0 || hot.idNew == 0) {
                show_status();
            } else {
                show_prompt(hot.idNew);
            }
            return 0;
        }
        default:
            return 0;
    }
}

void CMainFrame::OnInitMenuPopup(HMENU menu) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        const UINT id = GetMenuItemID(menu, i);
        if (id == 0 || id == static_cast<UINT>(-1)) continue;  // separators and sub-menus
        EnableMenuItem(menu, id, MF_BYCOMMAND | (enabled(static_cast<int>(id)) ? MF_ENABLED : MF_GRAYED));
    }
}

void CMainFrame::OnMenuSelect(UINT item, UINT flags, HMENU menu) {
    if (flags == 0xFFFF && menu == nullptr) {
        show_status();  // the menu closed
        return;
    }
    if ((flags & (MF_POPUP | MF_SEPARATOR)) != 0 || item == 0) {
        show_status();
        return;
    }
    show_prompt(static_cast<int>(item));
}

void CMainFrame::track_popup(const PopupMenu& menu) {
    HMENU bar = LoadMenuA(instance_, MAKEINTRESOURCEA(menu.resource));
    if (bar == nullptr) return;
    HMENU popup = GetSubMenu(bar, 0);
    // The tree owns the pop-up's commands, whichever pane is active.
    popup_from_tree_ = true;
    const int command = TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, menu.at.x, menu.at.y,
                                       0, hwnd_, nullptr);
    popup_from_tree_ = false;
    DestroyMenu(bar);
    if (command != 0) left_.OnCommand(command);
}

void CMainFrame::run_dialog(Run dialog) {
    if (dialogs_ == nullptr || dialog == Run::Nothing) return;
    bool finished = false;
    switch (dialog) {
        case Run::AddDeviceWizard: {
            std::string key, ldn;
            finished = dialogs_->run_wizard(hwnd_, &key, &ldn);
            if (finished) presenter_.DialogDeviceKey = key;
            presenter_.DialogLdn = ldn;
            break;
        }
        case Run::ModifyDialog:
            finished = dialogs_->run_modify(hwnd_, presenter_.DialogDeviceKey);
            break;
        case Run::LdnDialog:
            finished = dialogs_->run_ldn(hwnd_, presenter_.DialogDeviceKey);
            break;
        case Run::CheckHealth:
            dialogs_->run_check_health(hwnd_, presenter_.DialogDeviceKey);
            break;
        case Run::PropertyPage:
            dialogs_->run_property(hwnd_);
            break;
        case Run::Nothing:
            return;
    }
    presenter_.on_dialog_closed(dialog, finished);
    update_from_presenter();
}

}  // namespace zrn::utility::win32
