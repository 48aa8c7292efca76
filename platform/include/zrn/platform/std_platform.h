#pragma once

#include "zrn/platform/clock.h"
#include "zrn/platform/threads.h"

namespace zrn::platform {

// Portable real implementations (standard library only).
class StdClock final : public Clock {
public:
    void sleep_ms(std::uint32_t ms) override;
    LocalTime local_time() override;
    std::uint64_t monotonic_ms() override;
};

class StdThreads final : public Threads {
public:
    bool start(std::function<void()> work) override;
};

}  // namespace zrn::platform
