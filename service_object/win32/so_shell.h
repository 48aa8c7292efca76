#pragma once

// What the COM shell's files share: the module-wide Service Object state with
// its Win32 ports, the module's lock count and the type information.
#include <windows.h>
#include <oaidl.h>

// winsvc.h names a function OpenService too.
#undef OpenService

#include "zrn/so/service.h"

namespace zrn::so::shell {

HMODULE this_module();
void set_this_module(HMODULE module);  // from DllMain

// Live objects, enumerators, class-factory locks and running event threads.
void lock_module();
void unlock_module();
LONG module_locks();

// The per-process Service Object state, built on first use, never destroyed:
// the drivers' threads may call the status callback until the process ends.
ServiceModule& service_module();

// Keeps this module mapped for the rest of the process once the drivers hold
// the status callback's address.
void pin_module();

// The dual interface's type information, loaded once from the registered type
// library (or from the module itself when it is not registered).
HRESULT interface_type_info(ITypeInfo** out);
// Its dispatch view, as IDispatch::GetTypeInfo hands it out.
HRESULT dispatch_type_info(ITypeInfo** out);
// DISPID of one member name, without regard to case, from the names cache:
// S_OK, DISP_E_UNKNOWNNAME (id DISPID_UNKNOWN), or the type library's load error.
HRESULT member_dispid(const wchar_t* name, DISPID* id);

// The class factory's work: a new object, optionally inside an aggregate.
HRESULT create_cash_drawer(IUnknown* outer, REFIID riid, void** out);

// QueryInterface of an object that has one interface besides IUnknown.
template <typename Interface>
HRESULT query_single(Interface* self, REFIID own, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    if (riid != IID_IUnknown && riid != own) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    *out = self;
    self->AddRef();
    return S_OK;
}

// Texts crossing the COM boundary: UTF-16 there, ANSI inside.
std::string to_ansi(const wchar_t* text, int length);
BSTR to_bstr(const std::string& text);

}  // namespace zrn::so::shell
