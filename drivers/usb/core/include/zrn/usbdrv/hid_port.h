#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zrn::usbdrv {

// The HID platform layer: discovery of present HID interfaces, and the
// overlapped 3-byte report I/O of the status thread with its three events
// (read completed, write requested, stop).
class HidPort {
public:
    using Device = std::intptr_t;  // 0: none
    enum class Wake { Read, WriteRequest, Stop, Failed };

    virtual ~HidPort() = default;
    // Device paths of the present HID interfaces, in the system's order; an
    // empty path stands for an interface whose detail record could not be
    // had. False when the list cannot be obtained.
    virtual bool list_interfaces(std::vector<std::string>* paths) = 0;
    virtual Device open(const std::string& path) = 0;  // overlapped, shared read/write
    virtual bool attributes(Device d, std::uint16_t* vendor, std::uint16_t* product) = 0;
    // Fetches the parsed report descriptor (and releases it again).
    virtual bool fetch_descriptor(Device d) = 0;
    virtual bool close(Device d) = 0;

    // The events are made once and then only reset to their initial state,
    // never replaced while callers may signal them. False when one is
    // missing.
    virtual bool create_events() = 0;
    virtual void reset_stop_and_write_request() = 0;
    virtual void signal_write_request() = 0;
    virtual void signal_stop() = 0;
    // True when the operation completed at once or is pending. The layer
    // owns the buffers of its I/O, so nothing of the caller's is written
    // after the caller has gone.
    virtual bool start_read(Device d) = 0;
    virtual bool start_write(Device d, const std::uint8_t* report3) = 0;
    // Blocks until an event is signalled; served in the order read, write
    // request, stop.
    virtual Wake wait() = 0;
    // After Wake::Read: true, with the report in report3, only when the read
    // started last completed with a whole report; a failed or aborted read
    // leaves nothing to use.
    virtual bool finish_read(Device d, std::uint8_t* report3) = 0;
    // Cancels the outstanding read and write on d and waits, a bounded
    // time, until the system is done with their buffers (a buffer it has
    // not given back by then is left to it). Before d is closed.
    virtual void cancel_io(Device d) = 0;
};

}  // namespace zrn::usbdrv
