#pragma once

// The last Win32 call that failed, kept so that a program can say which call
// it was and why, long after the code that made it has returned its own code.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace zrn::win32 {

struct LastError {
    std::string operation;   // the call and what it was on: CreateFileA "C:\ZRN\x.log"
    std::uint32_t code = 0;  // the Win32 error code; 0 when no call has failed
    explicit operator bool() const { return code != 0; }
};

// "call" or "call "subject"" as an operation's text.
std::string operation_text(const char* call, std::string_view subject = {});
// The call with GetLastError()'s code, read before anything else can change it.
LastError last_error_of(const char* call, std::string_view subject = {});

// "CreateFileA "C:\ZRN\x.log" failed: Win32 error 5 (Access is denied.)",
// "" for no error.
std::string describe(const LastError& e);

// The system's text for an error code ("Access is denied."), without the
// line break it ends in; empty when the system has none.
std::string system_text(std::uint32_t code);
// "Access is denied. (Windows error 5)", as a message box names a failure.
std::string error_text(std::uint32_t code);

// One adapter's last failure. Adapters are shared between threads, so the
// slot takes a lock; it is only written when a call fails.
class LastErrorSlot {
public:
    void record(std::string operation, std::uint32_t code) {
        std::lock_guard guard(mu_);
        last_ = LastError{std::move(operation), code};
    }
    // The call that just failed, with GetLastError()'s code.
    void record_last(const char* call, std::string_view subject = {});
    LastError get() const {
        std::lock_guard guard(mu_);
        return last_;
    }
    void clear() {
        std::lock_guard guard(mu_);
        last_ = LastError{};
    }

private:
    mutable std::mutex mu_;
    LastError last_;
};

// An adapter that keeps its last failing call for its callers to show.
class KeepsLastError {
public:
    // The last call of this adapter that failed (kept until the next failure
    // or clear_last_error()).
    LastError last_error() const { return errors_.get(); }
    void clear_last_error() { errors_.clear(); }

protected:
    LastErrorSlot errors_;
};

}  // namespace zrn::win32
