#include "zrn/portdrv/port_driver.h"

#include <cstring>

#include "zrn/device_types.h"
#include "zrn/text.h"

namespace zrn::portdrv {

int drawer_state_of_word(std::uint32_t word, std::int32_t status, std::int32_t handshaking) {
    if (static_cast<std::int64_t>(word) == closed_modem_word(status, handshaking)) return 0;
    if (word == 0) return 1;
    return -1;
}

std::string status_name(bool smart, int unit) {
    std::string name = smart ? "CD347" : "CD926";
    if (unit > 0) name += "-" + std::to_string(unit + 1);
    return name;
}

PortDriver::PortDriver(SerialPorts& ports, platform::Clock& clock, platform::Threads& threads)
    : ports_(ports), clock_(clock), threads_(threads) {}

PortDriver::~PortDriver() {
    std::unique_lock lock(idle_mu_);
    stop_ = true;
    resume_permission_ = true;
    idle_cv_.notify_all();
    bool entered = false;
    {
        // A thread that starts running after this point finds the driver
        // gone and returns without touching it.
        std::lock_guard life(life_->mu);
        life_->alive = false;
        entered = life_->entered;
    }
    if (entered) idle_cv_.wait(lock, [&] { return !thread_running_.load(); });
}

void PortDriver::wake() {
    std::lock_guard lock(idle_mu_);
    idle_cv_.notify_all();
}

bool PortDriver::any_unit() const {
    for (int u = 0; u < kUnits; ++u)
        if (serial2_[u].handle.load() || smart_[u].handle.load()) return true;
    return false;
}

void PortDriver::register_unit(bool smart, std::int32_t unit, PortHandle h, const DriverParamBlock& b) {
    if (h == kInvalidPort || unit < 0 || unit >= kUnits) return;
    Slot& s = family(smart)[unit];
    // Settings before the handle: the poll thread never sees half a slot.
    s.status = b.Device.Status;
    s.handshaking = b.Device.HandShaking;
    s.last_seen = kNoWordSeen;
    // The lines as they are now, until the first poll: a drawer state read
    // right after the open must not be an earlier unit's word, or none.
    std::uint32_t word = 0;
    if (!ports_.modem_status(h, &word)) word = 0;
    s.current = word;
    s.handle = h;
    wake();
}

void PortDriver::release_unit(bool smart, int unit) {
    if (unit < 0 || unit >= kUnits) return;
    Slot& s = family(smart)[unit];
    s.handle = 0;
    s.last_seen = kNoWordSeen;
}

// --- pause handshake --------------------------------------------------------------

// Each pause request carries a number of its own, so an acknowledgement is
// always for the request that is waiting for it, and the poll thread never
// takes back a request: only its caller lifts or withdraws it.
bool PortDriver::pause(int checks) {
    std::uint32_t n = ++request_count_;
    if (n == 0) n = ++request_count_;
    // Permission goes before the request is visible, so a thread that sees
    // the request also sees that it must wait.
    resume_permission_ = false;
    pause_request_ = n;
    wake();
    clock_.sleep_ms(5);
    for (int i = 0; i < checks; ++i) {
        if (pause_ack_.load() == n) return true;
        clock_.sleep_ms(100);
    }
    if (pause_ack_.load() == n) return true;
    // Withdrawn: the thread never acknowledged.
    lift_pause();
    return false;
}

void PortDriver::lift_pause() {
    pause_request_ = 0;
    resume_permission_ = true;
}

bool PortDriver::pause_point() {
    std::uint32_t request = pause_request_.load();
    if (request == 0) return false;
    pause_ack_ = request;
    while (!resume_permission_.load() && !stop_.load()) {
        clock_.sleep_ms(5);
        // A caller that came while the thread is still held is answered
        // without letting the thread run in between.
        request = pause_request_.load();
        if (request != 0 && request != pause_ack_.load()) pause_ack_ = request;
    }
    pause_ack_ = 0;
    return true;
}

// --- poll thread ------------------------------------------------------------------

void PortDriver::sweep() {
    for (bool smart : {false, true}) {
        for (int u = 0; u < kUnits; ++u) {
            Slot& s = family(smart)[u];
            const PortHandle h = s.handle.load();
            if (!h) continue;
            clock_.sleep_ms(20);
            std::uint32_t word = 0;
            if (!ports_.modem_status(h, &word)) word = 0;
            s.current = word;
            if (capture_.on() && word != s.last_seen.load()) {
                const int value = drawer_state_of_word(word, s.status.load(), s.handshaking.load());
                if (value >= 0) capture_.report(status_name(smart, u).c_str(), value);
            }
            s.last_seen = word;
            if (pause_point()) return;  // a new sweep from the first slot
        }
    }
}

void PortDriver::poll_loop() {
    while (!stop_.load()) {
        if (!any_unit()) {
            // Nothing to poll: block until a unit is registered or a caller
            // asks for a pause, instead of spinning over empty sweeps.
            {
                std::unique_lock lock(idle_mu_);
                idle_cv_.wait(lock, [&] { return stop_.load() || any_unit() || pause_request_.load(); });
            }
            pause_point();
            continue;
        }
        sweep();
    }
    std::lock_guard lock(idle_mu_);
    thread_running_ = false;
    idle_cv_.notify_all();
}

// --- serial exports -----------------------------------------------------------------

std::uint8_t PortDriver::OpenCom(DriverParamBlock* b, std::int32_t unit) {
    const std::int32_t port = b->Device.Port;
    if (port < 1 || port > 4) return 0;
    const std::string name = "COM" + std::to_string(port);
    const bool smart = b->Device.DeviceID == kDeviceIdSmartSerial;
    if (smart) {
        const PortHandle shared = shared_com_[port - 1].load();
        if (shared != 0) {
            // The first unit's line settings stand for the port.
            b->PortHandle = shared;
            register_unit(true, unit, shared, *b);
            return 1;
        }
        PortHandle h = ports_.open(name);
        if (h != kInvalidPort && !ports_.set_write_bound(h, kWriteBoundMs)) {
            ports_.close(h);  // a write on it could hang every caller
            h = kInvalidPort;
        }
        if (h != kInvalidPort) shared_com_[port - 1] = h;
        b->PortHandle = h;
        register_unit(true, unit, h, *b);
    } else {
        PortHandle h = ports_.open(name);
        if (h != kInvalidPort && !ports_.set_write_bound(h, kWriteBoundMs)) {
            ports_.close(h);  // a write on it could hang every caller
            h = kInvalidPort;
        }
        b->PortHandle = h;
        register_unit(false, unit, b->PortHandle, *b);
    }
    if (b->PortHandle == kInvalidPort) return 0;

    LineSettings s;
    if (!ports_.get_settings(b->PortHandle, &s)) return 0;
    static constexpr std::uint32_t kRates[] = {600, 1200, 2400, 4800, 9600, 19200};
    const DeviceRecord& d = b->Device;
    if (d.BaudRate >= 1 && d.BaudRate <= 6) s.baud = kRates[d.BaudRate - 1];
    if (d.DataBitLen == 7 || d.DataBitLen == 8) s.data_bits = static_cast<std::uint8_t>(d.DataBitLen);
    if (d.StopBits == 1 || d.StopBits == 2) s.stop_bits = static_cast<std::uint8_t>(d.StopBits);
    if (d.Parity >= 0 && d.Parity <= 2) s.parity = static_cast<std::uint8_t>(d.Parity);
    switch (d.HandShaking) {
        case 0:
            s.dtr_control = 0;
            break;
        case 1:
            s.dtr_control = 1;
            s.rts_control = 1;
            break;
        case 2:
            // XOn/XOff: the standard DC1/DC3 characters (equal ones are
            // refused by the system). Output flow control stays off: the
            // interfaces never pace what they receive, and one stray XOFF
            // byte on the line would hold every opening command.
            s.out_x = false;
            s.xon = 0x11;
            s.xoff = 0x13;
            break;
        default:
            break;
    }
    if (!ports_.set_settings(b->PortHandle, s)) return 0;
    // Claimed before the wait: of two first opens at once, one starts it.
    bool expected = false;
    if (thread_started_.compare_exchange_strong(expected, true)) {
        clock_.sleep_ms(100);
        thread_running_ = true;
        auto life = life_;
        const bool started = threads_.start([this, life] {
            {
                std::lock_guard lock(life->mu);
                if (!life->alive) return;
                life->entered = true;
            }
            poll_loop();
        });
        if (!started) {
            thread_running_ = false;
            thread_started_ = false;  // the next open tries again
        }
    }
    return 1;
}

std::uint8_t PortDriver::CloseCom(DriverParamBlock* b) {
    if (b->PortHandle == 0) return 1;
    const std::int32_t unit = port_unit_index(field_text(b->Device.DeviceName));
    const bool smart = b->Device.DeviceID == kDeviceIdSmartSerial;
    if (smart) {
        for (int u = 0; u < kUnits; ++u) {
            if (u != unit && smart_[u].handle.load()) {
                release_unit(true, unit);
                return 1;  // the shared handle stays open for the others
            }
        }
        if (b->Device.Port >= 1 && b->Device.Port <= 4) shared_com_[b->Device.Port - 1] = 0;
    }
    {
        std::lock_guard lock(caller_mu_);
        // Without a poll thread (the first open failed at its line settings)
        // there is nothing to pause: no wait for an acknowledgement that
        // cannot come.
        const bool paused = thread_started_.load() && pause(kCloseComChecks);
        release_unit(smart, unit);
        if (paused) lift_pause();
    }
    const PortHandle h = b->PortHandle;
    ports_.set_dtr_inactive(h);
    ports_.purge(h);
    return ports_.close(h) ? 1 : 0;
}

std::uint8_t PortDriver::PutCom(DriverParamBlock* b, const char* text) {
    std::lock_guard lock(caller_mu_);
    if (!pause(kPutComChecks)) return 0;
    if (b->PortHandle == 0) {
        lift_pause();
        return 0;
    }
    const std::size_t n = text ? std::strlen(text) : 0;
    std::size_t written = 0;
    if (n > 0 && (!ports_.write(b->PortHandle, text, n, &written) || written != n)) {
        lift_pause();
        return 0;
    }
    clock_.sleep_ms(100);
    lift_pause();
    return 1;
}

std::uint8_t PortDriver::GetComStat(DriverParamBlock* b, std::int32_t* status) {
    const std::int32_t unit = port_unit_index(field_text(b->Device.DeviceName));
    const bool smart = b->Device.DeviceID == kDeviceIdSmartSerial;
    if (unit >= 0 && unit < kUnits && status) *status = static_cast<std::int32_t>(family(smart)[unit].current.load());
    return 1;
}

// --- parallel exports ----------------------------------------------------------------

std::uint8_t PortDriver::OpenLpt(DriverParamBlock* b, std::int32_t) {
    const std::int32_t port = b->Device.Port;
    if (port != 1 && port != 2) return 0;
    const PortHandle shared = shared_lpt_[port - 1].load();
    if (shared != 0) {
        b->PortHandle = shared;
        return 1;
    }
    b->PortHandle = ports_.open("LPT" + std::to_string(port));
    // Bounded where the port allows it; a parallel port may not.
    if (b->PortHandle != kInvalidPort) ports_.set_write_bound(b->PortHandle, kWriteBoundMs);
    if (b->PortHandle != kInvalidPort) shared_lpt_[port - 1] = b->PortHandle;
    return b->PortHandle != kInvalidPort ? 1 : 0;
}

PortHandle PortDriver::own_lpt(const DriverParamBlock& b) const {
    // A block may hold a handle another unit already closed (whose value the
    // system may since have given to something else), or -1 after a failed
    // open: only the port's open handle is ever written or closed.
    if (b.Device.Port != 1 && b.Device.Port != 2) return 0;
    const PortHandle shared = shared_lpt_[b.Device.Port - 1].load();
    return shared != 0 && shared != kInvalidPort && b.PortHandle == shared ? shared : 0;
}

std::uint8_t PortDriver::CloseLpt(DriverParamBlock* b) {
    const PortHandle h = own_lpt(*b);
    if (!h) return 0;
    // As for a serial port; these requests mean nothing to a parallel one.
    ports_.set_dtr_inactive(h);
    ports_.purge(h);
    if (!ports_.close(h)) return 0;
    // Only if no other unit reopened the port meanwhile.
    PortHandle expected = h;
    shared_lpt_[b->Device.Port - 1].compare_exchange_strong(expected, 0);
    return 1;
}

std::uint8_t PortDriver::PutLpt(DriverParamBlock* b, const char* text) {
    const PortHandle h = own_lpt(*b);
    if (!h) return 0;
    const std::size_t n = text ? std::strlen(text) : 0;
    std::size_t written = 0;
    if (n == 0) return 1;
    return ports_.write(h, text, n, &written) && written == n ? 1 : 0;
}

}  // namespace zrn::portdrv
