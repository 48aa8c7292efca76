#pragma once

// The Control Object's side of the Service Object interface, as the
// published Control Objects use it: creation by program identifier, one
// GetIDsOfNames per method name before OpenService, every call with
// DISPATCH_METHOD and a result, and an IDispatch of its own that takes
// "SOStatusUpdate" and "SODirectIO". Used by the end-to-end tests and by the
// technician's command-line client.
#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace zrn::client {

// The thirteen service methods in the order a Control Object looks them up.
enum class Method {
    COFreezeEvents,
    GetPropertyNumber,
    SetPropertyNumber,
    GetPropertyString,
    SetPropertyString,
    OpenService,
    CheckHealth,
    ClaimDevice,
    CloseService,
    DirectIO,
    ReleaseDevice,
    OpenDrawer,
    WaitForDrawerClose,
};
constexpr int kMethodCount = 13;
const wchar_t* method_name(Method m);

struct Event {
    enum Kind { StatusUpdate, DirectIO } kind = StatusUpdate;
    std::int32_t value = 0;  // the status, or the DirectIO event number
    std::int32_t data = 0;   // DirectIO only
    std::string text;        // DirectIO only
    DWORD thread = 0;        // the thread it was delivered on
    DWORD raised_by = 0;     // the thread the Service Object raised it on
    ULONGLONG tick_ms = 0;   // GetTickCount64 at delivery
};

// The Control Object's own IDispatch, delivering events as the published
// Control Object does: an event the Service Object raises on the thread that
// created the receiver is delivered at once; one raised on any other thread
// is posted to a hidden window of the creating thread, and the raising
// thread waits until that thread pumps its messages and the event has been
// delivered; while events are frozen it tries again every 100 ms. So a
// Service Object that fires while holding what the application's thread
// waits for deadlocks here as it would on a till. Each delivered event is
// recorded, then handed to an optional handler. Lives as long as its owner;
// reference counts are kept only to be checked.
class EventReceiver final : public IDispatch {
public:
    static constexpr DISPID kDispStatusUpdate = 5;
    static constexpr DISPID kDispDirectIO = 2;
    static constexpr DWORD kFrozenRetryMs = 100;

    EventReceiver();
    ~EventReceiver();
    EventReceiver(const EventReceiver&) = delete;
    EventReceiver& operator=(const EventReceiver&) = delete;

    // Called on the creating thread after the event is recorded.
    void set_handler(std::function<void(const Event&)> handler);
    // A receiver that does not know the name "SODirectIO".
    void set_knows_direct_io(bool knows) { knows_direct_io_ = knows; }

    // As the Control Object's own state: events are held while frozen, and
    // dropped (the raising thread let go) once the device is being closed.
    void set_frozen(bool frozen) { frozen_ = frozen; }
    void open_events() { legal_ = true; }
    void close_events();

    std::vector<Event> events() const;
    void clear();
    // Waits up to timeout_ms for pred(events) to hold; true when it did. On
    // the creating thread it pumps messages meanwhile, as an application's
    // message loop does.
    bool wait_for(const std::function<bool(const std::vector<Event>&)>& pred, DWORD timeout_ms) const;
    DWORD owner_thread() const { return owner_; }
    LONG references() const { return refs_; }
    LONG lookups() const { return lookups_; }
    LONG calls_with_bad_arguments() const { return bad_calls_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** out) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override;

private:
    static LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    // From another thread: posted to the window, waited for.
    void deliver_through_window(Event e);
    void record(Event e);

    DWORD owner_;
    HWND window_ = nullptr;
    mutable std::mutex mu_;
    HANDLE changed_;  // pulsed on every recorded event
    std::vector<Event> events_;
    std::function<void(const Event&)> handler_;
    bool knows_direct_io_ = true;
    std::atomic<bool> frozen_{false};
    std::atomic<bool> legal_{true};
    // One posted event at a time: the slot the window reads, the number that
    // tells its message from a stale one, and the signal that it is done.
    std::mutex posting_;
    HANDLE done_;
    Event slot_;
    std::atomic<WPARAM> slot_number_{0};
    std::atomic<bool> slot_delivered_{false};
    LONG refs_ = 0;
    LONG lookups_ = 0;
    LONG bad_calls_ = 0;
};

// Pumps the calling thread's messages for ms milliseconds (an application
// idling in its message loop), or until handle is signalled when one is
// given; WAIT_OBJECT_0 when it was.
DWORD pump_messages(DWORD ms, HANDLE handle = nullptr);

// One Service Object, driven the way a Control Object drives it.
class ServiceClient {
public:
    ServiceClient() = default;
    ~ServiceClient() { reset(); }
    ServiceClient(const ServiceClient&) = delete;
    ServiceClient& operator=(const ServiceClient&) = delete;

    // CLSIDFromProgID and CoCreateInstance. The HRESULT of the first failure.
    HRESULT create(const std::wstring& prog_id);
    // GetIDsOfNames for the thirteen names in order; false at the first name
    // missing (a Control Object's open then fails with 104). missing() names it.
    bool look_up_methods();
    const wchar_t* missing() const { return missing_; }
    void reset();
    IDispatch* object() const { return so_; }

    // The methods. Each returns the OPOS result the call carried back; a
    // failed Invoke (no object, an HRESULT error) gives 104 and last_hresult().
    std::int32_t open(const std::wstring& device_class, const std::wstring& device_name, IDispatch* control);
    // As a Control Object opens: its events allowed from a successful open
    // until the close (or the release) begins, frozen while FreezeEvents is.
    std::int32_t open(const std::wstring& device_class, const std::wstring& device_name, EventReceiver* control);
    std::int32_t get_number(std::int32_t index);
    void set_number(std::int32_t index, std::int32_t number);
    std::wstring get_string(std::int32_t index);
    std::int32_t check_health(std::int32_t level);
    std::int32_t claim(std::int32_t timeout);
    std::int32_t close();
    std::int32_t direct_io(std::int32_t command, std::int32_t* data, std::wstring* text);
    std::int32_t release();
    std::int32_t open_drawer();
    std::int32_t wait_for_drawer_close(std::int32_t beep_timeout, std::int32_t beep_frequency,
                                       std::int32_t beep_duration, std::int32_t beep_delay);
    std::int32_t result_code() { return get_number(6); }
    std::int32_t result_code_extended() { return get_number(7); }
    HRESULT last_hresult() const { return hr_; }

private:
    // args in parameter order; reversed into DISPPARAMS here.
    bool invoke(Method m, VARIANT* args, UINT count, VARIANT* result);
    std::int32_t long_call(Method m, VARIANT* args, UINT count);

    IDispatch* so_ = nullptr;
    EventReceiver* receiver_ = nullptr;
    DISPID ids_[kMethodCount] = {};
    bool looked_up_ = false;
    const wchar_t* missing_ = nullptr;
    HRESULT hr_ = S_OK;
};

// Unix path under Wine's Z: drive, or a Windows path as it is.
std::string windows_path(const std::string& path);
std::wstring widen(const std::string& s);
std::string narrow(const std::wstring& s);

}  // namespace zrn::client
