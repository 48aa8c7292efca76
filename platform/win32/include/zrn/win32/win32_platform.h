#pragma once

#include "zrn/platform/clock.h"
#include "zrn/platform/files.h"
#include "zrn/platform/registry.h"
#include "zrn/platform/threads.h"
#include "zrn/win32/last_error.h"

namespace zrn::win32 {

class Win32Clock final : public platform::Clock {
public:
    void sleep_ms(std::uint32_t ms) override;
    platform::LocalTime local_time() override;
    std::uint64_t monotonic_ms() override;
};

class Win32Threads final : public platform::Threads, public KeepsLastError {
public:
    enum class Hold {
        Nothing,
        // Each thread holds the module this code is linked into loaded until
        // it has returned, so its caller's FreeLibrary never unmaps code
        // under it (for the threads of a library).
        ThisModule,
    };
    explicit Win32Threads(Hold hold = Hold::Nothing) : hold_(hold) {}
    bool start(std::function<void()> work) override;

private:
    Hold hold_;
};

// HKEY_LOCAL_MACHINE through the ANSI registry API.
// Which registry view the keys are opened in. A 32-bit program on 64-bit
// Windows sees the 32-bit view of HKLM\SOFTWARE by default; the other view is
// reached on request.
enum class RegistryView { Own, Bits32, Bits64 };

class Win32Registry final : public platform::Registry, public KeepsLastError {
public:
    explicit Win32Registry(RegistryView view = RegistryView::Own) : view_(view) {}
    platform::RegStatus open_key(platform::RegKey parent, std::string_view subkey, bool writable,
                                 platform::RegKey* out) override;
    platform::RegStatus create_key(platform::RegKey parent, std::string_view subkey, std::string_view class_text,
                                   platform::RegKey* out, bool* created) override;
    void close_key(platform::RegKey key) override;
    platform::RegStatus enum_key(platform::RegKey key, std::uint32_t index, std::string* name) override;
    platform::RegStatus enum_value(platform::RegKey key, std::uint32_t index, std::string* name,
                                   platform::RegData* data) override;
    platform::RegStatus query_value(platform::RegKey key, std::string_view name, std::size_t capacity,
                                    platform::RegData* data) override;
    platform::RegStatus set_value(platform::RegKey key, std::string_view name, const platform::RegData& data) override;
    platform::RegStatus delete_value(platform::RegKey key, std::string_view name) override;
    platform::RegStatus delete_key(platform::RegKey parent, std::string_view subkey) override;
    std::string error_text(platform::RegStatus status) const override;

private:
    unsigned long view_flag() const;
    // Keeps a failing status (the end of an enumeration is none) and returns it.
    platform::RegStatus noted(platform::RegStatus st, const char* call, std::string_view subject);
    RegistryView view_;
};

class Win32Files final : public platform::Files, public KeepsLastError {
public:
    Handle open_existing_for_write(const std::string& path, bool* held) override;
    Handle create_new_for_write(const std::string& path) override;
    Handle open_existing_read_write(const std::string& path, platform::FileStatus* status) override;
    Handle create_always_read_write(const std::string& path, platform::FileStatus* status) override;
    bool create_directory(const std::string& path) override;
    void seek_end(Handle h) override;
    bool read(Handle h, void* data, std::size_t max, std::size_t* got) override;
    platform::FileStatus write(Handle h, const void* data, std::size_t size) override;
    platform::FileStatus flush(Handle h) override;
    void close(Handle h) override;
    platform::FileStatus replace(const std::string& from, const std::string& to) override;
    platform::FileStatus remove(const std::string& path) override;
    std::string error_text(platform::FileStatus status) const override;
    bool list_files(const std::string& folder, std::vector<std::string>* names) override;
    bool is_reparse_point(const std::string& path) override;

private:
    // Keeps GetLastError()'s code when a call failed; returns ok.
    bool noted(bool ok, const char* call, std::string_view subject = {});
    // A call's own status: kFileOk, or GetLastError()'s code, kept.
    platform::FileStatus status_of(bool ok, const char* call, std::string_view subject = {});
    Handle create_file(const std::string& path, unsigned long disposition, platform::FileStatus* status);
};

// Whether Windows itself is 64-bit (a 32-bit program may run on it under
// WOW64): then the registry has two views.
bool windows_is_64bit();

}  // namespace zrn::win32
