// The dual interface's type information, loaded once per module and kept:
// both views of the interface and its member names for GetIDsOfNames.
#include <windows.h>
#include <oleauto.h>

#include <cwctype>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ZRNOPOSCD_h.h"
#include "so_shell.h"

namespace zrn::so::shell {

namespace {

struct TypeInfoCache {
    std::mutex mu;
    bool loaded = false;
    ITypeInfo* dispatch = nullptr;  // the dispatch view, as GetTypeInfo hands it out
    ITypeInfo* info = nullptr;      // the interface view, for Invoke and the names
    std::vector<std::pair<std::wstring, DISPID>> names;
};

TypeInfoCache& type_cache() {
    static TypeInfoCache* c = new TypeInfoCache;  // lives as long as the module
    return *c;
}

std::wstring folded(const wchar_t* s) {
    std::wstring out;
    for (; s && *s; ++s) out.push_back(static_cast<wchar_t>(std::towlower(*s)));
    return out;
}

ITypeLib* load_type_library() {
    ITypeLib* lib = nullptr;
    if (SUCCEEDED(LoadRegTypeLib(LIBID_ZRNOPOSCDLib, 1, 0, 0x409, &lib))) return lib;
    // Not registered (created without DllRegisterServer): the copy embedded here.
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(this_module(), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    if (SUCCEEDED(LoadTypeLibEx(path, REGKIND_NONE, &lib))) return lib;
    return nullptr;
}

void fill_cache(TypeInfoCache& c) {
    ITypeLib* lib = load_type_library();
    if (!lib) return;
    ITypeInfo* info = nullptr;
    const HRESULT hr = lib->GetTypeInfoOfGuid(IID_IZRNOPOSCDImpl, &info);
    lib->Release();
    if (FAILED(hr)) return;
    // The type library hands out the dispatch view of a dual interface;
    // Invoke works on the interface view, which lists only our own methods.
    HREFTYPE ref = 0;
    ITypeInfo* iface = nullptr;
    c.dispatch = info;
    if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, &iface))) {
        info = iface;
    } else {
        info->AddRef();  // one view serves both
    }
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attr))) {
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            FUNCDESC* fd = nullptr;
            if (FAILED(info->GetFuncDesc(i, &fd))) continue;
            BSTR name = nullptr;
            UINT got = 0;
            if (SUCCEEDED(info->GetNames(fd->memid, &name, 1, &got)) && got == 1) {
                c.names.emplace_back(folded(name), fd->memid);
                SysFreeString(name);
            }
            info->ReleaseFuncDesc(fd);
        }
        info->ReleaseTypeAttr(attr);
    }
    c.info = info;
}

HRESULT cached_type_info(bool dispatch_view, ITypeInfo** out) {
    TypeInfoCache& c = type_cache();
    std::lock_guard lock(c.mu);
    // A failed load is tried again on the next call rather than kept.
    if (!c.loaded) {
        fill_cache(c);
        c.loaded = c.info != nullptr;
    }
    ITypeInfo* info = dispatch_view ? c.dispatch : c.info;
    if (!info) return TYPE_E_CANTLOADLIBRARY;
    info->AddRef();
    *out = info;
    return S_OK;
}

}  // namespace

HRESULT interface_type_info(ITypeInfo** out) { return cached_type_info(false, out); }
HRESULT dispatch_type_info(ITypeInfo** out) { return cached_type_info(true, out); }

HRESULT member_dispid(const wchar_t* name, DISPID* id) {
    ITypeInfo* info = nullptr;
    const HRESULT hr = interface_type_info(&info);  // loads the cache on first use
    if (FAILED(hr)) return hr;
    info->Release();  // the cache keeps its own reference
    const std::wstring key = folded(name);
    for (const auto& [n, d] : type_cache().names) {
        if (n == key) {
            *id = d;
            return S_OK;
        }
    }
    *id = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
}

}  // namespace zrn::so::shell
