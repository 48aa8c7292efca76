#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

namespace zrn::so {

constexpr std::size_t kClaimEntries = 10;
constexpr std::size_t kClaimEntrySize = 32;
constexpr std::size_t kClaimTableSize = kClaimEntries * kClaimEntrySize;  // 320

// Serialises the table's operations; the shell backs it with a named mutex so
// that a check and an add are one step across processes.
class ClaimLock {
public:
    virtual ~ClaimLock() = default;
    // False when the lock could not be had within its bound (a holder that
    // hangs must not stall every other till application); unlock() is then
    // not called. Without the lock, Contains answers "claimed", Add records
    // nothing and Remove empties the caller's own entries all the same.
    virtual bool lock() = 0;
    virtual void unlock() = 0;
};

class InProcessClaimLock final : public ClaimLock {
public:
    bool lock() override {
        mu_.lock();
        return true;
    }
    void unlock() override { mu_.unlock(); }

private:
    std::mutex mu_;
};

// The claimed device names in a 320-byte block of memory shared by every
// process (ten 32-byte zero-terminated entries; first byte 0 is free).
class ClaimTable {
public:
    ClaimTable(std::uint8_t* block, ClaimLock& lock) : block_(block), lock_(lock) {}

    // -1 when the name is present already, 0 when the table is full, 1 added.
    // Names that do not fit an entry are never stored (a truncated name
    // would claim another device), nor are names with a zero inside: 0.
    int Add(std::string_view name);
    void Remove(std::string_view name);
    bool Contains(std::string_view name);

private:
    bool equals(std::size_t i, std::string_view name) const;
    std::uint8_t* block_;
    ClaimLock& lock_;
};

}  // namespace zrn::so
