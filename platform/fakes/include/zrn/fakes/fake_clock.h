#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "zrn/platform/clock.h"

namespace zrn::fakes {

// A clock whose time moves only by sleeping or by the test.
// Instant mode (the default): sleep_ms advances the time at once and returns,
// so a single-threaded timing sequence runs instantly and exactly.
// Stepped mode: sleep_ms blocks until the test advances the time past the
// sleeper's wake-up point, for code that sleeps on several threads.
class FakeClock final : public platform::Clock {
public:
    FakeClock();

    void sleep_ms(std::uint32_t ms) override;
    platform::LocalTime local_time() override;
    std::uint64_t monotonic_ms() override;

    void set_local_time(const platform::LocalTime& t);
    void set_stepped(bool stepped);
    // Moves the time forward, waking stepped sleepers whose time has come.
    void advance(std::uint64_t ms);
    // Stepped mode: waits (in real time, at most timeout_ms) until at least n
    // threads are sleeping. Returns false on time-out.
    bool wait_for_sleepers(int n, int timeout_ms = 5000);
    // Stepped mode: advances to the earliest pending wake-up, if any.
    bool advance_to_next_wakeup();

    std::uint64_t now() const;
    std::vector<std::uint32_t> sleeps() const;  // every sleep requested, in order
    void clear_sleeps();
    int sleepers() const;

private:
    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::uint64_t now_ = 0;
    std::int64_t base_seconds_ = 0;  // local calendar seconds at now_ == 0
    bool stepped_ = false;
    std::vector<std::uint32_t> sleeps_;
    void retire_due();  // drops wake-ups whose time has come; mu_ held
    std::map<std::uint64_t, std::uint64_t> wakeups_;  // sleeper id -> wake time
    std::uint64_t next_id_ = 0;
};

}  // namespace zrn::fakes
