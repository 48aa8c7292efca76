#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "zrn/text.h"

namespace zrn::platform {

// Status codes are the Windows error codes the registry API returns.
using RegStatus = long;
constexpr RegStatus kRegOk = 0;
constexpr RegStatus kRegNotFound = 2;
constexpr RegStatus kRegAccessDenied = 5;
constexpr RegStatus kRegInvalidHandle = 6;
constexpr RegStatus kRegInvalidParameter = 87;
constexpr RegStatus kRegMoreData = 234;
constexpr RegStatus kRegNoMoreItems = 259;
constexpr RegStatus kRegKeyDeleted = 1018;

using RegKey = std::uintptr_t;
// The predefined HKEY_LOCAL_MACHINE handle; the only root this system uses.
constexpr RegKey kHklm = 0x80000002u;

struct RegData {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;
};

// HKLM registry access. Implementations keep Windows semantics: names are
// looked up without regard to case, sub-keys enumerate in name order,
// values in creation order, a key with sub-keys cannot be deleted.
class Registry {
public:
    virtual ~Registry() = default;
    virtual RegStatus open_key(RegKey parent, std::string_view subkey, bool writable, RegKey* out) = 0;
    // Opens the key, creating it and any missing parents. created tells
    // whether the last component was new (may be null).
    virtual RegStatus create_key(RegKey parent, std::string_view subkey, std::string_view class_text, RegKey* out,
                                 bool* created) = 0;
    virtual void close_key(RegKey key) = 0;
    virtual RegStatus enum_key(RegKey key, std::uint32_t index, std::string* name) = 0;
    // data may be null when only the name is wanted.
    virtual RegStatus enum_value(RegKey key, std::uint32_t index, std::string* name, RegData* data) = 0;
    // Fails with kRegMoreData when the stored data exceeds capacity bytes.
    virtual RegStatus query_value(RegKey key, std::string_view name, std::size_t capacity, RegData* data) = 0;
    virtual RegStatus set_value(RegKey key, std::string_view name, const RegData& data) = 0;
    virtual RegStatus delete_value(RegKey key, std::string_view name) = 0;
    virtual RegStatus delete_key(RegKey parent, std::string_view subkey) = 0;
    // The system's words for a status, as a message box shows them.
    virtual std::string error_text(RegStatus status) const;
};

// "Windows error 5": the words for a code when the system's are not at hand.
std::string error_code_text(std::uint32_t code);

// Helpers over the port.
RegStatus set_sz(Registry& reg, RegKey key, std::string_view name, std::string_view text);
RegStatus set_dword(Registry& reg, RegKey key, std::string_view name, std::uint32_t value);
// Reads a value "as text" into text; on failure text is left unchanged.
RegStatus query_text(Registry& reg, RegKey key, std::string_view name, std::size_t capacity, std::string* text);

// Closes a key when it goes out of scope.
class ScopedKey {
public:
    explicit ScopedKey(Registry& reg) : reg_(reg) {}
    ~ScopedKey() { reset(); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    RegKey* out() { reset(); return &key_; }
    RegKey get() const { return key_; }
    explicit operator bool() const { return key_ != 0; }
    void reset() {
        if (key_ != 0) reg_.close_key(key_);
        key_ = 0;
    }

private:
    Registry& reg_;
    RegKey key_ = 0;
};

}  // namespace zrn::platform
