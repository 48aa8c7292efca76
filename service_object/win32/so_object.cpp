// The COM class ZRNOPOSCDImpl: the dual interface's thirteen methods
// translated and forwarded to the core Service Object, IDispatch served from
// the type information (so_typeinfo.cpp), an empty connection point
// container, aggregation.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#undef OpenService  // winsvc.h's, not ours

#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "ZRNOPOSCD_h.h"
#include "so_shell.h"
#include "zrn/so/method_call.h"

namespace zrn::so::shell {

namespace {

// --- an enumerator over no connection points ------------------------------------

class EmptyConnectionPoints final : public IEnumConnectionPoints {
public:
    EmptyConnectionPoints() { lock_module(); }
    ~EmptyConnectionPoints() { unlock_module(); }

    // A new enumerator, handed out with one reference.
    static HRESULT create(IEnumConnectionPoints** out) {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) EmptyConnectionPoints;
        if (!*out) return E_OUTOFMEMORY;
        (*out)->AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return query_single<IEnumConnectionPoints>(this, IID_IEnumConnectionPoints, riid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG n = InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint** out, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (count > 0 && !out) return E_POINTER;
        return count == 0 ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override { return count == 0 ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** out) override { return create(out); }

private:
    LONG refs_ = 0;
};

// --- the object -------------------------------------------------------------------

class CashDrawer final : public IZRNOPOSCDImpl, public IConnectionPointContainer {
public:
    explicit CashDrawer(IUnknown* outer) : inner_(this), outer_(outer ? outer : &inner_), so_(service_module()) {
        // From here the drivers may call the status callback for good.
        if (so_.port_driver_bound() && so_.usb_driver_bound()) pin_module();
    }

    IUnknown* inner() { return &inner_; }

    // IUnknown, delegated to the controlling unknown.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return outer_->QueryInterface(riid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return outer_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return outer_->Release(); }

    // IDispatch.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return dispatch_type_info(out);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (!names || !ids) return E_POINTER;
        if (count == 1) return member_dispid(names[0], ids);
        // Names of parameters as well: only the type information knows them.
        ITypeInfo* info = nullptr;
        const HRESULT hr = interface_type_info(&info);
        if (FAILED(hr)) return hr;
        const HRESULT r = info->GetIDsOfNames(names, count, ids);
        info->Release();
        return r;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excep, UINT* arg_err) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        ITypeInfo* info = nullptr;
        const HRESULT hr = interface_type_info(&info);
        if (FAILED(hr)) return hr;
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        const HRESULT r = info->Invoke(static_cast<IZRNOPOSCDImpl*>(this), id, flags, params ? params : &none,
                                       result, excep, arg_err);
        info->Release();
        return r;
    }

    // The service methods: every one answers S_OK unless its work was cut
    // short by an exception; the OPOS outcome is in the out-value and the
    // object's result pair. A null out-pointer is simply not written.
    HRESULT STDMETHODCALLTYPE COFreezeEvents(VARIANT_BOOL, LONG*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetPropertyNumber(LONG index, LONG* number) override {
        return call([&] { put(number, so_.GetPropertyNumber(index)); });
    }
    HRESULT STDMETHODCALLTYPE SetPropertyNumber(LONG index, LONG number) override {
        return call([&] { so_.SetPropertyNumber(index, number); });
    }
    HRESULT STDMETHODCALLTYPE GetPropertyString(LONG index, BSTR* text) override {
        return call([&] {
            std::string value;
            if (so_.GetPropertyString(index, &value) && text) *text = to_bstr(value);
        });
    }
    HRESULT STDMETHODCALLTYPE SetPropertyString(LONG, BSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OpenService(BSTR device_class, BSTR device_name, IDispatch* control,
                                          LONG* rc) override {
        return call([&] {
            // Kept as the plain IDispatch pointer: borrowed, not counted.
            put(rc, so_.OpenService(text(device_class), text(device_name), static_cast<ControlObject>(control)));
        }, rc);
    }
    HRESULT STDMETHODCALLTYPE CheckHealth(LONG level, LONG* rc) override {
        return call([&] { put(rc, so_.CheckHealth(level)); }, rc);
    }
    HRESULT STDMETHODCALLTYPE ClaimDevice(LONG timeout, LONG* rc) override {
        return call([&] { put(rc, so_.ClaimDevice(timeout)); }, rc);
    }
    HRESULT STDMETHODCALLTYPE CloseService(LONG* rc) override {
        return call([&] { put(rc, so_.CloseService()); }, rc);
    }
    HRESULT STDMETHODCALLTYPE DirectIO(LONG command, LONG* data, BSTR* string, LONG* rc) override {
        return call([&] {
            std::int32_t number = data ? *data : 0;
            std::string command_text;
            if (string) command_text = text(*string);
            put(rc, so_.DirectIO(command, data ? &number : nullptr, string ? &command_text : nullptr));
            if (data) *data = number;
        }, rc);
    }
    HRESULT STDMETHODCALLTYPE ReleaseDevice(LONG* rc) override {
        return call([&] { put(rc, so_.ReleaseDevice()); }, rc);
    }
    HRESULT STDMETHODCALLTYPE OpenDrawer(LONG* rc) override {
        return call([&] { put(rc, so_.OpenDrawer()); }, rc);
    }
    HRESULT STDMETHODCALLTYPE WaitForDrawerClose(LONG beep_timeout, LONG beep_frequency, LONG beep_duration,
                                                 LONG beep_delay, LONG* rc) override {
        return call([&] { put(rc, so_.WaitForDrawerClose(beep_timeout, beep_frequency, beep_duration, beep_delay)); }, rc);
    }

    // IConnectionPointContainer: events go through the Control Object's
    // IDispatch, so there are no connection points.
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
        return EmptyConnectionPoints::create(out);
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID, IConnectionPoint** out) override {
        if (out) *out = nullptr;
        return CONNECT_E_NOCONNECTION;
    }

private:
    // The object's own identity and lifetime, never delegated.
    class Inner final : public IUnknown {
    public:
        explicit Inner(CashDrawer* self) : self_(self) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
            if (!out) return E_POINTER;
            if (riid == IID_IUnknown) {
                *out = static_cast<IUnknown*>(this);
            } else if (riid == IID_IZRNOPOSCDImpl || riid == IID_IDispatch) {
                *out = static_cast<IZRNOPOSCDImpl*>(self_);
            } else if (riid == IID_IConnectionPointContainer) {
                *out = static_cast<IConnectionPointContainer*>(self_);
            } else {
                *out = nullptr;
                return E_NOINTERFACE;
            }
            static_cast<IUnknown*>(*out)->AddRef();
            return S_OK;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
        ULONG STDMETHODCALLTYPE Release() override {
            const LONG n = InterlockedDecrement(&refs_);
            if (n == 0) delete self_;
            return static_cast<ULONG>(n);
        }

    private:
        CashDrawer* self_;
        LONG refs_ = 0;
    };

    // Runs a method's work; an exception inside it answers failure, with
    // the result out-value (when the method has one) reading failure too.
    // The object keeps itself alive meanwhile: an event handler that lets go
    // of the Control Object from inside an event this call raised (a
    // DirectIO event) must not free the object under the call.
    template <typename F>
    HRESULT call(F f, LONG* rc = nullptr) {
        struct Hold {
            IUnknown* self;
            ~Hold() { self->Release(); }
        } hold{outer_};
        outer_->AddRef();
        std::int32_t failed = 0;
        switch (run_method(f, rc ? &failed : nullptr)) {
            case MethodOutcome::Done:
                return S_OK;
            case MethodOutcome::OutOfMemory:
                put(rc, failed);
                return E_OUTOFMEMORY;
            default:
                put(rc, failed);
                return E_FAIL;
        }
    }
    static void put(LONG* out, std::int32_t value) {
        if (out) *out = value;
    }
    static std::string text(BSTR s) { return to_ansi(s, s ? static_cast<int>(SysStringLen(s)) : 0); }

    // Declared first, so released last: the module stays locked until the
    // core object's teardown (claim removal, trace line) has run.
    struct ModuleLock {
        ModuleLock() { lock_module(); }
        ~ModuleLock() { unlock_module(); }
    } module_lock_;
    Inner inner_;
    IUnknown* outer_;
    ServiceObject so_;
};

}  // namespace

HRESULT create_cash_drawer(IUnknown* outer, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    // An aggregate may only ask for the inner unknown.
    if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    CashDrawer* obj = nullptr;
    try {
        obj = new CashDrawer(outer);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    IUnknown* inner = obj->inner();
    inner->AddRef();
    const HRESULT hr = inner->QueryInterface(riid, out);
    inner->Release();  // destroys the object again when the query failed
    return hr;
}

}  // namespace zrn::so::shell
