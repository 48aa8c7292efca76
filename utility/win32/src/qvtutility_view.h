#pragma once

#include <windows.h>

#include "zrn/utility/main_presenter.h"

namespace zrn::utility::win32 {

// The right pane: a list control showing the presenter's list. It holds no
// data of its own; every show() rebuilds the control from the list state.
class CQVTUtilityView {
public:
    bool Create(HWND parent, int id);
    HWND hwnd() const { return hwnd_; }
    void show(const ListState& list);

private:
    HWND hwnd_ = nullptr;
};

}  // namespace zrn::utility::win32
