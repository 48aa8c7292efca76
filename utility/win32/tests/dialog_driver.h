#pragma once

// Drives the utility's real windows from a second thread, as a user would:
// window messages to the controls, message boxes answered the same way.
// Shared by the dialogs' GUI test and the demo's utility scene.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "proc.h"

namespace zrn::utility::win32::testing {

// The visible dialog or message box of the UI thread (the one drive() runs
// on) with this caption, other than `not_this`, waited for (bounded).
HWND wait_window(const std::string& caption, HWND not_this = nullptr, DWORD timeout_ms = 15000);

bool wait_gone(HWND window, DWORD timeout_ms = 15000);

// Returns once the UI thread has handled everything posted to it so far.
void flush(HWND window);

std::string text_of(HWND dialog, int id);

// The text of a message box.
std::string box_text(HWND box);

void set_text(HWND dialog, int id, const std::string& text);

// A button press as the dialog gets it from a click; posted, since the
// handler may open a message box of its own.
void press(HWND dialog, int id);

// Picks the combo box item with this text and tells the dialog, as a
// selection by the user does. False when the list has no such item.
bool select_item(HWND dialog, int id, const std::string& text);

bool enabled(HWND dialog, int id);

std::vector<std::string> list_items(HWND dialog, int id);

// The screen where the window lies, as the user sees it, after the window
// has painted what it had pending; path is a Windows path.
bool save_window_png(HWND window, const std::string& path);

// Runs a dialog on this (the UI) thread while `script` drives it from a
// second thread. Whatever the script leaves open is cancelled afterwards, so
// a failed step cannot hang the run.
void drive(const std::function<void()>& run_dialog, const std::function<void()>& script);

// DllRegisterServer or DllUnregisterServer of a library of ours (a Unix or
// Windows path).
bool call_registration(const char* dll, const char* entry);

// Runs a program (Windows path) with these arguments and waits for it
// (bounded; one that hangs is ended); true when it ended with status 0.
inline bool run_program(const std::string& program, const std::string& args, DWORD timeout_ms = 20000) {
    return e2e::finish(e2e::start(program, args).process, timeout_ms) == 0;
}

}  // namespace zrn::utility::win32::testing
