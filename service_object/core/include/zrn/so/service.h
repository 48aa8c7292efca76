#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

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

class ServiceObject;

// State kept once per process: shared by every Service Object in it, and by
// the drivers' threads through the status callback.
class ServiceModule {
public:
    explicit ServiceModule(ModulePorts ports);
    ServiceModule(const ServiceModule&) = delete;
    ServiceModule& operator=(const ServiceModule&) = delete;

    // What both drivers call on their own threads.
    void OnStatusCapture(const char* status_name, std::int32_t status);

    // Event threads still running (the module must stay loaded meanwhile).
    int active_event_threads() const { return event_threads_.load(); }

    // Process-wide device state.
    std::atomic<bool> DeviceEnabled{false};
    std::atomic<bool> FreezeEvents{false};
    std::atomic<bool> ClaimedElsewhere{false};
    std::atomic<std::int32_t> DeviceOffline{0};
    std::atomic<std::int32_t> UsbDrawerStatus{0};
    std::atomic<std::int32_t> PendingDrawerState{-1};
    std::atomic<std::int32_t> ReportedDrawerState{-1};
    std::atomic<ControlObject> CurrentControlObject{nullptr};
    std::atomic<std::int32_t> TraceEnabled{0};
    std::atomic<FnStartStatusCapture> StartStatusCCapture{nullptr};
    std::atomic<FnStartStatusCapture> StartStatusUCapture{nullptr};
    // The object whose enable opened the port that is open now: whoever
    // resets the enabled state closes that port rather than forget it.
    std::atomic<ServiceObject*> PortOwner{nullptr};

    // Events.
    void raise_status_update(std::int32_t status);
    void raise_direct_io(std::int32_t event_number);
    void flush_events();
    void clear_event_queue();
    int queued_events() const;
    void start_status_event_thread();

    // The table of opened devices.
    bool open_table_add(const std::string& name, ControlObject co, const void* owner);
    void open_table_free_owned(const void* owner);
    bool open_table_has_owned(const void* owner) const;
    bool open_table_find(const std::string& name, ControlObject* co) const;
    int open_table_used() const;

    // Trace lines: every_line() only at level 1, error_lines() at any positive level.
    TraceSwitch trace_switch() const { return TraceSwitch{TraceEnabled.load()}; }
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
    };
    struct OpenEntry {
        std::string name;  // empty: free
        ControlObject co = nullptr;
        const void* owner = nullptr;
    };
    void queue_event(const EventEntry& e);
    void deliver(const EventEntry& e);
    void raise(const EventEntry& e);

    ModulePorts ports_;
    mutable std::mutex open_mu_;
    OpenEntry open_table_[kOpenTableSize];
    mutable std::mutex queue_mu_;
    EventEntry queue_[kEventQueueSize];
    int queue_count_ = 0;  // queue_[0] is the oldest
    std::atomic<int> event_threads_{0};
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
    const DeviceConfig& config() const { return config_; }
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
    void close_enabled_port();
    void close_port();
    std::int32_t drawer_status_query();
    std::int32_t drawer_opened();
    std::uint8_t send_lpt(const char* command);
    // Writes a command to a serial or parallel device; 1 for any other.
    std::int32_t write_command(const std::string& command);
    std::int32_t unit() const;
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
    DeviceConfig config_;
    DriverParamBlock block_{};
    EntryPoints drivers_;  // both libraries' functions, once bound
    bool port_bound_ = false;
    bool usb_bound_ = false;
    std::int32_t usb_unit_ = -1;  // set by enabling a USB device
    ServiceSettings settings_;
};

}  // namespace zrn::so
