#include "zrn/win32/win32_platform.h"

#include <windows.h>

#include <memory>

namespace zrn::win32 {

using platform::RegData;
using platform::RegKey;
using platform::RegStatus;

void Win32Clock::sleep_ms(std::uint32_t ms) { ::Sleep(ms); }

platform::LocalTime Win32Clock::local_time() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, platform::day_of_year(st.wYear, st.wMonth, st.wDay),
            st.wHour, st.wMinute, st.wSecond};
}

std::uint64_t Win32Clock::monotonic_ms() { return ::GetTickCount64(); }

namespace {
DWORD WINAPI thread_entry(LPVOID arg) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(arg));
    try {
        (*work)();
    } catch (...) {
        // A worker must never take the process down.
    }
    return 0;
}

// The predefined root is sign-extended in a 64-bit HKEY; the port's value is not.
HKEY to_hkey(RegKey key) { return key == platform::kHklm ? HKEY_LOCAL_MACHINE : reinterpret_cast<HKEY>(key); }
}  // namespace

bool Win32Threads::start(std::function<void()> work) {
    auto* heap = new (std::nothrow) std::function<void()>(std::move(work));
    if (!heap) return false;
    HANDLE h = ::CreateThread(nullptr, 0, thread_entry, heap, 0, nullptr);
    if (!h) {
        errors_.record_last("CreateThread");
        delete heap;
        return false;
    }
    ::CloseHandle(h);
    return true;
}

unsigned long Win32Registry::view_flag() const {
    switch (view_) {
        case RegistryView::Bits32:
            return KEY_WOW64_32KEY;
        case RegistryView::Bits64:
            return KEY_WOW64_64KEY;
        default:
            return 0;
    }
}

RegStatus Win32Registry::noted(RegStatus st, const char* call, std::string_view subject) {
    if (st != ERROR_SUCCESS && st != ERROR_NO_MORE_ITEMS) errors_.record(operation_text(call, subject), st);
    return st;
}

RegStatus Win32Registry::open_key(RegKey parent, std::string_view subkey, bool writable, RegKey* out) {
    HKEY h = nullptr;
    const std::string sub(subkey);
    const LONG st = ::RegOpenKeyExA(to_hkey(parent), sub.c_str(), 0,
                                    (writable ? KEY_READ | KEY_WRITE : KEY_READ) | view_flag(), &h);
    if (st == ERROR_SUCCESS) *out = reinterpret_cast<RegKey>(h);
    return noted(st, "RegOpenKeyExA", subkey);
}

RegStatus Win32Registry::create_key(RegKey parent, std::string_view subkey, std::string_view class_text, RegKey* out,
                                    bool* created) {
    HKEY h = nullptr;
    DWORD disposition = 0;
    const std::string sub(subkey);
    std::string cls(class_text);
    const LONG st = ::RegCreateKeyExA(to_hkey(parent), sub.c_str(), 0, cls.empty() ? nullptr : cls.data(),
                                      REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE | view_flag(), nullptr, &h,
                                      &disposition);
    if (st == ERROR_SUCCESS) {
        *out = reinterpret_cast<RegKey>(h);
        if (created) *created = disposition == REG_CREATED_NEW_KEY;
    }
    return noted(st, "RegCreateKeyExA", subkey);
}

void Win32Registry::close_key(RegKey key) { noted(::RegCloseKey(to_hkey(key)), "RegCloseKey", {}); }

RegStatus Win32Registry::enum_key(RegKey key, std::uint32_t index, std::string* name) {
    char buf[256];
    DWORD len = sizeof buf;
    const LONG st = ::RegEnumKeyExA(to_hkey(key), index, buf, &len, nullptr, nullptr, nullptr, nullptr);
    if (st == ERROR_SUCCESS) name->assign(buf, len);
    return noted(st, "RegEnumKeyExA", {});
}

RegStatus Win32Registry::enum_value(RegKey key, std::uint32_t index, std::string* name, RegData* data) {
    // Value names are at most 16383 characters.
    std::string buf(16384, '\0');
    DWORD len = static_cast<DWORD>(buf.size());
    DWORD type = 0, size = 0;
    LONG st = ::RegEnumValueA(to_hkey(key), index, buf.data(), &len, nullptr, &type, nullptr, &size);
    if (st != ERROR_SUCCESS) return noted(st, "RegEnumValueA", {});
    buf.resize(len);
    if (data) {
        data->type = type;
        data->bytes.assign(size, 0);
        DWORD len2 = static_cast<DWORD>(buf.size() + 1);
        std::string again(len2, '\0');
        st = ::RegEnumValueA(to_hkey(key), index, again.data(), &len2, nullptr, &type, data->bytes.data(), &size);
        if (st != ERROR_SUCCESS) return noted(st, "RegEnumValueA", buf);
        data->type = type;
        data->bytes.resize(size);
    }
    *name = std::move(buf);
    return ERROR_SUCCESS;
}

RegStatus Win32Registry::query_value(RegKey key, std::string_view name, std::size_t capacity, RegData* data) {
    const std::string n(name);
    std::vector<std::uint8_t> buf(capacity);
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(capacity);
    const LONG st = ::RegQueryValueExA(to_hkey(key), n.c_str(), nullptr, &type, buf.empty() ? nullptr : buf.data(),
                                       &size);
    if (st != ERROR_SUCCESS) return noted(st, "RegQueryValueExA", name);
    // A null buffer with data present reports success and the size only.
    if (size > capacity) return noted(ERROR_MORE_DATA, "RegQueryValueExA", name);
    buf.resize(size);
    data->type = type;
    data->bytes = std::move(buf);
    return ERROR_SUCCESS;
}

RegStatus Win32Registry::set_value(RegKey key, std::string_view name, const RegData& data) {
    const std::string n(name);
    return noted(::RegSetValueExA(to_hkey(key), n.c_str(), 0, data.type, data.bytes.data(),
                                  static_cast<DWORD>(data.bytes.size())),
                 "RegSetValueExA", name);
}

RegStatus Win32Registry::delete_value(RegKey key, std::string_view name) {
    const std::string n(name);
    return noted(::RegDeleteValueA(to_hkey(key), n.c_str()), "RegDeleteValueA", name);
}

RegStatus Win32Registry::delete_key(RegKey parent, std::string_view subkey) {
    if (subkey.empty()) return ERROR_INVALID_PARAMETER;
    const std::string sub(subkey);
    return noted(::RegDeleteKeyExA(to_hkey(parent), sub.c_str(), view_flag(), 0), "RegDeleteKeyExA", subkey);
}

namespace {
platform::Files::Handle from_handle(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? platform::Files::kInvalid : reinterpret_cast<platform::Files::Handle>(h);
}
HANDLE to_handle(platform::Files::Handle h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

bool Win32Files::noted(bool ok, const char* call, std::string_view subject) {
    if (!ok) errors_.record_last(call, subject);
    return ok;
}

Win32Files::Handle Win32Files::open_existing_for_write(const std::string& path, bool* held) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    // This call's own code: another thread may record a failure of its own meanwhile.
    const DWORD error = h == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) errors_.record(operation_text("CreateFileA", path), error);
    if (held) *held = error == ERROR_SHARING_VIOLATION;
    return from_handle(h);
}

Win32Files::Handle Win32Files::create_new_for_write(const std::string& path) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    noted(h != INVALID_HANDLE_VALUE, "CreateFileA", path);
    return from_handle(h);
}

Win32Files::Handle Win32Files::open_existing_read_write(const std::string& path) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    noted(h != INVALID_HANDLE_VALUE, "CreateFileA", path);
    return from_handle(h);
}

Win32Files::Handle Win32Files::create_always_read_write(const std::string& path) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    noted(h != INVALID_HANDLE_VALUE, "CreateFileA", path);
    return from_handle(h);
}

bool Win32Files::create_directory(const std::string& path) {
    return noted(::CreateDirectoryA(path.c_str(), nullptr) != 0, "CreateDirectoryA", path);
}

void Win32Files::seek_end(Handle h) {
    // A 32-bit position that reads as the failure value is a success when no error is set.
    ::SetLastError(NO_ERROR);
    const DWORD pos = ::SetFilePointer(to_handle(h), 0, nullptr, FILE_END);
    noted(pos != INVALID_SET_FILE_POINTER || ::GetLastError() == NO_ERROR, "SetFilePointer");
}

bool Win32Files::read(Handle h, void* data, std::size_t max, std::size_t* got) {
    // One call reads at most what a DWORD counts.
    const DWORD ask = max > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(max);
    DWORD n = 0;
    const BOOL ok = ::ReadFile(to_handle(h), data, ask, &n, nullptr);
    *got = ok ? n : 0;
    return noted(ok != 0, "ReadFile");
}

void Win32Files::write(Handle h, const void* data, std::size_t size) {
    DWORD written = 0;
    noted(::WriteFile(to_handle(h), data, static_cast<DWORD>(size), &written, nullptr) != 0, "WriteFile");
}

void Win32Files::close(Handle h) { noted(::CloseHandle(to_handle(h)) != 0, "CloseHandle"); }

}  // namespace zrn::win32
