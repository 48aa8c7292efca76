#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdint>

#include "zrn/platform/clock.h"
#include "zrn/platform/registry.h"
#include "zrn/platform/threads.h"
#include "zrn/status_capture.h"
#include "zrn/trace.h"
#include "zrn/usbdrv/hid_port.h"

namespace zrn::usbdrv {

// The identifiers of the drawer interface hardware.
constexpr std::uint16_t DrawerVendorId = 0x0B1D;
constexpr std::uint16_t DrawerProductId = 0x0730;
constexpr std::int32_t kVersion = 3359;

// The longest the driver waits for what another thread does (README, "Bounds").
// The status thread's return: CloseUPort after its 250 ms, and a start that
// finds the previous thread still ending. Covers a DCSDelay (at most 3000 ms)
// in progress; a thread held longer (in the status callback) is left to end
// by itself, and its device handle is closed without it.
constexpr std::uint32_t kThreadEndWaitMs = 4000;
// A restarted status thread to wait on its events, after the restart's 5 s.
constexpr std::uint32_t kThreadReadyWaitMs = 5000;

struct UsbSettings {
    std::int32_t ODVEnabled = 0;
    std::int32_t RDKInterval = 0;
    std::int32_t RDKDelay = 0;
    std::int32_t DCSDelay = 0;
    std::int32_t TraceEnabled = 0;
    std::int32_t TraceKeepDays = 0;  // read on its own, whatever the five did
};

// Reads the five settings in order, stopping at the first one that cannot
// be read, and applies their limits; then TraceKeepDays.
UsbSettings read_usb_settings(platform::Registry& reg);

struct UsbPorts {
    HidPort& hid;
    platform::Clock& clock;
    platform::Threads& threads;
    TraceLog& trace;
};

// The USB driver's module-wide state and its exports' behaviour.
class UsbDriver {
public:
    UsbDriver(UsbPorts ports, const UsbSettings& settings);  // the library's load

    std::int32_t OpenUPort(std::int32_t unit);
    std::int32_t CloseUPort(std::int32_t unit);
    std::int32_t UVersion() const { return kVersion; }
    std::int32_t StartStatusUCapture(std::int32_t enable, StatusCaptureCallback callback) {
        return capture_.start(enable, callback);
    }
    std::int32_t OpenUCashDrawer(std::int32_t unit);
    std::int32_t UCashDrawerStatus(std::int32_t unit);

    bool thread_running() const { return running_.load(); }
    // The status thread has not returned yet (it may be ending).
    bool thread_alive() const {
        std::lock_guard lock(life_mu_);
        return alive_;
    }
    bool device_open() const { return device_.load() != 0; }
    std::int32_t current_state() const { return current_.load(); }
    const UsbSettings& settings() const { return settings_; }

private:
    void status_thread();
    bool start_thread();       // false when it could not be started
    // Waits until pred holds or bound_ms have passed on the clock; whether it holds.
    template <typename Pred>
    bool wait_bounded(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, Pred pred,
                      std::uint32_t bound_ms);
    // Starts I/O on the status thread's device d while it is still the open
    // one and no stop is asked for: CloseUPort closes a handle only under
    // the same lock, so the thread never uses one that was closed.
    template <typename Io>
    bool on_own_device(HidPort::Device d, Io io);
    void thread_ends(HidPort::Device d, bool when, const char* line);
    void set_ready(bool ready);
    std::int32_t restart(const char* label);
    // Has the status thread write the opening report to the drawer.
    void send_opening_report();
    // Whether the thread reads the drawer open after that report, within 1.2 s.
    bool await_drawer_opened();
    void trace(bool when, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    bool every_line() const { return TraceSwitch{settings_.TraceEnabled}.every_line(); }
    bool error_lines() const { return TraceSwitch{settings_.TraceEnabled}.error_lines(); }

    UsbPorts ports_;
    UsbSettings settings_;
    std::atomic<HidPort::Device> device_{0};
    std::atomic<bool> running_{false};
    std::atomic<bool> reopened_{false};
    std::atomic<bool> ready_{false};  // the thread waits on its events
    // The status thread's life: set before it is started, cleared as its
    // last act. Nothing it uses is reused before then.
    mutable std::mutex life_mu_;
    std::condition_variable life_cv_;
    bool alive_ = false;
    std::atomic<bool> stop_requested_{false};
    std::mutex restart_mu_;  // one restart at a time
    std::mutex io_mu_;       // the status thread's I/O against the close of its handle
    std::mutex ready_mu_;
    std::condition_variable ready_cv_;
    std::atomic<std::int32_t> last_{2};
    std::atomic<std::int32_t> current_{2};
    std::atomic<std::int32_t> opening_pending_{0};
    std::atomic<std::int32_t> opening_ack_{0};
    StatusCapture capture_;
};

}  // namespace zrn::usbdrv
