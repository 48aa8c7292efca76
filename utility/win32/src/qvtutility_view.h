#pragma once

#include <windows.h>

#include <functional>

#include "zrn/utility/main_presenter.h"

namespace zrn::utility::win32 {

// The right pane: a list control showing the presenter's list. It holds no
// data of its own; every show() rebuilds the control from the list state.
class CQVTUtilityView {
public:
    // keys: the frame's handling of the view keys (F5, F6, Tab); true when
    // it took the key.
    bool Create(HWND parent, int id, std::function<bool(WPARAM)> keys);
    HWND hwnd() const { return hwnd_; }
    void show(const ListState& list);

private:
    static LRESULT CALLBACK subclass_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR id,
                                          DWORD_PTR self);
    HWND hwnd_ = nullptr;
    std::function<bool(WPARAM)> keys_;
};

// Whether a key message is one of the frame's view keys (F5, F6, Tab), which
// both panes hand to the frame; the character a Tab makes as well, so the
// control does not beep at it.
bool is_view_key(UINT message, WPARAM key);

}  // namespace zrn::utility::win32
