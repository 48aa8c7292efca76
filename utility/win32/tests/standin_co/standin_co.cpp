// A stand-in for the OPOS CashDrawer Control Object, for tests and the demo
// only: an in-process COM server registered under the Control Object's class
// id that opens a device the way a Control Object does (device entry lookup
// after logical name translation, the Service Object created by the entry's
// program identifier, the thirteen names, the version check, events) and
// answers the members the utility's health check calls, by dispatch id.
#include <windows.h>
#include <oaidl.h>
#include <objbase.h>
#include <olectl.h>

#include <atomic>
#include <string>

#include "cash_drawer_control.h"
#include "opos_client.h"
#include "zrn/cli/cli.h"
#include "zrn/opos.h"
#include "zrn/win32/win32_platform.h"

namespace {

using zrn::utility::win32::kCashDrawerControl;
using zrn::utility::win32::kCashDrawerControlKey;
namespace dispid = zrn::utility::win32::control_dispid;

HMODULE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};


class CashDrawerControl final : public IDispatch {
public:
    CashDrawerControl() { ++g_objects; }
    ~CashDrawerControl() {
        close();
        --g_objects;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long n = --refs_;
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    // Callers of this stand-in use dispatch ids only.
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID, DISPID* ids) override {
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override {
        const bool get = (flags & DISPATCH_PROPERTYGET) != 0;
        const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
        const bool method = (flags & DISPATCH_METHOD) != 0;
        const UINT args = params != nullptr ? params->cArgs : 0;
        switch (id) {
            case dispid::Open: {
                if (!method || args != 1) return DISP_E_BADPARAMCOUNT;
                VARIANT name;
                VariantInit(&name);
                if (FAILED(VariantChangeType(&name, &params->rgvarg[0], 0, VT_BSTR))) return DISP_E_TYPEMISMATCH;
                const std::int32_t rc = open(zrn::client::narrow(name.bstrVal ? name.bstrVal : L""));
                VariantClear(&name);
                return give_long(result, rc);
            }
            case dispid::ClaimDevice: {
                if (!method || args != 1) return DISP_E_BADPARAMCOUNT;
                VARIANT timeout;
                VariantInit(&timeout);
                if (FAILED(VariantChangeType(&timeout, &params->rgvarg[0], 0, VT_I4))) return DISP_E_TYPEMISMATCH;
                return give_long(result, call([&] { return so_.claim(timeout.lVal); }));
            }
            case dispid::Close:
                if (!method) return DISP_E_MEMBERNOTFOUND;
                return give_long(result, close());
            case dispid::OpenDrawer:
                if (!method) return DISP_E_MEMBERNOTFOUND;
                return give_long(result, call([&] { return so_.open_drawer(); }));
            case dispid::DeviceEnabled:
                if (put) {
                    if (args != 1) return DISP_E_BADPARAMCOUNT;
                    VARIANT on;
                    VariantInit(&on);
                    if (FAILED(VariantChangeType(&on, &params->rgvarg[0], 0, VT_BOOL))) return DISP_E_TYPEMISMATCH;
                    if (open_) {
                        so_.set_number(zrn::PIDX_DeviceEnabled, on.boolVal != VARIANT_FALSE ? 1 : 0);
                        result_code_ = so_.result_code();
                    } else {
                        result_code_ = zrn::OPOS_E_CLOSED;
                    }
                    return S_OK;
                }
                if (!get) return DISP_E_MEMBERNOTFOUND;
                return give_bool(result, open_ && so_.get_number(zrn::PIDX_DeviceEnabled) != 0);
            case dispid::ResultCode:
                if (!get) return DISP_E_MEMBERNOTFOUND;
                return give_long(result, open_ ? so_.result_code() : result_code_);
            case dispid::CapStatus:
                if (!get) return DISP_E_MEMBERNOTFOUND;
                return give_bool(result, open_ && so_.get_number(zrn::PIDX_CapStatus) != 0);
            case dispid::DrawerOpened:
                if (!get) return DISP_E_MEMBERNOTFOUND;
                return give_bool(result, open_ && so_.get_number(zrn::PIDX_DrawerOpened) != 0);
            default:
                return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    static HRESULT give_long(VARIANT* result, std::int32_t value) {
        if (result != nullptr) {
            VariantInit(result);
            result->vt = VT_I4;
            result->lVal = value;
        }
        return S_OK;
    }
    static HRESULT give_bool(VARIANT* result, bool value) {
        if (result != nullptr) {
            VariantInit(result);
            result->vt = VT_BOOL;
            result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        }
        return S_OK;
    }
    template <typename F>
    std::int32_t call(F f) {
        result_code_ = open_ ? f() : zrn::OPOS_E_CLOSED;
        return result_code_;
    }

    std::int32_t open(const std::string& name) {
        if (open_) return result_code_ = zrn::OPOS_E_ILLEGAL;
        const zrn::cli::Resolved found = zrn::cli::resolve(registry_, name);
        if (!found.found) return result_code_ = zrn::OPOS_E_NOEXIST;
        if (FAILED(so_.create(zrn::client::widen(found.prog_id))) || !so_.look_up_methods()) {
            so_.reset();
            return result_code_ = zrn::OPOS_E_NOSERVICE;
        }
        const std::int32_t rc = so_.open(L"CashDrawer", zrn::client::widen(found.key), &events_);
        if (rc != zrn::OPOS_SUCCESS) {
            so_.reset();
            return result_code_ = rc;
        }
        if (so_.get_number(zrn::PIDX_ServiceObjectVersion) / 1000000 != 1) {
            so_.close();
            so_.reset();
            return result_code_ = zrn::OPOS_E_NOSERVICE;
        }
        open_ = true;
        return result_code_ = zrn::OPOS_SUCCESS;
    }

    std::int32_t close() {
        if (!open_) return result_code_ = zrn::OPOS_E_CLOSED;
        so_.close();
        so_.reset();
        open_ = false;
        return result_code_ = zrn::OPOS_SUCCESS;
    }

    std::atomic<long> refs_{1};
    zrn::win32::Win32Registry registry_;
    zrn::client::ServiceClient so_;
    zrn::client::EventReceiver events_;
    bool open_ = false;
    std::int32_t result_code_ = zrn::OPOS_E_CLOSED;
};

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* control = new CashDrawerControl();
        const HRESULT hr = control->QueryInterface(riid, out);
        control->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ++g_locks;
        } else {
            --g_locks;
        }
        return S_OK;
    }
};

Factory g_factory;

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (clsid != kCashDrawerControl) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, out);
}

HRESULT __stdcall DllCanUnloadNow() { return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

HRESULT __stdcall DllRegisterServer() {
    wchar_t path[MAX_PATH] = {};
    if (GetModuleFileNameW(g_module, path, MAX_PATH) == 0) return SELFREG_E_CLASS;
    HKEY key = nullptr;
    const std::wstring server = std::wstring(kCashDrawerControlKey) + L"\\InprocServer32";
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    const auto set = [&](const wchar_t* name, const std::wstring& value) {
        return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    };
    const bool ok = set(nullptr, path) && set(L"ThreadingModel", L"Apartment");
    RegCloseKey(key);
    return ok ? S_OK : SELFREG_E_CLASS;
}

HRESULT __stdcall DllUnregisterServer() {
    const std::wstring server = std::wstring(kCashDrawerControlKey) + L"\\InprocServer32";
    RegDeleteKeyW(HKEY_CLASSES_ROOT, server.c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, kCashDrawerControlKey);
    return S_OK;
}

}  // extern "C"
