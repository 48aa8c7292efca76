#include "zrn/so/claim_table.h"

#include <cstring>

namespace zrn::so {

namespace {

class Held {
public:
    explicit Held(ClaimLock& lock) : lock_(lock), held_(lock.lock()) {}
    bool held() const { return held_; }
    ~Held() {
        if (held_) lock_.unlock();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

private:
    ClaimLock& lock_;
    bool held_;
};

}  // namespace

bool ClaimTable::equals(std::size_t i, std::string_view name) const {
    const char* e = reinterpret_cast<const char*>(block_ + i * kClaimEntrySize);
    if (e[0] == '\0') return false;
    std::size_t n = 0;
    while (n < kClaimEntrySize && e[n] != '\0') ++n;
    return std::string_view(e, n) == name;
}

int ClaimTable::Add(std::string_view name) {
    Held guard(lock_);
    // Without the lock another process may be writing the same free entry.
    if (!guard.held()) return 0;
    for (std::size_t i = 0; i < kClaimEntries; ++i)
        if (equals(i, name)) return -1;
    // A zero inside the name would store a shorter name that no Remove of
    // the full name matches: a claim that outlives its holder.
    if (name.empty() || name.size() >= kClaimEntrySize || name.find('\0') != std::string_view::npos) return 0;
    for (std::size_t i = 0; i < kClaimEntries; ++i) {
        std::uint8_t* e = block_ + i * kClaimEntrySize;
        if (e[0] == 0) {
            std::memset(e, 0, kClaimEntrySize);
            std::memcpy(e, name.data(), name.size());
            return 1;
        }
    }
    return 0;
}

void ClaimTable::Remove(std::string_view name) {
    Held guard(lock_);
    for (std::size_t i = 0; i < kClaimEntries; ++i)
        if (equals(i, name)) std::memset(block_ + i * kClaimEntrySize, 0, kClaimEntrySize);
}

bool ClaimTable::Contains(std::string_view name) {
    Held guard(lock_);
    // A claim whose check cannot be made one step with its add is refused
    // as claimed: two holders of one drawer are worse than a refusal.
    if (!guard.held()) return true;
    for (std::size_t i = 0; i < kClaimEntries; ++i)
        if (equals(i, name)) return true;
    return false;
}

}  // namespace zrn::so
