#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zrn::platform {

// The one machine-wide lock that every program changing the cash drawer
// configuration (QVTUtility, zrncd config, zrncd doctor's recovery) holds
// around each read-modify-write, so two of them never pick the same new key
// or write over each other. It is held for the writes only, never while a
// person is asked something. A thread may take it again while it holds it;
// each acquire is matched by a release.
class ConfigLock {
public:
    enum class Status {
        Acquired,
        Busy,    // another program held it for the whole wait; *holder says who
        Failed,  // the lock could not be reached; *holder says why
    };
    virtual ~ConfigLock() = default;
    // Waits at most timeout_ms. who: what this program does while it holds
    // the lock ("QVTUtility", "zrncd config import"), shown to the others.
    virtual Status acquire(std::uint32_t timeout_ms, std::string_view who, std::string* holder) = 0;
    virtual void release() = 0;
};

// Holds the lock for a scope when it was acquired.
class ConfigLockHold {
public:
    ConfigLockHold(ConfigLock* lock, std::uint32_t timeout_ms, std::string_view who) : lock_(lock) {
        status_ = lock_ ? lock_->acquire(timeout_ms, who, &holder_) : ConfigLock::Status::Acquired;
    }
    ~ConfigLockHold() {
        if (lock_ && status_ == ConfigLock::Status::Acquired) lock_->release();
    }
    ConfigLockHold(const ConfigLockHold&) = delete;
    ConfigLockHold& operator=(const ConfigLockHold&) = delete;
    bool held() const { return status_ == ConfigLock::Status::Acquired; }
    ConfigLock::Status status() const { return status_; }
    // Busy: who holds it; Failed: why it could not be had.
    const std::string& holder() const { return holder_; }

private:
    ConfigLock* lock_;
    ConfigLock::Status status_;
    std::string holder_;
};

}  // namespace zrn::platform
