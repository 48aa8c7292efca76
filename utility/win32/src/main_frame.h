#pragma once

#include <windows.h>
#include <commctrl.h>

#include "device_dialogs.h"
#include "left_view.h"
#include "qvtutility_view.h"
#include "win32_prompter.h"
#include "zrn/utility/main_presenter.h"

namespace zrn::utility::win32 {

// A static splitter of one row and two columns. It lays out its two panes
// side by side, lets the user drag the bar between them and hands the panes'
// notifications on to the frame.
class CSplitterWnd {
public:
    static constexpr int kBarWidth = 6;

    bool Create(HWND parent, int id);
    HWND hwnd() const { return hwnd_; }
    void set_panes(HWND left, HWND right, int left_width);
    void layout();

private:
    static LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);

    HWND hwnd_ = nullptr;
    HWND left_ = nullptr;
    HWND right_ = nullptr;
    int left_width_ = 0;
    bool dragging_ = false;
};

// The main window: menu, toolbar, status bar and the splitter with the tree
// and the list. It copies the presenter's state into the controls and routes
// commands; the presenter decides.
class CMainFrame final : public PaneListener {
public:
    CMainFrame(LeftViewPresenter& presenter, Win32Prompter& prompter)
        : presenter_(presenter), prompter_(prompter), left_(presenter, *this) {}

    bool Create(HINSTANCE instance);
    HWND hwnd() const { return hwnd_; }

    // Copies the presenter's tree, list, status pane and enable flags into
    // the controls.
    void update_from_presenter() override;
    void set_tree_active(bool active) override;
    // A view key pressed in either pane: F5 reads the devices again, F6 and
    // Tab move to the other pane. True when it was one.
    bool on_view_key(WPARAM key) override;
    void track_popup(const PopupMenu& menu) override;
    void run_dialog(Run dialog) override;
    // Where the dialogs come from; without one their commands do nothing.
    void set_dialog_host(DialogHost* host) { dialogs_ = host; }

private:
    static LRESULT CALLBACK window_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam);
    int OnCreate();
    void layout();
    void OnCommand(int command);
    void switch_pane();
    LRESULT OnNotify(NMHDR& header);
    void OnInitMenuPopup(HMENU menu);
    void OnMenuSelect(UINT item, UINT flags, HMENU menu);
    void show_prompt(int command);
    void show_status();
    void update_toolbar();
    bool enabled(int command) const;

    LeftViewPresenter& presenter_;
    Win32Prompter& prompter_;
    HINSTANCE instance_ = nullptr;
    HWND hwnd_ = nullptr;
    HWND toolbar_ = nullptr;
    HIMAGELIST images_ = nullptr;
    HWND status_bar_ = nullptr;
    CSplitterWnd splitter_;
    CLeftView left_;
    CQVTUtilityView list_;
    bool tree_active_ = true;
    bool popup_from_tree_ = false;
    DialogHost* dialogs_ = nullptr;
};

}  // namespace zrn::utility::win32
