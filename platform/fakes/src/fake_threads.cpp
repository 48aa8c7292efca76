#include "zrn/fakes/fake_threads.h"

#include <iterator>

namespace zrn::fakes {

FakeThreads::~FakeThreads() { join_all(); }

bool FakeThreads::start(std::function<void()> work) {
    std::lock_guard lock(mu_);
    if (fail_ > 0) {
        --fail_;
        return false;
    }
    ++started_;
    if (mode_ == Mode::Real)
        threads_.emplace_back(std::move(work));
    else
        queue_.push_back(std::move(work));
    return true;
}

int FakeThreads::run_pending() {
    int ran = 0;
    for (;;) {
        std::function<void()> work;
        {
            std::lock_guard lock(mu_);
            if (queue_.empty()) return ran;
            work = std::move(queue_.front());
            queue_.pop_front();
        }
        work();
        ++ran;
    }
}

std::vector<std::function<void()>> FakeThreads::take_pending() {
    std::lock_guard lock(mu_);
    std::vector<std::function<void()>> work(std::make_move_iterator(queue_.begin()),
                                            std::make_move_iterator(queue_.end()));
    queue_.clear();
    return work;
}

void FakeThreads::join_all() {
    for (;;) {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mu_);
            threads.swap(threads_);
        }
        if (threads.empty()) return;
        for (auto& t : threads) t.join();
    }
}

int FakeThreads::started() const {
    std::lock_guard lock(mu_);
    return started_;
}

int FakeThreads::pending() const {
    std::lock_guard lock(mu_);
    return static_cast<int>(queue_.size());
}

void FakeThreads::fail_next(int n) {
    std::lock_guard lock(mu_);
    fail_ = n;
}

}  // namespace zrn::fakes
