#include "zrn/usbdrv/usb_driver.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>

#include "zrn/device_config.h"
#include "zrn/device_types.h"

namespace zrn::usbdrv {

namespace {
constexpr std::uint8_t kIdleReport[3] = {0, 0, 0};
constexpr std::uint8_t kOpeningReport[3] = {0, 1, 1};
constexpr std::int32_t kStateOpen = 1;
constexpr std::int32_t kStateClosed = 2;
constexpr std::int32_t kStateIgnored = 3;

// Set on the status thread, which may call CloseUPort from the callback.
thread_local bool t_status_thread = false;

std::int32_t clamp(std::int32_t v, std::int32_t lo, std::int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }
}  // namespace

UsbSettings read_usb_settings(platform::Registry& reg) {
    UsbSettings s;
    platform::ScopedKey key(reg);
    if (reg.open_key(platform::kHklm, kServiceSettingsKey, false, key.out()) != platform::kRegOk) return s;
    std::int32_t* const fields[5] = {&s.ODVEnabled, &s.RDKInterval, &s.RDKDelay, &s.DCSDelay, &s.TraceEnabled};
    const char* const names[5] = {"ODVEnabled", "RDKInterval", "RDKDelay", "DCSDelay", "TraceEnabled"};
    for (int i = 0; i < 5; ++i) {
        platform::RegData d;
        if (reg.query_value(key.get(), names[i], 256, &d) != platform::kRegOk) break;  // this and the rest stay 0
        std::uint32_t raw = 0;
        for (std::size_t b = 0; b < 4 && b < d.bytes.size(); ++b) raw |= static_cast<std::uint32_t>(d.bytes[b]) << (8 * b);
        *fields[i] = static_cast<std::int32_t>(raw);
    }
    s.RDKInterval = clamp(s.RDKInterval, 0, 9);
    if (s.RDKDelay > 0) s.RDKDelay = clamp(s.RDKDelay, 100, 3000);
    if (s.DCSDelay > 0) s.DCSDelay = clamp(s.DCSDelay, 200, 3000);
    s.TraceKeepDays = config::read_trace_keep_days(reg);
    return s;
}

UsbDriver::UsbDriver(UsbPorts ports, const UsbSettings& settings) : ports_(ports), settings_(settings) {
    ports_.trace.set_keep_days(settings_.TraceKeepDays);
    trace(every_line(), "ZRNUSB730_Initialization");
}

void UsbDriver::trace(bool when, const char* format, ...) {
    if (!when) return;
    va_list args;
    va_start(args, format);
    ports_.trace.vmessagef(format, args);
    va_end(args);
}

std::int32_t UsbDriver::OpenUPort(std::int32_t) {
    trace(every_line(), "> OpenUPort_Init");
    std::vector<std::string> paths;
    if (!ports_.hid.list_interfaces(&paths)) return 0;
    for (const std::string& path : paths) {
        if (path.empty()) continue;
        const HidPort::Device d = ports_.hid.open(path);
        if (!d) continue;
        std::uint16_t vendor = 0, product = 0;
        if (!ports_.hid.attributes(d, &vendor, &product) || vendor != DrawerVendorId || product != DrawerProductId) {
            ports_.hid.close(d);
            continue;
        }
        ports_.hid.fetch_descriptor(d);
        // Found again while open: the handle the status thread reads stays,
        // the new one is closed (replacing it would pull it from under the
        // thread's outstanding read).
        HidPort::Device expected = 0;
        if (!device_.compare_exchange_strong(expected, d) && expected != d) ports_.hid.close(d);
        if (!reopened_.load()) last_ = kStateClosed;
        if (start_thread()) ports_.clock.sleep_ms(1000);
        trace(every_line(), "< OpenUPort_Term0");
        return 1;
    }
    trace(error_lines(), "< OpenUPort_Term-1");
    return 0;
}

std::int32_t UsbDriver::CloseUPort(std::int32_t) {
    trace(every_line(), "> CloseUPort_Init");
    // Taken in one step: of two closers only one gets the handle, so none
    // closes a handle value that may already name something else.
    const HidPort::Device d = device_.exchange(0);
    if (!d) {
        trace(error_lines(), "< CloseUPort_Term-1");
        return -1;
    }
    stop_requested_ = true;
    ports_.hid.signal_stop();
    ports_.clock.sleep_ms(250);
    // The thread may still sit in its DCSDelay wait or in the callback: its
    // events and overlapped I/O are reused only once it returned. One held
    // longer no longer touches the handle once it is closed (on_own_device).
    if (!t_status_thread) {
        std::unique_lock lock(life_mu_);
        wait_bounded(life_cv_, lock, [&] { return !alive_; }, kThreadEndWaitMs);
    }
    std::int32_t result;
    {
        std::lock_guard io(io_mu_);
        ports_.hid.cancel_io(d);
        result = ports_.hid.close(d) ? 1 : 0;
    }
    running_ = false;
    last_ = 0;
    trace(every_line(), "%s%d", "< CloseUPort_Term:", result);
    return result;
}

template <typename Pred>
bool UsbDriver::wait_bounded(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, Pred pred,
                             std::uint32_t bound_ms) {
    // Woken by the condition; the bound runs on the clock, in steps.
    const std::uint64_t deadline = ports_.clock.monotonic_ms() + bound_ms;
    while (!pred()) {
        if (ports_.clock.monotonic_ms() >= deadline) return false;
        cv.wait_for(lock, std::chrono::milliseconds(10));
    }
    return true;
}

template <typename Io>
bool UsbDriver::on_own_device(HidPort::Device d, Io io) {
    std::lock_guard lock(io_mu_);
    return !stop_requested_.load() && device_.load() == d && io();
}

void UsbDriver::set_ready(bool ready) {
    std::lock_guard lock(ready_mu_);
    ready_ = ready;
    ready_cv_.notify_all();
}

bool UsbDriver::start_thread() {
    {
        std::unique_lock lock(life_mu_);
        // One thread at a time: a thread that is ending is waited for (not
        // from itself, and bounded: one that does not end gets no
        // successor); one that runs is kept. Checked and claimed under one lock.
        if (t_status_thread && alive_) return false;
        if (!wait_bounded(life_cv_, lock, [&] { return !alive_ || running_.load(); }, kThreadEndWaitMs)) return false;
        if (alive_) return false;
        alive_ = true;
        running_ = true;
        stop_requested_ = false;
    }
    if (ports_.threads.start([this] { status_thread(); })) return true;
    std::lock_guard lock(life_mu_);
    alive_ = false;
    running_ = false;
    life_cv_.notify_all();
    return true;  // the caller still waits its second, as after a start
}

void UsbDriver::thread_ends(HidPort::Device d, bool when, const char* line) {
    running_ = false;
    set_ready(false);
    trace(when, "%s", line);
    // Nothing of this thread's I/O may reach its buffers after it returned;
    // once its handle is taken by a closer, the closer cancels it.
    on_own_device(d, [&] {
        ports_.hid.cancel_io(d);
        return true;
    });
    std::lock_guard lock(life_mu_);
    alive_ = false;
    life_cv_.notify_all();
}

void UsbDriver::status_thread() {
    HidPort& hid = ports_.hid;
    t_status_thread = true;
    trace(every_line(), "> Status0Thread_Init");
    // The handle this thread serves; once CloseUPort took it, it is not used again.
    const HidPort::Device d = device_.load();
    if (!d) {
        thread_ends(d, error_lines(), "< Status0Thread_Term-1");
        return;
    }
    running_ = true;
    ports_.clock.sleep_ms(1000);
    // Without its events the thread could neither be woken nor stopped.
    if (!hid.create_events() || device_.load() != d) {
        thread_ends(d, error_lines(), "< Status0Thread_Term-2");
        return;
    }
    on_own_device(d, [&] {
        hid.start_read(d);  // a failure shows as a failed read
        return true;
    });
    if (device_.load() != d) {
        thread_ends(d, error_lines(), "< Status0Thread_Term-3");
        return;
    }
    on_own_device(d, [&] { return hid.start_write(d, kIdleReport); });
    hid.reset_stop_and_write_request();
    // A close that signalled before this reset set the flag first.
    if (stop_requested_.load()) {
        thread_ends(d, every_line(), "< Status0Thread_Term0");
        return;
    }
    set_ready(true);
    // The end of a read or write that failed because CloseUPort took the handle.
    auto failed = [&](const char* line) {
        if (stop_requested_.load())
            thread_ends(d, every_line(), "< Status0Thread_Term0");
        else
            thread_ends(d, error_lines(), line);
    };
    int failed_waits = 0;
    for (;;) {
        switch (hid.wait()) {
            case HidPort::Wake::Read: {
                failed_waits = 0;
                std::uint8_t report[3] = {0, 0, 0};
                if (!on_own_device(d, [&] { return hid.finish_read(d, report); })) {
                    // Failed or aborted (unplugged): there is no report.
                    failed("< Status0Thread_Term-4");
                    return;
                }
                const std::int32_t state = report[1];
                trace(every_line(), "%s%d", ":: Status0Thread_DataRead:", state);
                if (state != kStateIgnored) {
                    if (opening_pending_.load()) {
                        opening_pending_ = 0;
                        opening_ack_ = state;
                    } else if (opening_ack_.load() > 0 && state != opening_ack_.load()) {
                        // The drawer has moved on since the opening report: a query
                        // must not report the open it has already left.
                        opening_ack_ = 0;
                    }
                    if (capture_.on() && state != last_.load()) {
                        if (state == kStateClosed) {
                            trace(every_line(), "%s%d", "< Status0Thread: Processing DCSDelay=", settings_.DCSDelay);
                            if (settings_.DCSDelay > 0) ports_.clock.sleep_ms(static_cast<std::uint32_t>(settings_.DCSDelay));
                        }
                        current_ = state;
                        capture_.report("CD730", state);
                        trace(every_line(), "%s%d", "< Status0Thread: State=", current_.load());
                    } else {
                        current_ = state;
                    }
                }
                last_ = current_.load();
                if (!on_own_device(d, [&] { return hid.start_read(d); })) {
                    failed("< Status0Thread_Term-4");
                    return;
                }
                break;
            }
            case HidPort::Wake::WriteRequest:
                failed_waits = 0;
                opening_ack_ = 0;
                opening_pending_ = 1;
                trace(every_line(), ":: Status0Thread_DataWrite:011");
                if (!on_own_device(d, [&] { return hid.start_write(d, kOpeningReport); })) {
                    failed("< Status0Thread_Term-5");
                    return;
                }
                break;
            case HidPort::Wake::Stop:
                thread_ends(d, every_line(), "< Status0Thread_Term0");
                return;
            case HidPort::Wake::Failed:
                if (stop_requested_.load()) {
                    thread_ends(d, every_line(), "< Status0Thread_Term0");
                    return;
                }
                // Wait again; a failure that persists backs off instead of spinning.
                if (++failed_waits > 3) ports_.clock.sleep_ms(failed_waits > 100 ? 100 : 10);
                break;
        }
    }
}

std::int32_t UsbDriver::restart(const char* label) {
    // Two commands that both found the thread ended restart it once.
    std::lock_guard one(restart_mu_);
    if (running_.load()) return 0;
    ports_.clock.sleep_ms(200);
    CloseUPort(0);  // forgets the device handle
    ports_.clock.sleep_ms(200);
    reopened_ = true;
    if (OpenUPort(0) != 1) {
        trace(error_lines(), "< %s_Term-1", label);
        return -1;
    }
    ports_.clock.sleep_ms(5000);
    {
        // An opening report signalled before the new thread has reset its events would
        // be lost: go on only once it waits on them, or has ended.
        std::unique_lock lock(ready_mu_);
        wait_bounded(ready_cv_, lock, [&] { return ready_.load() || !running_.load(); }, kThreadReadyWaitMs);
    }
    if (!running_.load() || !ready_.load()) {
        trace(error_lines(), "< %s_Term-2", label);
        return -2;
    }
    return 0;
}

void UsbDriver::send_opening_report() {
    // Cleared first: an acknowledgement of an earlier opening report is
    // never taken for this one.
    opening_ack_ = 0;
    ports_.hid.signal_write_request();
}

bool UsbDriver::await_drawer_opened() {
    for (int i = 0; i < 6; ++i) {
        if (opening_ack_.load() == kStateOpen) return true;
        ports_.clock.sleep_ms(200);
    }
    return false;
}

std::int32_t UsbDriver::OpenUCashDrawer(std::int32_t) {
    trace(every_line(), "> OpenUCashDrawer_Init");
    if (!running_.load()) {
        const std::int32_t r = restart("OpenUCashDrawer");
        if (r < 0) return r;
    }
    ports_.clock.sleep_ms(500);
    if (!device_.load()) {
        trace(error_lines(), "< OpenUCashDrawer_Term-3");
        return -3;
    }
    send_opening_report();
    std::int32_t opened = await_drawer_opened() ? 1 : 0;
    if (!opened && current_.load() != kStateOpen) {
        for (std::int32_t attempt = 0; attempt < settings_.RDKInterval && !opened; ++attempt) {
            if (settings_.RDKDelay <= 0) continue;
            if (!device_.load()) {
                trace(error_lines(), "< OpenUCashDrawer_Term-4");
                return -4;
            }
            ports_.clock.sleep_ms(static_cast<std::uint32_t>(settings_.RDKDelay));
            send_opening_report();
            opened = await_drawer_opened() ? 1 : 0;
        }
    }
    trace(every_line(), "%s%ld", "< OpenUCashDrawer_Term: ", static_cast<long>(opened));
    return settings_.ODVEnabled == 1 ? opened : 1;
}

std::int32_t UsbDriver::UCashDrawerStatus(std::int32_t) {
    trace(every_line(), "> UCashDrawerStatus_Init");
    if (!running_.load()) {
        const std::int32_t r = restart("UCashDrawerStatus");
        if (r < 0) return r;
    }
    std::int32_t result;
    const std::int32_t ack = opening_ack_.exchange(0);
    if (ack > 0)
        result = ack;
    else
        result = current_.load();
    trace(every_line(), "%s%d", "< UCashDrawerStatus_Term: State=", result);
    return result;
}

}  // namespace zrn::usbdrv
