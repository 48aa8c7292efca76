#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zrn/param_block.h"
#include "zrn/platform/clock.h"
#include "zrn/platform/registry.h"
#include "zrn/platform/threads.h"
#include "zrn/so/claim_table.h"
#include "zrn/so/config.h"
#include "zrn/so/driver_api.h"
#include "zrn/so/event_sink.h"
#include "zrn/trace.h"

namespace zrn::so {

struct ModulePorts {
    platform::Registry& registry;
    DriverLoader& loader;
    platform::Clock& clock;
    platform::Threads& threads;
    EventSink& sink;
    Beeper& beeper;
    TraceLog& trace;
    ClaimTable& claims;
    // The stdcall function the shell exports to the drivers; it forwards to
    // this module's OnStatusCapture.
    StatusCaptureCallback callback;
};

constexpr int kOpenTableSize = 10;
constexpr std::size_t kOpenNameMax = 14;  // an OpenTable name field is 15 bytes
constexpr int kEventQueueSize = 50;
constexpr std::size_t kDirectIOTextMax = 31;
// How long CloseService and the final release wait for events still being
// delivered to the Control Object on other threads. A handler that takes
// longer (a message box left open) no longer holds the close; no delivery
// to that Control Object starts afterwards either way.
constexpr std::uint32_t kDeliveryWaitMs = 5000;
constexpr std::uint32_t kDeliveryPollMs = 10;

class ServiceObject;

// State kept once per process: shared by every Service Object in it, and by
// the drivers' threads through the status callback. Every change goes
// through one of the operations below, named after the step that makes it.
class ServiceModule {
public:
    explicit ServiceModule(ModulePorts ports);
    ServiceModule(const ServiceModule&) = delete;
    ServiceModule& operator=(const ServiceModule&) = delete;

    // What both drivers call on their own threads.
    void OnStatusCapture(const char* status_name, std::int32_t status);

    // Event threads still running (the module must stay loaded meanwhile).
    int active_event_threads() const { return event_threads_.load(); }

    // --- the device state of the process ------------------------------------
    bool enabled() const { return enabled_.load(); }
    bool frozen() const { return frozen_.load(); }
    bool claimed_elsewhere() const { return claimed_elsewhere_.load(); }
    // The USB driver reports the device missing.
    bool offline() const { return offline_.load(); }
    // The USB drawer's state as last reported (1 open, 2 closed; 0 none yet).
    std::int32_t usb_drawer_status() const { return usb_drawer_status_.load(); }
    // The state the last status event announced; -1 after an enable.
    std::int32_t reported_drawer_state() const { return reported_state_.load(); }

    // Creating a Service Object resets the whole process's device state.
    void reset_at_creation();
    // OpenService starts from a device neither claimed, enabled nor frozen,
    // with no events queued.
    void reset_at_open();
    // An enable succeeded: the next report always makes an event.
    void mark_enabled();
    void mark_disabled();
    void set_claimed_elsewhere(bool claimed) { claimed_elsewhere_ = claimed; }
    // The FreezeEvents property; clearing it delivers what was queued.
    void set_frozen(bool frozen);

    // --- Control Objects ------------------------------------------------------
    // An open gives the module a Control Object to deliver to; events carry
    // their target and reach it only while it is attached.
    void attach_control_object(ControlObject co);
    // The Control Object lets go: nothing is delivered to it any more, and
    // deliveries to it under way on other threads are waited for, up to
    // kDeliveryWaitMs. A delivery on the calling thread (the handler itself
    // closes or releases) is not waited for.
    void retire_control_object(ControlObject co);

    // --- the one port an enable in this process holds open ----------------------
    // It changes hands only under this lock; the guard proves it is held.
    using PortGuard = std::unique_lock<std::mutex>;
    PortGuard hold_port() { return PortGuard(port_mu_); }
    // The object whose enable opened the port that is open now.
    ServiceObject*& port_owner(const PortGuard&) { return port_owner_; }

    // --- events -----------------------------------------------------------------
    void raise_status_update(std::int32_t status, ControlObject target);
    void raise_direct_io(std::int32_t event_number, ControlObject target);
    int queued_events() const;

    // --- the table of opened devices ------------------------------------------
    bool open_table_add(const std::string& name, ControlObject co, const void* owner);
    void open_table_free_owned(const void* owner);
    bool open_table_has_owned(const void* owner) const;
    int open_table_used() const;

    // --- trace lines: every_line() only at level 1, error_lines() at any positive level
    TraceSwitch trace_switch() const { return TraceSwitch{trace_level_.load()}; }
    void set_trace_level(std::int32_t level) { trace_level_ = level; }
    void trace(bool when, const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 3, 4)))
#endif
        ;
    // An event's line at level 1, between separator lines.
    void trace_framed(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    const ModulePorts& ports() const { return ports_; }

private:
    struct EventEntry {
        const char* method = nullptr;
        int argc = 0;
        EventArg args[3];
        ControlObject target = nullptr;
    };
    // An event for one Control Object; its arguments last first, as the
    // sink passes them.
    static EventEntry event_to(ControlObject target, const char* method, std::initializer_list<EventArg> args);
    struct OpenEntry {
        std::string name;  // empty: free
        ControlObject co = nullptr;
        const void* owner = nullptr;
    };
    struct Delivery {
        ControlObject co;
        std::thread::id thread;
    };
    void queue_event(const EventEntry& e);  // queue_mu_ held
    void deliver(const EventEntry& e);
    void raise(const EventEntry& e);
    void flush_events();
    void clear_event_queue();
    // Delivers what is queued, oldest first, until the queue is empty or
    // events are frozen; the caller has made itself the one flusher.
    void drain(std::unique_lock<std::mutex>& queue_lock);
    // The Control Object of the first opened device of that name; false
    // when no device of that name is open.
    bool target_of(const std::string& name, ControlObject* co) const;
    bool delivering_to(ControlObject co) const;  // route_mu_ held
    // A status event thread for one report; they raise their events in the
    // order of the reports, whichever of them runs first.
    void start_status_event_thread(std::int32_t state, ControlObject target);
    void wait_turn(std::uint64_t ticket);
    void end_turn(std::uint64_t ticket);

    ModulePorts ports_;

    std::atomic<bool> enabled_{false};
    std::atomic<bool> frozen_{false};
    std::atomic<bool> claimed_elsewhere_{false};
    std::atomic<bool> offline_{false};
    std::atomic<std::int32_t> usb_drawer_status_{0};
    // The state the next status event announces, and the one the last
    // announced; the status callback alone keeps them.
    std::atomic<std::int32_t> pending_state_{-1};
    std::atomic<std::int32_t> reported_state_{-1};
    std::atomic<std::int32_t> trace_level_{0};

    // The opened devices, the attached Control Objects and the deliveries
    // under way: one lock, so a close cannot miss a delivery that has just
    // picked its target.
    mutable std::mutex route_mu_;
    OpenEntry open_table_[kOpenTableSize];
    std::vector<ControlObject> attached_;  // once per open object
    std::vector<Delivery> deliveries_;

    // The queue FreezeEvents leaves is flushed by one thread at a time, in
    // order; a live event raised meanwhile, or while events are still
    // queued, goes behind them and the flushing thread takes it along.
    mutable std::mutex queue_mu_;
    EventEntry queue_[kEventQueueSize];
    int queue_count_ = 0;  // queue_[0] is the oldest
    bool flushing_ = false;

    // Status event threads take turns in the order of their reports.
    std::mutex turn_mu_;
    std::condition_variable turn_cv_;
    std::uint64_t next_ticket_ = 0;
    std::uint64_t serving_ = 0;
    std::vector<std::uint64_t> finished_early_;  // turns ended before their time (a thread that never started)
    std::atomic<int> event_threads_{0};

    std::mutex port_mu_;
    ServiceObject* port_owner_ = nullptr;
};

// One Service Object: the thirteen service methods with their checks, results
// and trace lines. The COM shell translates arguments and forwards here.
class ServiceObject {
public:
    // COFreezeEvents and SetPropertyString do nothing; the COM shell answers
    // them itself, and its tests check them through the interface.
    explicit ServiceObject(ServiceModule& module);  // binds the drivers
    ~ServiceObject();
    ServiceObject(const ServiceObject&) = delete;
    ServiceObject& operator=(const ServiceObject&) = delete;

    // The property's value, which the COM shell always hands back;
    // OPOS_E_ILLEGAL for an index this device does not support.
    std::int32_t GetPropertyNumber(std::int32_t index);
    void SetPropertyNumber(std::int32_t index, std::int32_t number);
    // False when the index is unknown and the string is not written.
    bool GetPropertyString(std::int32_t index, std::string* value);
    std::int32_t OpenService(const std::string& device_class, const std::string& device_name, ControlObject co);
    std::int32_t CheckHealth(std::int32_t level);
    std::int32_t ClaimDevice(std::int32_t timeout);
    std::int32_t CloseService();
    // text: the DirectIO string converted to ANSI; null for a null string.
    std::int32_t DirectIO(std::int32_t command, std::int32_t* data, const std::string* text);
    std::int32_t ReleaseDevice();
    std::int32_t OpenDrawer();
    std::int32_t WaitForDrawerClose(std::int32_t beep_timeout, std::int32_t beep_frequency, std::int32_t beep_duration,
                                    std::int32_t beep_delay);

    std::int32_t ResultCode() const { return rc_; }
    std::int32_t ResultCodeExtended() const { return rce_; }
    bool Claimed() const { return claimed_; }
    bool port_driver_bound() const { return port_bound_; }
    bool usb_driver_bound() const { return usb_bound_; }
    const DriverParamBlock& block() const { return block_; }
    const config::DeviceConfig& config() const { return config_; }
    const std::string& open_name() const { return open_name_; }
    const std::string& target_path() const { return settings_.TargetPath; }

    static constexpr const char* kServiceObjectDescription = "ZRN OPOS CashDrawer Service Object (serial, parallel, USB)";

private:
    void bind();
    bool bind_port_driver();
    bool bind_usb_driver();
    void read_settings();
    // Sets ResultCode and ResultCodeExtended; returns the result code.
    std::int32_t set_result(std::int32_t rc, std::int32_t extended) {
        rc_ = rc;
        rce_ = extended;
        return rc;
    }
    // The trace switch's two levels.
    bool every_line() const { return module_.trace_switch().every_line(); }
    bool error_lines() const { return module_.trace_switch().error_lines(); }
    void enable(std::int32_t number);
    bool enable_sequence();
    void disable_sequence();
    // Closes the port an enable in this process left open, if any.
    void close_enabled_port(const ServiceModule::PortGuard& port);
    // Closes this object's port; the port lock is held.
    void close_port();
    std::int32_t drawer_status_query();
    std::int32_t drawer_opened();
    std::uint8_t send_lpt(const ServiceModule::PortGuard& port, const char* command);
    // Writes a command to a serial or parallel device; 1 for any other.
    std::int32_t write_command(const std::string& command);
    std::int32_t unit() const;
    // Events of this object go to co from now on.
    void adopt_control_object(ControlObject co);
    bool drawer_reads_open();

    ServiceModule& module_;
    std::int32_t rc_ = -1;
    std::int32_t rce_ = -1;
    bool claimed_ = false;
    bool release_done_ = false;
    bool binary_conversion_ = false;
    std::string check_health_text_;
    std::int32_t direct_io_event_number_ = 1;
    std::string open_name_;
    ControlObject co_ = nullptr;
    config::DeviceConfig config_;
    DriverParamBlock block_{};
    EntryPoints drivers_;  // both libraries' functions, once bound
    bool port_bound_ = false;
    bool usb_bound_ = false;
    std::int32_t usb_unit_ = -1;  // set by enabling a USB device
    config::ServiceSettings settings_;
};

}  // namespace zrn::so
