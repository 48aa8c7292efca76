#include "left_view.h"

#include <algorithm>
#include <string>
#include <vector>

#include "qvtutility_view.h"

namespace zrn::utility::win32 {

bool CLeftView::Create(HWND parent, int id) {
    hwnd_ = CreateWindowExA(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 170, 100,
                            parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr),
                            nullptr);
    if (hwnd_ == nullptr) return false;
    return SetWindowSubclass(hwnd_, &CLeftView::subclass_proc, 1, reinterpret_cast<DWORD_PTR>(this)) != FALSE;
}

void CLeftView::OnInitialUpdate() {
    presenter_.fill_tree();
    mirror();
    const LONG_PTR style = GetWindowLongPtrA(hwnd_, GWL_STYLE);
    SetWindowLongPtrA(hwnd_, GWL_STYLE, style | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT);
    // The devices are what the technician came for: show them at once.
    const auto root = handles_.find(presenter_.RootItem);
    if (root != handles_.end()) SendMessageA(hwnd_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root->second));
}

void CLeftView::mirror() {
    mirroring_ = true;
    const std::vector<TreeItem> items = presenter_.items();
    // Items the presenter no longer has go first; their ids are never reused.
    for (auto it = handles_.begin(); it != handles_.end();) {
        const bool kept = std::any_of(items.begin(), items.end(), [&](const TreeItem& i) { return i.id == it->first; });
        if (kept) {
            ++it;
        } else {
            SendMessageA(hwnd_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(it->second));
            it = handles_.erase(it);
        }
    }
    // New items go in after the item before them, so a refresh that finds a
    // key between two others shows it there.
    HTREEITEM previous = TVI_FIRST;
    for (const TreeItem& item : items) {
        if (const auto known = handles_.find(item.id); known != handles_.end()) {
            if (item.id != presenter_.RootItem) previous = known->second;
            continue;
        }
        std::string text = item.text;
        TVINSERTSTRUCTA insert{};
        insert.hParent = TVI_ROOT;
        insert.hInsertAfter = TVI_LAST;
        if (item.id != presenter_.RootItem) {
            const auto root = handles_.find(presenter_.RootItem);
            if (root != handles_.end()) insert.hParent = root->second;
            insert.hInsertAfter = previous;
        }
        insert.item.mask = TVIF_TEXT | TVIF_PARAM;
        insert.item.pszText = text.data();
        insert.item.lParam = item.id;
        const auto handle = reinterpret_cast<HTREEITEM>(
            SendMessageA(hwnd_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
        if (handle == nullptr) continue;
        handles_[item.id] = handle;
        if (item.id != presenter_.RootItem) previous = handle;
    }
    const auto caret = handles_.find(presenter_.caret());
    if (caret != handles_.end() &&
        reinterpret_cast<HTREEITEM>(SendMessageA(hwnd_, TVM_GETNEXTITEM, TVGN_CARET, 0)) != caret->second) {
        SendMessageA(hwnd_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(caret->second));
    }
    mirroring_ = false;
}

LRESULT CLeftView::OnNotify(const NMHDR& header) {
    switch (header.code) {
        case TVN_SELCHANGEDA:
        case TVN_SELCHANGEDW: {
            if (mirroring_) return 0;
            // Both forms carry the item's lParam at the same place.
            const auto& change = reinterpret_cast<const NMTREEVIEWA&>(header);
            presenter_.on_selection_changed(static_cast<ItemId>(change.itemNew.lParam));
            listener_.update_from_presenter();
            return 0;
        }
        case NM_RCLICK: {
            presenter_.on_right_click();
            const DWORD pos = GetMessagePos();
            SendMessageA(hwnd_, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd_), static_cast<LPARAM>(pos));
            return 1;  // handled: the control sends no context menu request of its own
        }
        case NM_DBLCLK:
            presenter_.on_double_click();
            listener_.update_from_presenter();
            return 0;
        case NM_SETFOCUS:
            listener_.set_tree_active(true);
            return 0;
        default:
            return 0;
    }
}

ItemId CLeftView::item_at(Point screen) const {
    TVHITTESTINFO hit{};
    hit.pt = POINT{screen.x, screen.y};
    ScreenToClient(hwnd_, &hit.pt);
    const auto handle = reinterpret_cast<HTREEITEM>(SendMessageA(hwnd_, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (handle == nullptr || (hit.flags & (TVHT_ONITEMLABEL | TVHT_ONITEMICON | TVHT_ONITEMSTATEICON)) == 0)
        return kNoItem;
    TVITEMA item{};
    item.mask = TVIF_PARAM;
    item.hItem = handle;
    SendMessageA(hwnd_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    return static_cast<ItemId>(item.lParam);
}

void CLeftView::OnContextMenu(POINT at) {
    POINT cursor{};
    GetCursorPos(&cursor);
    const PopupMenu menu = presenter_.on_context_menu(Point{at.x, at.y}, Point{cursor.x, cursor.y},
                                                      [this](Point p) { return item_at(p); });
    listener_.update_from_presenter();
    listener_.track_popup(menu);
}

void CLeftView::OnCommand(int command) {
    const Run run = presenter_.on_command(command);
    listener_.update_from_presenter();
    listener_.run_dialog(run);
}

LRESULT CALLBACK CLeftView::subclass_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                          DWORD_PTR self) {
    if (is_view_key(message, wparam) &&
        (message == WM_CHAR || reinterpret_cast<CLeftView*>(self)->listener_.on_view_key(wparam)))
        return 0;
    if ((message == WM_KEYDOWN || message == WM_SYSKEYDOWN) && wparam == VK_F10 &&
        (GetKeyState(VK_SHIFT) & 0x8000) != 0) {
        // Shift+F10 asks for the context menu, whether the key arrives as a
        // system key or not; taken here, it makes exactly one request.
        SendMessageA(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd), MAKELPARAM(-1, -1));
        return 0;
    }
    if (message == WM_CONTEXTMENU) {
        // (-1, -1) is a keyboard request (Shift+F10 or the menu key).
        const auto x = static_cast<short>(LOWORD(lparam));
        const auto y = static_cast<short>(HIWORD(lparam));
        reinterpret_cast<CLeftView*>(self)->OnContextMenu(POINT{x, y});
        return 0;
    }
    return DefSubclassProc(hwnd, message, wparam, lparam);
}

}  // namespace zrn::utility::win32
