#pragma once

#include <windows.h>

#include <string>

namespace zrn::utility::win32::testing {

// Saves what the screen shows inside rect (screen coordinates) as a PNG file.
// Reads the screen, so menus and message boxes over the window are in it.
bool save_screen_png(const RECT& rect, const std::string& path);

// The window's outer rectangle, grown by margin pixels on each side (a pop-up
// menu may reach beyond the window), clipped to the screen.
RECT around_window(HWND window, int margin = 0);

}  // namespace zrn::utility::win32::testing
