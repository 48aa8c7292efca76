#pragma once

#include <functional>

namespace zrn::platform {

// Starts detached threads. Nothing waits for them; a thread that cannot be
// started is reported by false and the work is dropped.
class Threads {
public:
    virtual ~Threads() = default;
    virtual bool start(std::function<void()> work) = 0;
};

}  // namespace zrn::platform
