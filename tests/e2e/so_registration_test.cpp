// ZRNOPOSCD.dll's registration through regsvr32 under Wine, its type
// library, and the COM server's entry points.
#include <windows.h>
#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>
#undef OpenService

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "ZRNOPOSCD_h.h"
#include "opos_client.h"
#include "proc.h"

using zrn::client::narrow;
using zrn::client::widen;

namespace {

const std::wstring kDll = widen(zrn::client::windows_path(ZRN_SO_DLL));

std::wstring guid_text(REFGUID g) {
    wchar_t buf[64];
    StringFromGUID2(g, buf, 64);
    return buf;
}

int regsvr32(const std::wstring& flags) {
    return zrn::e2e::finish(zrn::e2e::start("regsvr32.exe", "/s " + narrow(flags) + " \"" + narrow(kDll) + "\"").process,
                            60000 * ZRN_TIME_FACTOR);
}

bool key_exists(const std::wstring& path, REGSAM view = 0) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, &k) != ERROR_SUCCESS) return false;
    RegCloseKey(k);
    return true;
}

bool key_exists_in_either_view(const std::wstring& path) {
    return key_exists(path, KEY_WOW64_32KEY) || key_exists(path, KEY_WOW64_64KEY);
}

// Every key under path, and every value in them as "path|name" -> text.
void dump(HKEY parent, const std::wstring& path, std::set<std::wstring>* keys,
          std::map<std::wstring, std::wstring>* out) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return;
    keys->insert(path);
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD name_len = 256, type = 0;
        BYTE data[1024];
        DWORD size = sizeof data - 2;
        if (RegEnumValueW(k, i, name, &name_len, nullptr, &type, data, &size) != ERROR_SUCCESS) break;
        data[size] = data[size + 1] = 0;
        (*out)[path + L"|" + name] = type == REG_SZ ? std::wstring(reinterpret_cast<wchar_t*>(data)) : L"<non-text>";
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD len = 256;
        if (RegEnumKeyExW(k, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        dump(parent, path + L"\\" + name, keys, out);
    }
    RegCloseKey(k);
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    void TearDown() override {
        // Whatever happened, leave the server registered for the other tests.
        regsvr32(L"");
        CoUninitialize();
    }
};

TEST_F(Registration, RegisterWritesExactlyTheScriptAndUnregisterRemovesIt) {
    const std::wstring clsid = guid_text(CLSID_ZRNOPOSCDImpl);
    const std::wstring class_key = L"CLSID\\" + clsid;
    ASSERT_EQ(regsvr32(L"/u"), 0);
    EXPECT_FALSE(key_exists(L"ZRNOPOSCD.SO"));
    EXPECT_FALSE(key_exists(class_key));
    EXPECT_TRUE(key_exists(L"CLSID")) << "the CLSID key itself stays";
    ITypeLib* lib = nullptr;
    EXPECT_FALSE(SUCCEEDED(LoadRegTypeLib(LIBID_ZRNOPOSCDLib, 1, 0, 0x409, &lib))) << "type library unregistered";
    if (lib) lib->Release();
    const std::wstring platform_key =
        L"TypeLib\\" + guid_text(LIBID_ZRNOPOSCDLib) + L"\\1.0\\0\\" + (sizeof(void*) == 8 ? L"win64" : L"win32");
    EXPECT_FALSE(key_exists_in_either_view(platform_key)) << "type library unregistered";

    // Left-overs of an earlier registration do not survive a new one.
    HKEY stale = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (class_key + L"\\Programmable\\Stale").c_str(), 0, nullptr, 0,
                              KEY_WRITE, nullptr, &stale, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(stale);

    ASSERT_EQ(regsvr32(L""), 0);
    std::set<std::wstring> seen_keys;
    std::map<std::wstring, std::wstring> seen_values;
    dump(HKEY_CLASSES_ROOT, L"ZRNOPOSCD.SO", &seen_keys, &seen_values);
    dump(HKEY_CLASSES_ROOT, class_key, &seen_keys, &seen_values);
    const std::wstring libid = guid_text(LIBID_ZRNOPOSCDLib);
    const std::set<std::wstring> want_keys = {
        L"ZRNOPOSCD.SO", L"ZRNOPOSCD.SO\\CLSID", class_key, class_key + L"\\ProgID",
        class_key + L"\\VersionIndependentProgID", class_key + L"\\Programmable", class_key + L"\\InprocServer32",
        class_key + L"\\TypeLib",
    };
    // Default values, by key.
    std::map<std::wstring, std::wstring> values = {
        {L"ZRNOPOSCD.SO", L"ZRNOPOSCDImpl Class"},
        {L"ZRNOPOSCD.SO\\CLSID", clsid},
        {class_key, L"ZRNOPOSCDImpl Class"},
        {class_key + L"\\ProgID", L"ZRNOPOSCD.SO"},
        {class_key + L"\\VersionIndependentProgID", L"ZRNOPOSCD.SO"},
        {class_key + L"\\InprocServer32", kDll},
        {class_key + L"\\TypeLib", libid},
    };
    EXPECT_EQ(seen_keys, want_keys) << "no other keys, and no stale one";
    std::map<std::wstring, std::wstring> want_values;
    for (const auto& [k, v] : values) want_values[k + L"|"] = v;
    want_values[class_key + L"\\InprocServer32|ThreadingModel"] = L"Both";
    EXPECT_EQ(seen_values.size(), want_values.size());
    for (const auto& [k, v] : want_values) {
        ASSERT_TRUE(seen_values.count(k)) << narrow(k);
        EXPECT_EQ(CompareStringOrdinal(seen_values[k].c_str(), -1, v.c_str(), -1, TRUE), CSTR_EQUAL)
            << narrow(k) << " = " << narrow(seen_values[k]);
    }

    // The type library is registered with its attributes and help strings.
    ASSERT_TRUE(SUCCEEDED(LoadRegTypeLib(LIBID_ZRNOPOSCDLib, 1, 0, 0x409, &lib)));
    TLIBATTR* attr = nullptr;
    ASSERT_TRUE(SUCCEEDED(lib->GetLibAttr(&attr)));
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->lcid, 0x409u);
    lib->ReleaseTLibAttr(attr);
    BSTR name = nullptr, doc = nullptr;
    ASSERT_TRUE(SUCCEEDED(lib->GetDocumentation(-1, &name, &doc, nullptr, nullptr)));
    EXPECT_EQ(std::wstring(name), L"ZRNOPOSCDLib");
    EXPECT_EQ(std::wstring(doc), L"ZRNOPOSCD 1.0 Type Library");
    SysFreeString(name);
    SysFreeString(doc);
    ITypeInfo* iface = nullptr;
    ASSERT_TRUE(SUCCEEDED(lib->GetTypeInfoOfGuid(IID_IZRNOPOSCDImpl, &iface)));
    for (int i = 0; i < zrn::client::kMethodCount; ++i) {
        const std::wstring method = zrn::client::method_name(static_cast<zrn::client::Method>(i));
        LPOLESTR n = const_cast<LPOLESTR>(method.c_str());
        MEMBERID id = 0;
        ASSERT_TRUE(SUCCEEDED(iface->GetIDsOfNames(&n, 1, &id))) << narrow(method);
        EXPECT_EQ(id, i + 1) << narrow(method);
        BSTR help = nullptr;
        ASSERT_TRUE(SUCCEEDED(iface->GetDocumentation(id, nullptr, &help, nullptr, nullptr)));
        EXPECT_EQ(std::wstring(help), L"method " + method);
        SysFreeString(help);
    }
    iface->Release();
    ITypeInfo* events = nullptr;
    EXPECT_TRUE(SUCCEEDED(lib->GetTypeInfoOfGuid(DIID__IZRNOPOSCDImplEvents, &events)));
    if (events) events->Release();
    lib->Release();

    // A client creates the object by its program identifier.
    CLSID by_name{};
    ASSERT_EQ(CLSIDFromProgID(L"ZRNOPOSCD.SO", &by_name), S_OK);
    EXPECT_TRUE(IsEqualCLSID(by_name, CLSID_ZRNOPOSCDImpl));
    IDispatch* so = nullptr;
    ASSERT_EQ(CoCreateInstance(by_name, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&so)),
              S_OK);
    so->Release();
}

// An outer object that counts the references its aggregate hands to it.
class Outer final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (riid == IID_IUnknown) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, out) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    IUnknown* inner = nullptr;
    ULONG refs = 1;
};

TEST_F(Registration, ClassFactoryLocksAggregationAndResources) {
    HMODULE dll = LoadLibraryW(kDll.c_str());
    ASSERT_NE(dll, nullptr);
    using GetClassObject = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
    using CanUnload = HRESULT(__stdcall*)();
    auto get_class_object = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(dll, "DllGetClassObject")));
    auto can_unload = reinterpret_cast<CanUnload>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    ASSERT_TRUE(get_class_object && can_unload);

    wchar_t text[64] = {};
    EXPECT_GT(LoadStringW(dll, 100, text, 64), 0);
    EXPECT_EQ(std::wstring(text), L"ZRNOPOSCD");

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(get_class_object(IID_IDispatch, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(none, nullptr);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(get_class_object(CLSID_ZRNOPOSCDImpl, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(can_unload(), S_FALSE) << "a factory reference is held";
    factory->LockServer(TRUE);
    factory->Release();
    EXPECT_EQ(can_unload(), S_FALSE) << "the server is locked";
    factory->LockServer(FALSE);
    EXPECT_EQ(can_unload(), S_OK);

    ASSERT_EQ(get_class_object(CLSID_ZRNOPOSCDImpl, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    IDispatch* so = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&so)), S_OK);
    IUnknown* bad = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, reinterpret_cast<void**>(&bad)), E_NOINTERFACE);
    EXPECT_EQ(bad, nullptr);

    // Aggregated: only the inner unknown is handed out, and the interfaces
    // it gives delegate their references to the outer object.
    Outer outer;
    IUnknown* inner = nullptr;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, reinterpret_cast<void**>(&inner)), CLASS_E_NOAGGREGATION);
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    outer.inner = inner;
    IDispatch* through = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&through)), S_OK);
    EXPECT_EQ(outer.refs, 2u) << "the interface's reference went to the outer object";
    IUnknown* identity = nullptr;
    through->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer)) << "identity is the outer object's";
    identity->Release();
    through->Release();
    EXPECT_EQ(outer.refs, 1u);
    factory->Release();

    EXPECT_EQ(can_unload(), S_FALSE) << "live objects";
    so->Release();
    EXPECT_EQ(can_unload(), S_FALSE) << "the aggregate still lives";
    inner->Release();
    EXPECT_EQ(can_unload(), S_OK);
    FreeLibrary(dll);
}

}  // namespace
