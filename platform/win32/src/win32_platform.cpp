#include "zrn/win32/win32_platform.h"

#include <windows.h>

#include <memory>
#include <new>

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
struct ThreadStart {
    std::function<void()> work;
    HMODULE held = nullptr;  // released as the thread's last act
};

DWORD WINAPI thread_entry(LPVOID arg) {
    std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(arg));
    try {
        start->work();
    } catch (...) {
        // A worker must never take the process down.
    }
    const HMODULE held = start->held;
    start.reset();
    if (held) ::FreeLibraryAndExitThread(held, 0);
    return 0;
}

// The predefined root is sign-extended in a 64-bit HKEY; the port's value is not.
HKEY to_hkey(RegKey key) { return key == platform::kHklm ? HKEY_LOCAL_MACHINE : reinterpret_cast<HKEY>(key); }
}  // namespace

bool Win32Threads::start(std::function<void()> work) {
    std::unique_ptr<ThreadStart> start(new (std::nothrow) ThreadStart{std::move(work)});
    if (!start) return false;
    if (hold_ == Hold::ThisModule &&
        !::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&thread_entry),
                              &start->held)) {
        errors_.record_last("GetModuleHandleExW");
        return false;
    }
    HANDLE h = ::CreateThread(nullptr, 0, thread_entry, start.get(), 0, nullptr);
    if (!h) {
        errors_.record_last("CreateThread");
        if (start->held) ::FreeLibrary(start->held);
        return false;
    }
    start.release();  // the thread's now
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

std::string Win32Registry::error_text(RegStatus status) const {
    return win32::error_text(static_cast<std::uint32_t>(status));
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
    // The link itself is opened, not what it leads to, so that it can be
    // told apart and refused.
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    // This call's own code: another thread may record a failure of its own meanwhile.
    DWORD error = h == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
    // The attributes alone: the full file information costs a volume query.
    FILE_ATTRIBUTE_TAG_INFO info;
    if (h != INVALID_HANDLE_VALUE && ::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &info, sizeof info) &&
        (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ::CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
        error = ERROR_CANT_ACCESS_FILE;
    }
    if (error != ERROR_SUCCESS) errors_.record(operation_text("CreateFileA", path), error);
    if (held) *held = error == ERROR_SHARING_VIOLATION;
    return from_handle(h);
}

Win32Files::Handle Win32Files::create_new_for_write(const std::string& path) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    noted(h != INVALID_HANDLE_VALUE, "CreateFileA", path);
    return from_handle(h);
}

platform::FileStatus Win32Files::status_of(bool ok, const char* call, std::string_view subject) {
    // This call's own code: another thread may record a failure of its own meanwhile.
    const DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    if (!ok) errors_.record(operation_text(call, subject), error);
    // A failure the system gave no code for still is one.
    return ok ? platform::kFileOk : error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
}

Win32Files::Handle Win32Files::create_file(const std::string& path, unsigned long disposition,
                                           platform::FileStatus* status) {
    HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    const platform::FileStatus st = status_of(h != INVALID_HANDLE_VALUE, "CreateFileA", path);
    if (status) *status = st;
    return from_handle(h);
}

Win32Files::Handle Win32Files::open_existing_read_write(const std::string& path, platform::FileStatus* status) {
    return create_file(path, OPEN_EXISTING, status);
}

Win32Files::Handle Win32Files::create_always_read_write(const std::string& path, platform::FileStatus* status) {
    return create_file(path, CREATE_ALWAYS, status);
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

platform::FileStatus Win32Files::write(Handle h, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD ask = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (::WriteFile(to_handle(h), bytes, ask, &written, nullptr) == 0) return status_of(false, "WriteFile");
        // A write that takes nothing would take nothing again: the disk is full.
        if (written == 0) {
            ::SetLastError(ERROR_DISK_FULL);
            return status_of(false, "WriteFile");
        }
        bytes += written;
        size -= written;
    }
    return platform::kFileOk;
}

platform::FileStatus Win32Files::flush(Handle h) {
    return status_of(::FlushFileBuffers(to_handle(h)) != 0, "FlushFileBuffers");
}

void Win32Files::close(Handle h) { noted(::CloseHandle(to_handle(h)) != 0, "CloseHandle"); }

platform::FileStatus Win32Files::replace(const std::string& from, const std::string& to) {
    // Within one folder a rename replaces the file in one step; write-through
    // makes it reach the disk before the call returns.
    const platform::FileStatus st = status_of(
        ::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0,
        "MoveFileExA", to);
    if (st != ERROR_ACCESS_DENIED) return st;
    // A file another program has open cannot be renamed over either, but
    // Windows says so as "access denied": an open of our own tells it apart
    // from a file or folder we may not change.
    HANDLE probe = ::CreateFileA(to.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        ::CloseHandle(probe);
        return st;
    }
    return ::GetLastError() == ERROR_SHARING_VIOLATION ? static_cast<platform::FileStatus>(ERROR_SHARING_VIOLATION) : st;
}

platform::FileStatus Win32Files::remove(const std::string& path) {
    return status_of(::DeleteFileA(path.c_str()) != 0, "DeleteFileA", path);
}

std::string Win32Files::error_text(platform::FileStatus status) const { return win32::error_text(status); }

bool Win32Files::list_files(const std::string& folder, std::vector<std::string>* names) {
    names->clear();
    WIN32_FIND_DATAA found;
    const std::string pattern = folder + "\\*";
    HANDLE h = ::FindFirstFileA(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return noted(::GetLastError() == ERROR_FILE_NOT_FOUND, "FindFirstFileA", folder);
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names->push_back(found.cFileName);
    } while (::FindNextFileA(h, &found));
    const bool ended = ::GetLastError() == ERROR_NO_MORE_FILES;
    ::FindClose(h);
    return noted(ended, "FindNextFileA", folder);
}

bool Win32Files::is_reparse_point(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool windows_is_64bit() {
#ifdef _WIN64
    return true;
#else
    BOOL wow = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow) && wow;
#endif
}

}  // namespace zrn::win32
