#pragma once

#include <atomic>
#include <cstdint>

#include "zrn/status_callback.h"

namespace zrn {

// A driver's capture switch and registered status callback, read by its
// polling or status thread without a lock.
class StatusCapture {
public:
    // enable nonzero: capture on, and a non-null callback replaces the stored
    // one; enable zero: off, and the callback is forgotten. Always 1.
    std::int32_t start(std::int32_t enable, StatusCaptureCallback callback) {
        if (enable) {
            // The callback before the switch: a reader never sees the switch
            // on with a stale callback.
            if (callback) callback_ = callback;
            on_ = enable;
        } else {
            on_ = 0;
            callback_ = nullptr;
        }
        return 1;
    }
    bool on() const { return on_.load() != 0; }
    void report(const char* status_name, std::int32_t value) const {
        const StatusCaptureCallback cb = callback_.load();
        if (cb) cb(status_name, value);
    }

private:
    std::atomic<std::int32_t> on_{0};
    std::atomic<StatusCaptureCallback> callback_{nullptr};
};

}  // namespace zrn
