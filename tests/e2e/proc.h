#pragma once

#include <windows.h>

// A function of a loaded library, typed.
template <typename F>
F proc(HMODULE lib, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
}
