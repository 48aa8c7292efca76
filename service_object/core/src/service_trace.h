#pragma once

// What the Service Object's source files share.
#include <cstdint>

namespace zrn::so {

// Trace lines print 32-bit values with %ld.
inline long as_long(std::int32_t v) { return static_cast<long>(v); }

}  // namespace zrn::so
