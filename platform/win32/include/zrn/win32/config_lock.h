#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "zrn/platform/config_lock.h"

namespace zrn::win32 {

// The configuration lock as a named mutex in the global namespace, with a
// small named section beside it that says who holds it ("zrncd config import
// (process 4242, since 10:42:13)"). A holder that ended without letting go
// (killed) leaves the mutex abandoned: the next one takes it.
class Win32ConfigLock final : public platform::ConfigLock {
public:
    static constexpr const char* kMutexName = "Global\\ZRNOPOSCashDrawerConfigLock";
    static constexpr const char* kHolderName = "Global\\ZRNOPOSCashDrawerConfigHolder";
    static constexpr std::uint32_t kHolderSize = 256;

    Win32ConfigLock() = default;
    ~Win32ConfigLock() override;
    Win32ConfigLock(const Win32ConfigLock&) = delete;
    Win32ConfigLock& operator=(const Win32ConfigLock&) = delete;

    Status acquire(std::uint32_t timeout_ms, std::string_view who, std::string* holder) override;
    void release() override;

private:
    bool open(std::string* why);
    void* mutex_ = nullptr;
    void* section_ = nullptr;
    char* record_ = nullptr;
    int depth_ = 0;
};

}  // namespace zrn::win32
