#include "dialog_driver.h"

#include <atomic>
#include <thread>

#include "opos_client.h"
#include "screen_shot.h"

namespace zrn::utility::win32::testing {
namespace {

std::atomic<DWORD> g_ui_thread{0};

struct Find {
    std::string caption;
    HWND not_this;
    HWND found;
};

// Window enumeration callbacks are stdcall in the 32-bit build: named
// functions, not lambdas.
BOOL CALLBACK find_visible(HWND w, LPARAM p) {
    auto* f = reinterpret_cast<Find*>(p);
    char text[256] = {};
    GetWindowTextA(w, text, sizeof text);
    if (w != f->not_this && IsWindowVisible(w) && f->caption == text) {
        f->found = w;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK cancel_visible(HWND w, LPARAM) {
    if (IsWindowVisible(w)) PostMessageA(w, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

}  // namespace

HWND wait_window(const std::string& caption, HWND not_this, DWORD timeout_ms) {
    const ULONGLONG until = GetTickCount64() + timeout_ms;
    while (GetTickCount64() < until) {
        Find find{caption, not_this, nullptr};
        EnumThreadWindows(g_ui_thread, find_visible, reinterpret_cast<LPARAM>(&find));
        if (find.found != nullptr) return find.found;
        Sleep(20);
    }
    return nullptr;
}

bool wait_gone(HWND window, DWORD timeout_ms) {
    const ULONGLONG until = GetTickCount64() + timeout_ms;
    while (GetTickCount64() < until) {
        if (!IsWindow(window) || !IsWindowVisible(window)) return true;
        Sleep(20);
    }
    return false;
}

// Returns once the window's thread has handled what was posted to it before.
// A sent message would overtake posted ones, so a marker is posted behind
// them: an edit control's modified flag, which the thread sets only when it
// gets there.
void flush(HWND window) {
    HWND marker = FindWindowExA(window, nullptr, "Edit", nullptr);
    if (marker == nullptr) {
        SendMessageA(window, WM_NULL, 0, 0);
        SendMessageA(window, WM_NULL, 0, 0);
        return;
    }
    SendMessageA(marker, EM_SETMODIFY, FALSE, 0);
    PostMessageA(marker, EM_SETMODIFY, TRUE, 0);
    const ULONGLONG until = GetTickCount64() + 15000;
    while (SendMessageA(marker, EM_GETMODIFY, 0, 0) == 0 && GetTickCount64() < until) Sleep(5);
}

std::string text_of(HWND dialog, int id) {
    char text[512] = {};
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::string box_text(HWND box) { return text_of(box, 0xFFFF); }

void set_text(HWND dialog, int id, const std::string& text) {
    SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void press(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

bool select_item(HWND dialog, int id, const std::string& text) {
    HWND combo = GetDlgItem(dialog, id);
    const LRESULT i = SendMessageA(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                   reinterpret_cast<LPARAM>(text.c_str()));
    if (i == CB_ERR) return false;
    SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    return true;
}

bool enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

std::vector<std::string> list_items(HWND dialog, int id) {
    std::vector<std::string> out;
    HWND list = GetDlgItem(dialog, id);
    const LRESULT n = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < n; ++i) {
        char text[256] = {};
        SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        out.push_back(text);
    }
    return out;
}

bool save_window_png(HWND window, const std::string& path) {
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    SendMessageA(window, WM_NULL, 0, 0);
    return save_screen_png(around_window(window), path);
}

void drive(const std::function<void()>& run_dialog, const std::function<void()>& script) {
    g_ui_thread = GetCurrentThreadId();
    std::atomic<bool> done{false};
    std::thread driver([&] {
        script();
        const ULONGLONG until = GetTickCount64() + 10000;
        while (!done && GetTickCount64() < until) {
            EnumThreadWindows(g_ui_thread, cancel_visible, 0);
            Sleep(100);
        }
    });
    run_dialog();
    done = true;
    driver.join();
}

bool call_registration(const char* dll, const char* entry) {
    HMODULE module = LoadLibraryA(client::windows_path(dll).c_str());
    if (module == nullptr) return false;
    auto* f = reinterpret_cast<HRESULT(__stdcall*)()>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
    const bool ok = f != nullptr && SUCCEEDED(f());
    FreeLibrary(module);
    return ok;
}

}  // namespace zrn::utility::win32::testing
