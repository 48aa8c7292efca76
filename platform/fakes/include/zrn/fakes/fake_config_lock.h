#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zrn/platform/config_lock.h"

namespace zrn::fakes {

// The machine-wide configuration lock as several programs see it: every
// FakeConfigLock made from one machine contends for the same lock. Waiting
// takes no time: a lock another program holds answers Busy at once, and the
// wait each acquire asked for is kept.
class FakeLockMachine {
public:
    struct State {
        int owner = 0;  // the FakeConfigLock holding it, 0 none
        int depth = 0;
        std::string holder;
        std::vector<std::uint32_t> waits;  // every acquire's timeout, in order
        bool broken = false;               // the kernel object cannot be reached
    };
    std::shared_ptr<State> state = std::make_shared<State>();
};

class FakeConfigLock final : public platform::ConfigLock {
public:
    explicit FakeConfigLock(FakeLockMachine& machine) : state_(machine.state), id_(++next_id_) {}
    FakeConfigLock() : FakeConfigLock(own_) {}

    Status acquire(std::uint32_t timeout_ms, std::string_view who, std::string* holder) override {
        state_->waits.push_back(timeout_ms);
        if (state_->broken) {
            *holder = "the lock cannot be reached";
            return Status::Failed;
        }
        if (state_->owner != 0 && state_->owner != id_) {
            *holder = state_->holder;
            return Status::Busy;
        }
        state_->owner = id_;
        ++state_->depth;
        state_->holder = std::string(who) + " (fake " + std::to_string(id_) + ")";
        return Status::Acquired;
    }
    void release() override {
        if (state_->owner != id_ || state_->depth == 0) return;
        if (--state_->depth == 0) {
            state_->owner = 0;
            state_->holder.clear();
        }
    }
    bool held() const { return state_->owner == id_; }
    const FakeLockMachine::State& state() const { return *state_; }

private:
    FakeLockMachine own_;
    std::shared_ptr<FakeLockMachine::State> state_;
    int id_;
    static inline int next_id_ = 0;
};

}  // namespace zrn::fakes
