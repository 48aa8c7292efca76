// ZRNOPOSCD.dll's entry points: the class factory, the unload answer and
// self-registration. The .def file alone exports them.
#include <windows.h>
#include <olectl.h>

#include <string>

#include "ZRNOPOSCD_h.h"
#include "so_shell.h"

using namespace zrn::so::shell;

namespace {

constexpr const wchar_t* kProgId = L"ZRNOPOSCD.SO";
constexpr const wchar_t* kClassName = L"ZRNOPOSCDImpl Class";

class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        return query_single<IClassFactory>(this, IID_IClassFactory, riid, out);
    }
    // One static factory: a reference to it keeps the module loaded.
    ULONG STDMETHODCALLTYPE AddRef() override {
        lock_module();
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        unlock_module();
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
        return create_cash_drawer(outer, riid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            lock_module();
        else
            unlock_module();
        return S_OK;
    }
};

ClassFactory g_factory;

std::wstring guid_text(REFGUID g) {
    wchar_t buf[64];
    StringFromGUID2(g, buf, 64);
    return buf;
}

LONG set_text(HKEY key, const wchar_t* name, const std::wstring& value) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// Creates (or opens) parent\path and gives it a default value unless null.
LONG write_key(HKEY parent, const std::wstring& path, const wchar_t* default_value, HKEY* out = nullptr) {
    HKEY key = nullptr;
    LONG st = RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (st != ERROR_SUCCESS) return st;
    if (default_value) st = set_text(key, nullptr, default_value);
    if (out && st == ERROR_SUCCESS)
        *out = key;
    else
        RegCloseKey(key);
    return st;
}

LONG remove_tree(HKEY parent, const std::wstring& path) {
    const LONG st = RegDeleteTreeW(parent, path.c_str());
    return st == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : st;
}

std::wstring module_path() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(this_module(), path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    return std::wstring(path, n);
}

LONG write_class_keys(const std::wstring& path) {
    const std::wstring clsid = guid_text(CLSID_ZRNOPOSCDImpl);
    const std::wstring class_key = L"CLSID\\" + clsid;
    LONG st = write_key(HKEY_CLASSES_ROOT, kProgId, kClassName);
    if (st == ERROR_SUCCESS) st = write_key(HKEY_CLASSES_ROOT, std::wstring(kProgId) + L"\\CLSID", clsid.c_str());
    // The class key is made afresh, so nothing of an earlier registration stays.
    if (st == ERROR_SUCCESS) st = remove_tree(HKEY_CLASSES_ROOT, class_key);
    if (st == ERROR_SUCCESS) st = write_key(HKEY_CLASSES_ROOT, class_key, kClassName);
    if (st == ERROR_SUCCESS) st = write_key(HKEY_CLASSES_ROOT, class_key + L"\\ProgID", kProgId);
    if (st == ERROR_SUCCESS) st = write_key(HKEY_CLASSES_ROOT, class_key + L"\\VersionIndependentProgID", kProgId);
    if (st == ERROR_SUCCESS) st = write_key(HKEY_CLASSES_ROOT, class_key + L"\\Programmable", nullptr);
    HKEY server = nullptr;
    if (st == ERROR_SUCCESS) st = write_key(HKEY_CLASSES_ROOT, class_key + L"\\InprocServer32", path.c_str(), &server);
    if (st == ERROR_SUCCESS) {
        st = set_text(server, L"ThreadingModel", L"Both");
        RegCloseKey(server);
    }
    if (st == ERROR_SUCCESS)
        st = write_key(HKEY_CLASSES_ROOT, class_key + L"\\TypeLib", guid_text(LIBID_ZRNOPOSCDLib).c_str());
    return st;
}

LONG remove_class_keys() {
    // "CLSID" itself belongs to the system and stays.
    const LONG a = remove_tree(HKEY_CLASSES_ROOT, L"CLSID\\" + guid_text(CLSID_ZRNOPOSCDImpl));
    const LONG b = remove_tree(HKEY_CLASSES_ROOT, kProgId);
    return a != ERROR_SUCCESS ? a : b;
}

}  // namespace

extern "C" {

HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (clsid != CLSID_ZRNOPOSCDImpl) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, out);
}

HRESULT __stdcall DllCanUnloadNow() { return module_locks() == 0 ? S_OK : S_FALSE; }

HRESULT __stdcall DllRegisterServer() {
    std::wstring path = module_path();
    if (path.empty()) return SELFREG_E_CLASS;
    const LONG st = write_class_keys(path);
    if (st != ERROR_SUCCESS) return HRESULT_FROM_WIN32(st);
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib);
    if (SUCCEEDED(hr)) {
        hr = RegisterTypeLib(lib, path.data(), nullptr);
        lib->Release();
    }
    return SUCCEEDED(hr) ? S_OK : SELFREG_E_TYPELIB;
}

HRESULT __stdcall DllUnregisterServer() {
    const LONG st = remove_class_keys();
    // The type library's registration goes by the attributes it was made with.
    HRESULT hr = S_OK;
    const std::wstring path = module_path();
    ITypeLib* lib = nullptr;
    if (!path.empty() && SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib))) {
        TLIBATTR* attr = nullptr;
        if (SUCCEEDED(lib->GetLibAttr(&attr))) {
            hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
            // Already gone is what was asked for.
            if (hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_LIBNOTREGISTERED) hr = S_OK;
            lib->ReleaseTLibAttr(attr);
        }
        lib->Release();
    }
    if (st != ERROR_SUCCESS) return HRESULT_FROM_WIN32(st);
    return SUCCEEDED(hr) ? S_OK : SELFREG_E_TYPELIB;
}

}  // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        set_this_module(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
