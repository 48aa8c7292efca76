#pragma once

#include <windows.h>
#include <commctrl.h>

#include <map>

#include "zrn/utility/main_presenter.h"

namespace zrn::utility::win32 {

class CMainFrame;

// The left pane: a tree control mirroring the presenter's items and caret.
// Notifications and commands go to the presenter; afterwards the frame copies
// the presenter's state back into every control.
class CLeftView {
public:
    CLeftView(LeftViewPresenter& presenter, CMainFrame& frame) : presenter_(presenter), frame_(frame) {}

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
    CMainFrame& frame_;
    HWND hwnd_ = nullptr;
    std::map<ItemId, HTREEITEM> handles_;
    bool mirroring_ = false;
};

}  // namespace zrn::utility::win32
