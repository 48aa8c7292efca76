#pragma once

#include <windows.h>
#include <commctrl.h>

#include <map>

#include "zrn/utility/main_presenter.h"

namespace zrn::utility::win32 {

// What the tree pane tells the window it sits in once the presenter has
// taken a notification or a command; the window listens and does the rest.
class PaneListener {
public:
    // The presenter's state changed: copy it into every control.
    virtual void update_from_presenter() = 0;
    virtual void set_tree_active(bool active) = 0;
    // A view key (F5, F6, Tab); true when the window took it.
    virtual bool on_view_key(WPARAM key) = 0;
    virtual void track_popup(const PopupMenu& menu) = 0;
    virtual void run_dialog(Run dialog) = 0;

protected:
    ~PaneListener() = default;
};

// The left pane: a tree control mirroring the presenter's items and caret.
// Notifications and commands go to the presenter; afterwards the listener
// copies the presenter's state back into every control.
class CLeftView {
public:
    CLeftView(LeftViewPresenter& presenter, PaneListener& listener) : presenter_(presenter), listener_(listener) {}

    bool Create(HWND parent, int id);
    HWND hwnd() const { return hwnd_; }

    // Fills the presenter's tree once and shows it.
    void OnInitialUpdate();
    // A notification the tree sent its parent; the result to return.
    LRESULT OnNotify(const NMHDR& header);
    // A command of the menus or the toolbar while this pane is the active view.
    void OnCommand(int command);
    // Brings the control's items and selection in line with the presenter.
    void mirror();

private:
    static LRESULT CALLBACK subclass_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                          DWORD_PTR self);
    void OnContextMenu(POINT at);
    ItemId item_at(Point screen) const;

    LeftViewPresenter& presenter_;
    PaneListener& listener_;
    HWND hwnd_ = nullptr;
    std::map<ItemId, HTREEITEM> handles_;
    bool mirroring_ = false;
};

}  // namespace zrn::utility::win32
