#pragma once

namespace zrn {

// Runs f and turns any exception into on_error: nothing throws across a
// DLL export or a COM method.
template <typename F, typename R>
R guarded(F f, R on_error) noexcept {
    try {
        return f();
    } catch (...) {
        return on_error;
    }
}

}  // namespace zrn
