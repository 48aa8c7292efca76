#include "opos_client.h"

#include <oleauto.h>

#include <algorithm>
#include <cwctype>

#include "zrn/opos.h"

namespace zrn::client {

namespace {

const wchar_t* const kNames[kMethodCount] = {
    L"COFreezeEvents", L"GetPropertyNumber", L"SetPropertyNumber", L"GetPropertyString", L"SetPropertyString",
    L"OpenService",    L"CheckHealth",       L"ClaimDevice",       L"CloseService",      L"DirectIO",
    L"ReleaseDevice",  L"OpenDrawer",        L"WaitForDrawerClose"};

bool same_name(const wchar_t* a, const wchar_t* b) {
    for (; *a && *b; ++a, ++b)
        if (std::towlower(*a) != std::towlower(*b)) return false;
    return *a == *b;
}

VARIANT i4(std::int32_t v) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_I4;
    V_I4(&x) = v;
    return x;
}

VARIANT bstr(const std::wstring& s) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_BSTR;
    V_BSTR(&x) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return x;
}

// The value of an argument that may come by value or by reference.
bool arg_i4(const VARIANT& v, std::int32_t* out) {
    if (V_VT(&v) == VT_I4) {
        *out = V_I4(&v);
        return true;
    }
    if (V_VT(&v) == (VT_BYREF | VT_I4) && V_I4REF(&v)) {
        *out = *V_I4REF(&v);
        return true;
    }
    return false;
}

}  // namespace

const wchar_t* method_name(Method m) { return kNames[static_cast<int>(m)]; }

std::wstring widen(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring& s) {
    if (s.empty()) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::string windows_path(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    std::string out = "Z:" + path;
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

// --- EventReceiver ----------------------------------------------------------------

namespace {

constexpr UINT kEventMessage = WM_APP + 0x21;
constexpr wchar_t kWindowClass[] = L"ZrnEventReceiverWindow";

ATOM window_class() {
    static const ATOM atom = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;  // replaced per window below
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kWindowClass;
        return RegisterClassW(&wc);
    }();
    return atom;
}

}  // namespace

DWORD pump_messages(DWORD ms, HANDLE handle) {
    const ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return WAIT_TIMEOUT;
        const DWORD left = static_cast<DWORD>(end - now);
        const DWORD r = MsgWaitForMultipleObjects(handle ? 1 : 0, handle ? &handle : nullptr, FALSE, left,
                                                  QS_ALLINPUT);
        if (handle && r == WAIT_OBJECT_0) return WAIT_OBJECT_0;
        if (r == WAIT_FAILED) return WAIT_FAILED;
    }
}

EventReceiver::EventReceiver()
    : owner_(GetCurrentThreadId()),
      changed_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (window_class()) {
        window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        if (window_) {
            SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
            SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&EventReceiver::window_proc));
        }
    }
}

EventReceiver::~EventReceiver() {
    close_events();
    if (window_) DestroyWindow(window_);
    if (changed_) CloseHandle(changed_);
    if (done_) CloseHandle(done_);
}

void EventReceiver::close_events() {
    // A raising thread waiting for its event is let go; the event may or
    // may not have been delivered.
    legal_ = false;
    if (done_) SetEvent(done_);
}

void EventReceiver::set_handler(std::function<void(const Event&)> handler) {
    std::lock_guard lock(mu_);
    handler_ = std::move(handler);
}

std::vector<Event> EventReceiver::events() const {
    std::lock_guard lock(mu_);
    return events_;
}

void EventReceiver::clear() {
    std::lock_guard lock(mu_);
    events_.clear();
}

bool EventReceiver::wait_for(const std::function<bool(const std::vector<Event>&)>& pred, DWORD timeout_ms) const {
    const bool pump = GetCurrentThreadId() == owner_;
    const ULONGLONG end = GetTickCount64() + timeout_ms;
    for (;;) {
        if (pred(events())) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        // Woken by each new event; the short cap only covers a pulse that
        // fell between the check and the wait.
        const DWORD step = static_cast<DWORD>(std::min<ULONGLONG>(end - now, 50));
        if (pump)
            pump_messages(step, changed_);
        else
            WaitForSingleObject(changed_, step);
        ResetEvent(changed_);
    }
}

void EventReceiver::record(Event e) {
    e.thread = GetCurrentThreadId();
    e.tick_ms = GetTickCount64();
    std::function<void(const Event&)> handler;
    {
        std::lock_guard lock(mu_);
        events_.push_back(e);
        handler = handler_;
    }
    SetEvent(changed_);
    if (handler) handler(e);
}

void EventReceiver::deliver_through_window(Event e) {
    std::lock_guard one_at_a_time(posting_);
    for (;;) {
        ResetEvent(done_);
        if (!legal_ || !window_) return;
        slot_ = e;
        slot_delivered_ = false;
        const WPARAM number = ++slot_number_;
        PostMessageW(window_, kEventMessage, number, 0);
        // As long as the application takes to pump its messages.
        WaitForSingleObject(done_, INFINITE);
        if (slot_delivered_ || !legal_) break;
        Sleep(kFrozenRetryMs);
    }
    ++slot_number_;  // a message still queued now finds nothing to deliver
}

LRESULT CALLBACK EventReceiver::window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<EventReceiver*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg != kEventMessage || !self) return DefWindowProcW(hwnd, msg, wp, lp);
    if (wp != self->slot_number_) return 0;
    if (self->legal_ && !self->frozen_) {
        self->record(self->slot_);
        self->slot_delivered_ = true;
    }
    SetEvent(self->done_);
    return 0;
}

HRESULT EventReceiver::QueryInterface(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}
ULONG EventReceiver::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
ULONG EventReceiver::Release() { return static_cast<ULONG>(InterlockedDecrement(&refs_)); }
HRESULT EventReceiver::GetTypeInfoCount(UINT* count) {
    if (count) *count = 0;
    return S_OK;
}
HRESULT EventReceiver::GetTypeInfo(UINT, LCID, ITypeInfo** out) {
    if (out) *out = nullptr;
    return DISP_E_BADINDEX;
}

HRESULT EventReceiver::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    InterlockedIncrement(&lookups_);
    if (!names || !ids || count != 1) return E_INVALIDARG;
    if (same_name(names[0], L"SOStatusUpdate")) {
        ids[0] = kDispStatusUpdate;
        return S_OK;
    }
    if (knows_direct_io_ && same_name(names[0], L"SODirectIO")) {
        ids[0] = kDispDirectIO;
        return S_OK;
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

HRESULT EventReceiver::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                              UINT*) {
    if (!(flags & DISPATCH_METHOD) || !params) return DISP_E_MEMBERNOTFOUND;
    Event e;
    if (id == kDispStatusUpdate) {
        if (params->cArgs != 1 || !arg_i4(params->rgvarg[0], &e.value)) {
            InterlockedIncrement(&bad_calls_);
            return DISP_E_TYPEMISMATCH;
        }
        e.kind = Event::StatusUpdate;
    } else if (id == kDispDirectIO && knows_direct_io_) {
        // Last argument first: String, Data, EventNumber.
        const VARIANT* a = params->rgvarg;
        if (params->cArgs != 3 || V_VT(&a[0]) != (VT_BYREF | VT_BSTR) || !V_BSTRREF(&a[0]) ||
            V_VT(&a[1]) != (VT_BYREF | VT_I4) || !V_I4REF(&a[1]) || V_VT(&a[2]) != VT_I4) {
            InterlockedIncrement(&bad_calls_);
            return DISP_E_TYPEMISMATCH;
        }
        e.kind = Event::DirectIO;
        e.value = V_I4(&a[2]);
        e.data = *V_I4REF(&a[1]);
        const BSTR s = *V_BSTRREF(&a[0]);
        e.text = narrow(std::wstring(s ? s : L"", s ? SysStringLen(s) : 0));
    } else {
        return DISP_E_MEMBERNOTFOUND;
    }
    e.raised_by = GetCurrentThreadId();
    // On the creating thread the event is delivered at once, as the
    // published Control Object does, frozen or not.
    if (GetCurrentThreadId() == owner_)
        record(std::move(e));
    else
        deliver_through_window(std::move(e));
    return S_OK;
}

// --- ServiceClient -------------------------------------------------------------------

HRESULT ServiceClient::create(const std::wstring& prog_id) {
    reset();
    CLSID clsid;
    hr_ = CLSIDFromProgID(prog_id.c_str(), &clsid);
    if (FAILED(hr_)) return hr_;
    hr_ = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&so_));
    if (FAILED(hr_)) so_ = nullptr;
    return hr_;
}

bool ServiceClient::look_up_methods() {
    missing_ = nullptr;
    looked_up_ = false;
    if (!so_) return false;
    for (int i = 0; i < kMethodCount; ++i) {
        LPOLESTR name = const_cast<LPOLESTR>(kNames[i]);
        hr_ = so_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &ids_[i]);
        if (hr_ != S_OK) {
            missing_ = kNames[i];
            return false;
        }
    }
    looked_up_ = true;
    return true;
}

void ServiceClient::reset() {
    // No event is delivered once the Control Object lets go.
    if (receiver_) receiver_->close_events();
    receiver_ = nullptr;
    if (so_) so_->Release();
    so_ = nullptr;
    looked_up_ = false;
}

bool ServiceClient::invoke(Method m, VARIANT* args, UINT count, VARIANT* result) {
    if (!so_ || !looked_up_) {
        hr_ = E_UNEXPECTED;
        return false;
    }
    std::vector<VARIANT> reversed(args, args + count);
    std::reverse(reversed.begin(), reversed.end());
    DISPPARAMS params{count ? reversed.data() : nullptr, nullptr, count, 0};
    EXCEPINFO excep{};
    UINT arg_err = 0;
    hr_ = so_->Invoke(ids_[static_cast<int>(m)], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                      &excep, &arg_err);
    if (excep.bstrSource) SysFreeString(excep.bstrSource);
    if (excep.bstrDescription) SysFreeString(excep.bstrDescription);
    if (excep.bstrHelpFile) SysFreeString(excep.bstrHelpFile);
    return SUCCEEDED(hr_);
}

std::int32_t ServiceClient::long_call(Method m, VARIANT* args, UINT count) {
    VARIANT result;
    VariantInit(&result);
    std::int32_t rc = OPOS_E_NOSERVICE;
    if (invoke(m, args, count, &result)) {
        if (FAILED(VariantChangeType(&result, &result, 0, VT_I4)) || !arg_i4(result, &rc)) rc = OPOS_E_NOSERVICE;
    }
    VariantClear(&result);
    for (UINT i = 0; i < count; ++i) VariantClear(&args[i]);
    return rc;
}

std::int32_t ServiceClient::open(const std::wstring& device_class, const std::wstring& device_name,
                                 IDispatch* control) {
    VARIANT a[3] = {bstr(device_class), bstr(device_name), {}};
    VariantInit(&a[2]);
    V_VT(&a[2]) = VT_DISPATCH;
    V_DISPATCH(&a[2]) = control;
    if (control) control->AddRef();  // released with the argument
    return long_call(Method::OpenService, a, 3);
}

std::int32_t ServiceClient::open(const std::wstring& device_class, const std::wstring& device_name,
                                 EventReceiver* control) {
    receiver_ = control;
    const std::int32_t rc = open(device_class, device_name, static_cast<IDispatch*>(control));
    if (control && rc == OPOS_SUCCESS) control->open_events();
    return rc;
}

std::int32_t ServiceClient::get_number(std::int32_t index) {
    VARIANT a[1] = {i4(index)};
    return long_call(Method::GetPropertyNumber, a, 1);
}

void ServiceClient::set_number(std::int32_t index, std::int32_t number) {
    // Unfrozen here before the Service Object flushes its queue into the
    // receiver; frozen here only once the Service Object holds its events.
    const bool freezing = index == PIDX_FreezeEvents && receiver_;
    if (freezing && number != 1) receiver_->set_frozen(false);
    VARIANT a[2] = {i4(index), i4(number)};
    VARIANT result;
    VariantInit(&result);
    invoke(Method::SetPropertyNumber, a, 2, &result);
    VariantClear(&result);
    if (freezing && number == 1) receiver_->set_frozen(true);
}

std::wstring ServiceClient::get_string(std::int32_t index) {
    VARIANT a[1] = {i4(index)};
    VARIANT result;
    VariantInit(&result);
    std::wstring out;
    if (invoke(Method::GetPropertyString, a, 1, &result) && V_VT(&result) == VT_BSTR && V_BSTR(&result))
        out.assign(V_BSTR(&result), SysStringLen(V_BSTR(&result)));
    VariantClear(&result);
    return out;
}

std::int32_t ServiceClient::check_health(std::int32_t level) {
    VARIANT a[1] = {i4(level)};
    return long_call(Method::CheckHealth, a, 1);
}

std::int32_t ServiceClient::claim(std::int32_t timeout) {
    VARIANT a[1] = {i4(timeout)};
    return long_call(Method::ClaimDevice, a, 1);
}

std::int32_t ServiceClient::close() {
    // Events end before the Service Object is asked to close, so a raising
    // thread waiting for this thread is let go instead of holding the close.
    if (receiver_) receiver_->close_events();
    return long_call(Method::CloseService, nullptr, 0);
}
std::int32_t ServiceClient::release() { return long_call(Method::ReleaseDevice, nullptr, 0); }
std::int32_t ServiceClient::open_drawer() { return long_call(Method::OpenDrawer, nullptr, 0); }

std::int32_t ServiceClient::direct_io(std::int32_t command, std::int32_t* data, std::wstring* text) {
    LONG number = data ? *data : 0;
    BSTR string = SysAllocStringLen(text ? text->data() : L"", text ? static_cast<UINT>(text->size()) : 0);
    VARIANT a[3] = {i4(command), {}, {}};
    VariantInit(&a[1]);
    V_VT(&a[1]) = VT_BYREF | VT_I4;
    V_I4REF(&a[1]) = &number;
    VariantInit(&a[2]);
    V_VT(&a[2]) = VT_BYREF | VT_BSTR;
    V_BSTRREF(&a[2]) = &string;
    const std::int32_t rc = long_call(Method::DirectIO, a, 3);  // clearing a by-reference VARIANT frees nothing
    if (data) *data = number;
    if (text) text->assign(string ? string : L"", string ? SysStringLen(string) : 0);
    SysFreeString(string);
    return rc;
}

std::int32_t ServiceClient::wait_for_drawer_close(std::int32_t beep_timeout, std::int32_t beep_frequency,
                                                  std::int32_t beep_duration, std::int32_t beep_delay) {
    VARIANT a[4] = {i4(beep_timeout), i4(beep_frequency), i4(beep_duration), i4(beep_delay)};
    return long_call(Method::WaitForDrawerClose, a, 4);
}

}  // namespace zrn::client
