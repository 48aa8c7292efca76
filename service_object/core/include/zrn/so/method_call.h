#pragma once

#include <cstdint>
#include <new>

#include "zrn/opos.h"

namespace zrn::so {

enum class MethodOutcome { Done, OutOfMemory, Failed };

// Runs one interface method's work. Nothing may throw across the COM
// boundary, and a method whose work was cut short by an exception must not
// look as if it succeeded: its result out-value (when it has one) reads
// failure and the outcome says why, for the shell to hand back as an error.
template <typename F>
MethodOutcome run_method(F work, std::int32_t* rc) noexcept {
    try {
        work();
        return MethodOutcome::Done;
    } catch (const std::bad_alloc&) {
        if (rc) *rc = OPOS_E_FAILURE;
        return MethodOutcome::OutOfMemory;
    } catch (...) {
        if (rc) *rc = OPOS_E_FAILURE;
        return MethodOutcome::Failed;
    }
}

}  // namespace zrn::so
