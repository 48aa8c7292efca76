#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <iterator>

#include "zrn/device_types.h"
#include "zrn/opos.h"
#include "zrn/so/service.h"

namespace zrn::so {

ServiceModule::ServiceModule(ModulePorts ports) : ports_(ports) {}

void ServiceModule::trace(bool when, const char* format, ...) {
    if (!when) return;
    va_list args;
    va_start(args, format);
    ports_.trace.vmessagef(format, args);
    va_end(args);
}

void ServiceModule::trace_framed(const char* format, ...) {
    if (!trace_switch().every_line()) return;
    ports_.trace.separator();
    va_list args;
    va_start(args, format);
    ports_.trace.vmessagef(format, args);
    va_end(args);
    ports_.trace.separator();
}

// --- the device state of the process ------------------------------------------

void ServiceModule::reset_at_creation() {
    enabled_ = false;
    frozen_ = false;
    claimed_elsewhere_ = false;
    clear_event_queue();
    usb_drawer_status_ = 0;
    offline_ = false;
}

void ServiceModule::reset_at_open() {
    claimed_elsewhere_ = false;
    enabled_ = false;
    frozen_ = false;
    clear_event_queue();
}

void ServiceModule::mark_enabled() {
    enabled_ = true;
    reported_state_ = -1;
}

void ServiceModule::mark_disabled() { enabled_ = false; }

void ServiceModule::set_frozen(bool frozen) {
    frozen_ = frozen;
    if (!frozen && queued_events() > 0) flush_events();
}

// --- table of opened devices and the attached Control Objects ---------------------

bool ServiceModule::open_table_add(const std::string& name, ControlObject co, const void* owner) {
    std::lock_guard lock(route_mu_);
    for (auto& e : open_table_) {
        if (e.name.empty()) {
            e.name = name;
            e.co = co;
            e.owner = owner;
            return true;
        }
    }
    return false;
}

void ServiceModule::open_table_free_owned(const void* owner) {
    std::lock_guard lock(route_mu_);
    for (auto& e : open_table_)
        if (!e.name.empty() && e.owner == owner) e = OpenEntry{};
}

bool ServiceModule::open_table_has_owned(const void* owner) const {
    std::lock_guard lock(route_mu_);
    for (const auto& e : open_table_)
        if (!e.name.empty() && e.owner == owner) return true;
    return false;
}

int ServiceModule::open_table_used() const {
    std::lock_guard lock(route_mu_);
    int n = 0;
    for (const auto& e : open_table_) n += e.name.empty() ? 0 : 1;
    return n;
}

bool ServiceModule::target_of(const std::string& name, ControlObject* co) const {
    std::lock_guard lock(route_mu_);
    for (const auto& e : open_table_) {
        if (!e.name.empty() && e.name == name) {
            *co = e.co;
            return true;
        }
    }
    return false;
}

void ServiceModule::attach_control_object(ControlObject co) {
    if (!co) return;
    std::lock_guard lock(route_mu_);
    attached_.push_back(co);
}

bool ServiceModule::delivering_to(ControlObject co) const {
    const std::thread::id me = std::this_thread::get_id();
    for (const auto& d : deliveries_)
        if (d.co == co && d.thread != me) return true;
    return false;
}

void ServiceModule::retire_control_object(ControlObject co) {
    if (!co) return;
    {
        std::lock_guard lock(route_mu_);
        auto it = std::find(attached_.begin(), attached_.end(), co);
        if (it != attached_.end()) attached_.erase(it);
        // Another open object may still use the same Control Object.
        if (std::find(attached_.begin(), attached_.end(), co) != attached_.end()) return;
    }
    // Polled through the clock, so the bound is the clock's and a test can
    // step through it.
    for (std::uint32_t waited = 0; waited < kDeliveryWaitMs; waited += kDeliveryPollMs) {
        {
            std::lock_guard lock(route_mu_);
            if (!delivering_to(co)) return;
        }
        ports_.clock.sleep_ms(kDeliveryPollMs);
    }
}

// --- events ------------------------------------------------------------------

void ServiceModule::deliver(const EventEntry& e) {
    {
        // The target is checked and the delivery counted in one step.
        std::lock_guard lock(route_mu_);
        if (!e.target || std::find(attached_.begin(), attached_.end(), e.target) == attached_.end()) return;
        deliveries_.push_back(Delivery{e.target, std::this_thread::get_id()});
    }
    struct Done {
        ServiceModule& m;
        ~Done() {
            std::lock_guard lock(m.route_mu_);
            const std::thread::id me = std::this_thread::get_id();
            for (auto it = m.deliveries_.rbegin(); it != m.deliveries_.rend(); ++it) {
                if (it->thread == me) {
                    m.deliveries_.erase(std::next(it).base());
                    break;
                }
            }
        }
    } done{*this};
    ports_.sink.deliver(e.target, e.method, e.args, e.argc);
}

void ServiceModule::queue_event(const EventEntry& e) {
    // Once full, each further event overwrites the last slot: the first 49
    // and the newest remain.
    if (queue_count_ < kEventQueueSize)
        queue_[queue_count_++] = e;
    else
        queue_[kEventQueueSize - 1] = e;
}

void ServiceModule::drain(std::unique_lock<std::mutex>& queue_lock) {
    // Always the oldest event first, taken off the queue before it is
    // delivered: a handler that freezes again leaves exactly the undelivered
    // events queued, in order, and events raised meanwhile go behind them.
    while (queue_count_ > 0 && !frozen_.load()) {
        const EventEntry e = queue_[0];
        for (int i = 1; i < queue_count_; ++i) queue_[i - 1] = queue_[i];
        --queue_count_;
        // Delivered outside the lock: a handler may freeze or raise again.
        queue_lock.unlock();
        deliver(e);
        queue_lock.lock();
    }
    flushing_ = false;
}

void ServiceModule::raise(const EventEntry& e) {
    std::unique_lock lock(queue_mu_);
    if (frozen_.load()) {
        queue_event(e);
        return;
    }
    if (flushing_ || queue_count_ > 0) {
        // Behind the queued events, never ahead of them: the thread flushing
        // takes this one along, or this thread flushes what is left.
        queue_event(e);
        if (flushing_) return;
        flushing_ = true;
        drain(lock);
        return;
    }
    lock.unlock();
    deliver(e);
}

ServiceModule::EventEntry ServiceModule::event_to(ControlObject target, const char* method,
                                                  std::initializer_list<EventArg> args) {
    EventEntry e;
    e.method = method;
    e.target = target;
    for (const EventArg& a : args)
        if (e.argc < static_cast<int>(std::size(e.args))) e.args[e.argc++] = a;
    return e;
}

void ServiceModule::raise_status_update(std::int32_t status, ControlObject target) {
    trace_framed("%s%ld", "< StatusUpdateEvent=", static_cast<long>(status));
    raise(event_to(target, "SOStatusUpdate", {EventArg{ArgKind::I4, status}}));
}

void ServiceModule::raise_direct_io(std::int32_t event_number, ControlObject target) {
    trace_framed("%s%ld", "< DirectIOEvent=", static_cast<long>(event_number));
    raise(event_to(target, "SODirectIO",
                   {EventArg{ArgKind::RefBstr, 0}, EventArg{ArgKind::RefI4, 0}, EventArg{ArgKind::I4, event_number}}));
}

void ServiceModule::flush_events() {
    std::unique_lock lock(queue_mu_);
    // A flush under way goes on with the queue: two flushers would
    // interleave it.
    if (flushing_) return;
    flushing_ = true;
    drain(lock);
}

void ServiceModule::clear_event_queue() {
    std::lock_guard lock(queue_mu_);
    queue_count_ = 0;
}

int ServiceModule::queued_events() const {
    std::lock_guard lock(queue_mu_);
    return queue_count_;
}

void ServiceModule::wait_turn(std::uint64_t ticket) {
    std::unique_lock lock(turn_mu_);
    turn_cv_.wait(lock, [&] { return serving_ == ticket; });
}

void ServiceModule::end_turn(std::uint64_t ticket) {
    std::lock_guard lock(turn_mu_);
    finished_early_.push_back(ticket);
    // Turns end in order, but one whose thread never started ends at once.
    for (auto it = std::find(finished_early_.begin(), finished_early_.end(), serving_); it != finished_early_.end();
         it = std::find(finished_early_.begin(), finished_early_.end(), serving_)) {
        finished_early_.erase(it);
        ++serving_;
    }
    turn_cv_.notify_all();
}

void ServiceModule::start_status_event_thread(std::int32_t state, ControlObject target) {
    std::uint64_t ticket;
    {
        std::lock_guard lock(turn_mu_);
        ticket = next_ticket_++;
    }
    ++event_threads_;
    const bool started = ports_.threads.start([this, state, target, ticket] {
        wait_turn(ticket);
        if (state == CASH_SUE_DRAWEROPEN || state == CASH_SUE_DRAWERCLOSED) raise_status_update(state, target);
        end_turn(ticket);
        ports_.clock.sleep_ms(100);
        --event_threads_;
    });
    if (!started) {
        --event_threads_;
        end_turn(ticket);
    }
}

// --- the status callback -------------------------------------------------------

void ServiceModule::OnStatusCapture(const char* status_name, std::int32_t status) {
    const std::string name = status_name ? status_name : "";
    trace_framed("%s,%s,%ld", "OnStatusCapture=", name.c_str(), static_cast<long>(status));

    if (!enabled_.load()) return;
    ControlObject target = nullptr;
    if (!target_of(name, &target)) return;

    const DeviceType* type = device_type_of(name);
    if (!type) return;  // no driver reports such a name
    std::int32_t state = pending_state_.load();
    switch (type->DeviceID) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial:
            state = status == 1 ? 1 : 0;
            break;
        case kDeviceIdUsb:
            if (status == -1) {
                // The device went away: an open drawer is announced, always.
                reported_state_ = -1;
                offline_ = true;
                pending_state_ = 1;
                start_status_event_thread(1, target);
                return;
            }
            offline_ = false;
            usb_drawer_status_ = status;
            state = status == 1 ? 1 : 0;
            break;
        default:  // parallel drawers report no state
            break;
    }
    pending_state_ = state;
    if (state != reported_state_.load()) {
        start_status_event_thread(state, target);
        reported_state_ = state;
    }
}

}  // namespace zrn::so
