#include "control_object_dispatch.h"

#include <oaidl.h>
#include <ole2.h>

#include <string>

#include "cash_drawer_control.h"
#include "zrn/opos.h"

namespace zrn::utility::win32 {

namespace {

namespace dispid = control_dispid;

class DispatchControlObject final : public ControlObject {
public:
    explicit DispatchControlObject(IDispatch* control) : control_(control) {}
    ~DispatchControlObject() override { control_->Release(); }

    std::int32_t Open(const std::string& device_name) override {
        VARIANT arg;
        VariantInit(&arg);
        const int n = MultiByteToWideChar(CP_ACP, 0, device_name.c_str(), -1, nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(n), L'\0');
        MultiByteToWideChar(CP_ACP, 0, device_name.c_str(), -1, wide.data(), n);
        arg.vt = VT_BSTR;
        arg.bstrVal = SysAllocString(wide.c_str());
        const std::int32_t r = call(dispid::Open, DISPATCH_METHOD, &arg, 1);
        VariantClear(&arg);
        return r;
    }
    std::int32_t ClaimDevice(std::int32_t timeout) override {
        VARIANT arg;
        VariantInit(&arg);
        arg.vt = VT_I4;
        arg.lVal = timeout;
        return call(dispid::ClaimDevice, DISPATCH_METHOD, &arg, 1);
    }
    std::int32_t Close() override { return call(dispid::Close, DISPATCH_METHOD, nullptr, 0); }
    bool GetDeviceEnabled() override { return flag(dispid::DeviceEnabled); }
    void SetDeviceEnabled(bool enabled) override {
        VARIANT arg;
        VariantInit(&arg);
        arg.vt = VT_BOOL;
        arg.boolVal = enabled ? VARIANT_TRUE : VARIANT_FALSE;
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params{&arg, &put, 1, 1};
        control_->Invoke(dispid::DeviceEnabled, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr,
                         nullptr, nullptr);
    }
    std::int32_t GetResultCode() override { return call(dispid::ResultCode, DISPATCH_PROPERTYGET, nullptr, 0); }
    bool GetCapStatus() override { return flag(dispid::CapStatus); }
    bool GetDrawerOpened() override { return flag(dispid::DrawerOpened); }
    std::int32_t OpenDrawer() override { return call(dispid::OpenDrawer, DISPATCH_METHOD, nullptr, 0); }

private:
    // A boolean property; a call that failed answers false, never "enabled"
    // or "opened".
    bool flag(DISPID id) {
        std::int32_t value = 0;
        return invoke(id, DISPATCH_PROPERTYGET, nullptr, 0, &value) && value != 0;
    }
    bool invoke(DISPID id, WORD flags, VARIANT* arg, UINT count, std::int32_t* value) {
        DISPPARAMS params{arg, nullptr, count, 0};
        VARIANT result;
        VariantInit(&result);
        const HRESULT hr = control_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &result, nullptr, nullptr);
        if (FAILED(hr)) return false;
        *value = 0;
        if (result.vt == VT_BOOL) {
            *value = result.boolVal != VARIANT_FALSE ? 1 : 0;
        } else if (SUCCEEDED(VariantChangeType(&result, &result, 0, VT_I4))) {
            *value = result.lVal;
        }
        VariantClear(&result);
        return true;
    }
    // One argument at most; the result as a 32-bit number (a failed call
    // gives the OPOS failure code).
    std::int32_t call(DISPID id, WORD flags, VARIANT* arg, UINT count) {
        std::int32_t value = 0;
        return invoke(id, flags, arg, count, &value) ? value : OPOS_E_FAILURE;
    }

    IDispatch* control_;
};

}  // namespace

std::unique_ptr<ControlObject> create_control_object() {
    IDispatch* control = nullptr;
    if (FAILED(CoCreateInstance(kCashDrawerControl, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&control))) ||
        control == nullptr)
        return nullptr;
    return std::make_unique<DispatchControlObject>(control);
}

}  // namespace zrn::utility::win32
