#pragma once

// Calling convention of every driver export and of the status callback.
// It only matters on 32-bit Windows; elsewhere it expands to nothing so the
// portable cores build natively too.
#if defined(_WIN32) && !defined(_WIN64)
#define ZRN_STDCALL __stdcall
#else
#define ZRN_STDCALL
#endif
