#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "zrn/platform/threads.h"

namespace zrn::fakes {

// Deferred mode (the default) queues the work until the test calls
// run_pending(), so the order of events is under the test's control.
// Real mode runs each start on its own thread; join_all() waits for them.
class FakeThreads final : public platform::Threads {
public:
    enum class Mode { Deferred, Real };
    explicit FakeThreads(Mode mode = Mode::Deferred) : mode_(mode) {}
    ~FakeThreads() override;

    bool start(std::function<void()> work) override;

    // Runs queued work, including work queued while running; returns the count.
    int run_pending();
    // Hands the queued work to the test, to run in an order of its own.
    std::vector<std::function<void()>> take_pending();
    void join_all();
    int started() const;
    int pending() const;
    // The next n starts fail.
    void fail_next(int n);

private:
    Mode mode_;
    mutable std::mutex mu_;
    std::deque<std::function<void()>> queue_;
    std::vector<std::thread> threads_;
    int started_ = 0;
    int fail_ = 0;
};

}  // namespace zrn::fakes
