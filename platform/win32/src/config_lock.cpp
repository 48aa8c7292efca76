#include "zrn/win32/config_lock.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "zrn/text.h"
#include "zrn/win32/last_error.h"
#include "zrn/win32/shared_objects.h"

namespace zrn::win32 {

Win32ConfigLock::~Win32ConfigLock() {
    while (depth_ > 0) release();
    if (record_) UnmapViewOfFile(record_);
    if (section_) CloseHandle(section_);
    if (mutex_) CloseHandle(mutex_);
}

bool Win32ConfigLock::open(std::string* why) {
    if (mutex_ && record_) return true;
    DWORD error = 0;
    if (!mutex_) mutex_ = join_or_create_mutex(kMutexName, SharedUsers::Administrators, &error);
    if (mutex_ && !section_) section_ = join_or_create_section(kHolderName, kHolderSize, SharedUsers::Administrators, &error);
    if (section_ && !record_) {
        record_ = static_cast<char*>(MapViewOfFile(section_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kHolderSize));
        if (!record_) error = GetLastError();
    }
    if (mutex_ && record_) return true;
    *why = error_text(error);
    return false;
}

platform::ConfigLock::Status Win32ConfigLock::acquire(std::uint32_t timeout_ms, std::string_view who,
                                                      std::string* holder) {
    if (!open(holder)) return Status::Failed;
    const DWORD r = WaitForSingleObject(mutex_, timeout_ms);
    if (r == WAIT_TIMEOUT) {
        *holder = std::string(record_, strnlen(record_, kHolderSize));
        if (holder->empty()) *holder = "another program";
        return Status::Busy;
    }
    // An abandoned mutex is had all the same: its holder ended without
    // letting go, and what it left half-done is for the one taking over.
    if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) {
        *holder = error_text(GetLastError());
        return Status::Failed;
    }
    ++depth_;
    SYSTEMTIME t;
    GetLocalTime(&t);
    char text[kHolderSize];
    std::snprintf(text, sizeof text, "%.*s (process %lu, since %02u:%02u:%02u)", static_cast<int>(who.size()),
                  who.data(), static_cast<unsigned long>(GetCurrentProcessId()), t.wHour, t.wMinute, t.wSecond);
    bounded_copy(record_, kHolderSize, text);
    return Status::Acquired;
}

void Win32ConfigLock::release() {
    if (depth_ == 0) return;
    if (--depth_ == 0) bounded_copy(record_, kHolderSize, "");
    ReleaseMutex(mutex_);
}

}  // namespace zrn::win32
