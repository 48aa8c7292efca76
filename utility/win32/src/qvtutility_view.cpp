#include "qvtutility_view.h"

#include <commctrl.h>

#include <string>

namespace zrn::utility::win32 {

bool is_view_key(UINT message, WPARAM key) {
    if (message == WM_CHAR) return key == '\t';
    return message == WM_KEYDOWN && (key == VK_F5 || key == VK_F6 || key == VK_TAB);
}

bool CQVTUtilityView::Create(HWND parent, int id, std::function<bool(WPARAM)> keys) {
    keys_ = std::move(keys);
    // No view-mode bits: icon mode until the first selection.
    hwnd_ = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP, 0, 0, 100, 100,
                            parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr),
                            nullptr);
    if (hwnd_ == nullptr) return false;
    return SetWindowSubclass(hwnd_, &CQVTUtilityView::subclass_proc, 1, reinterpret_cast<DWORD_PTR>(this)) != FALSE;
}

LRESULT CALLBACK CQVTUtilityView::subclass_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                                DWORD_PTR self) {
    auto* view = reinterpret_cast<CQVTUtilityView*>(self);
    if (is_view_key(message, wparam) && (message == WM_CHAR || (view->keys_ && view->keys_(wparam)))) return 0;
    return DefSubclassProc(hwnd, message, wparam, lparam);
}

void CQVTUtilityView::show(const ListState& list) {
    SendMessageA(hwnd_, WM_SETREDRAW, FALSE, 0);
    DWORD mode = LVS_ICON;
    if (list.mode == ListMode::Report) mode = LVS_REPORT;
    if (list.mode == ListMode::List) mode = LVS_LIST;
    const LONG_PTR style = GetWindowLongPtrA(hwnd_, GWL_STYLE);
    if ((style & LVS_TYPEMASK) != mode) SetWindowLongPtrA(hwnd_, GWL_STYLE, (style & ~LVS_TYPEMASK) | mode);

    SendMessageA(hwnd_, LVM_DELETEALLITEMS, 0, 0);
    while (SendMessageA(hwnd_, LVM_DELETECOLUMN, 0, 0)) {
    }
    for (std::size_t i = 0; i < list.columns.size(); ++i) {
        std::string title = list.columns[i].title;
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = list.columns[i].width;
        column.pszText = title.data();
        column.iSubItem = static_cast<int>(i);
        SendMessageA(hwnd_, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
    for (std::size_t i = 0; i < list.rows.size(); ++i) {
        std::string label = list.rows[i].label;
        std::string value = list.rows[i].value;
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(i);
        item.pszText = label.data();
        const auto index = SendMessageA(hwnd_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        if (index < 0) continue;
        LVITEMA sub{};
        sub.iSubItem = 1;
        sub.pszText = value.data();
        SendMessageA(hwnd_, LVM_SETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&sub));
    }
    SendMessageA(hwnd_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(hwnd_, nullptr, TRUE);
}

}  // namespace zrn::utility::win32
