#include <cstdarg>
#include <cstdio>

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

// --- table of opened devices ---------------------------------------------

bool ServiceModule::open_table_add(const std::string& name, ControlObject co, const void* owner) {
    std::lock_guard lock(open_mu_);
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
    std::lock_guard lock(open_mu_);
    for (auto& e : open_table_)
        if (!e.name.empty() && e.owner == owner) e = OpenEntry{};
}

bool ServiceModule::open_table_has_owned(const void* owner) const {
    std::lock_guard lock(open_mu_);
    for (const auto& e : open_table_)
        if (!e.name.empty() && e.owner == owner) return true;
    return false;
}

bool ServiceModule::open_table_find(const std::string& name, ControlObject* co) const {
    std::lock_guard lock(open_mu_);
    for (const auto& e : open_table_) {
        if (!e.name.empty() && e.name == name) {
            *co = e.co;
            return true;
        }
    }
    return false;
}

int ServiceModule::open_table_used() const {
    std::lock_guard lock(open_mu_);
    int n = 0;
    for (const auto& e : open_table_) n += e.name.empty() ? 0 : 1;
    return n;
}

// --- events ------------------------------------------------------------------

void ServiceModule::deliver(const EventEntry& e) {
    const ControlObject co = CurrentControlObject.load();
    if (co) ports_.sink.deliver(co, e.method, e.args, e.argc);
}

void ServiceModule::queue_event(const EventEntry& e) {
    std::lock_guard lock(queue_mu_);
    // Once full, each further event overwrites the last slot: the first 49
    // and the newest remain.
    if (queue_count_ < kEventQueueSize)
        queue_[queue_count_++] = e;
    else
        queue_[kEventQueueSize - 1] = e;
}

void ServiceModule::raise(const EventEntry& e) {
    if (FreezeEvents.load())
        queue_event(e);
    else
        deliver(e);
}

void ServiceModule::raise_status_update(std::int32_t status) {
    trace_framed("%s%ld", "< StatusUpdateEvent=", static_cast<long>(status));
    EventEntry e;
    e.method = "SOStatusUpdate";
    e.argc = 1;
    e.args[0] = EventArg{ArgKind::I4, status};
    raise(e);
}

void ServiceModule::raise_direct_io(std::int32_t event_number) {
    trace_framed("%s%ld", "< DirectIOEvent=", static_cast<long>(event_number));
    EventEntry e;
    e.method = "SODirectIO";
    e.argc = 3;
    e.args[0] = EventArg{ArgKind::RefBstr, 0};
    e.args[1] = EventArg{ArgKind::RefI4, 0};
    e.args[2] = EventArg{ArgKind::I4, event_number};
    raise(e);
}

void ServiceModule::flush_events() {
    // Always the oldest event first, taken off the queue before it is
    // delivered: a handler that freezes again leaves exactly the undelivered
    // events queued, in order, and events queued meanwhile go behind them.
    for (;;) {
        EventEntry e;
        {
            std::lock_guard lock(queue_mu_);
            if (queue_count_ == 0 || FreezeEvents.load()) return;
            e = queue_[0];
            for (int i = 1; i < queue_count_; ++i) queue_[i - 1] = queue_[i];
            --queue_count_;
        }
        // Delivered outside the lock: a handler may freeze or raise again.
        deliver(e);
    }
}

void ServiceModule::clear_event_queue() {
    std::lock_guard lock(queue_mu_);
    queue_count_ = 0;
}

int ServiceModule::queued_events() const {
    std::lock_guard lock(queue_mu_);
    return queue_count_;
}

void ServiceModule::start_status_event_thread() {
    ++event_threads_;
    const bool started = ports_.threads.start([this] {
        const std::int32_t state = PendingDrawerState.load();
        if (state == CASH_SUE_DRAWEROPEN || state == CASH_SUE_DRAWERCLOSED) raise_status_update(state);
        ports_.clock.sleep_ms(100);
        --event_threads_;
    });
    if (!started) --event_threads_;
}

// --- the status callback -------------------------------------------------------

void ServiceModule::OnStatusCapture(const char* status_name, std::int32_t status) {
    const std::string name = status_name ? status_name : "";
    trace_framed("%s,%s,%ld", "OnStatusCapture=", name.c_str(), static_cast<long>(status));

    if (!DeviceEnabled.load()) return;
    ControlObject co = nullptr;
    if (!open_table_find(name, &co)) return;
    CurrentControlObject.store(co);

    const DeviceType* type = device_type_of(name);
    if (!type) return;  // no driver reports such a name
    switch (type->DeviceID) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial:
            PendingDrawerState.store(status == 1 ? 1 : 0);
            break;
        case kDeviceIdUsb:
            if (status == -1) {
                ReportedDrawerState.store(-1);
                DeviceOffline.store(-1);
                PendingDrawerState.store(1);
                start_status_event_thread();
                return;
            }
            DeviceOffline.store(0);
            UsbDrawerStatus.store(status);
            PendingDrawerState.store(status == 1 ? 1 : 0);
            break;
        default:  // parallel drawers report no state
            break;
    }
    const std::int32_t pending = PendingDrawerState.load();
    if (pending != ReportedDrawerState.load()) {
        start_status_event_thread();
        ReportedDrawerState.store(pending);
    }
}

}  // namespace zrn::so
