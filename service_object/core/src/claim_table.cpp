#include "zrn/so/claim_table.h"

#include <cstring>

namespace zrn::so {

namespace {

class Held {
public:
    explicit Held(ClaimLock& lock) : lock_(lock), outcome_(lock.lock()) {}
    ClaimLock::Outcome outcome() const { return outcome_; }
    bool held() const { return outcome_ == ClaimLock::Outcome::Locked; }
    ~Held() {
        if (held()) lock_.unlock();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

private:
    ClaimLock& lock_;
    ClaimLock::Outcome outcome_;
};

template <typename T>
T read_le(const std::uint8_t* p) {
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) v |= static_cast<T>(p[i]) << (8 * i);
    return v;
}

template <typename T>
void write_le(std::uint8_t* p, T v) {
    for (std::size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

bool ClaimTable::equals(std::size_t i, std::string_view name) const {
    const char* e = reinterpret_cast<const char*>(block_ + i * kClaimEntrySize);
    if (e[0] == '\0') return false;
    std::size_t n = 0;
    while (n < kClaimEntrySize && e[n] != '\0') ++n;
    return std::string_view(e, n) == name;
}

ClaimHolder ClaimTable::holder(std::size_t i) const {
    const std::uint8_t* e = block_ + i * kClaimEntrySize;
    return ClaimHolder{read_le<std::uint32_t>(e + kClaimHolderPidOffset),
                       read_le<std::uint64_t>(e + kClaimHolderStartOffset)};
}

void ClaimTable::clear_departed() {
    if (!processes_) return;
    for (std::size_t i = 0; i < kClaimEntries; ++i) {
        std::uint8_t* e = block_ + i * kClaimEntrySize;
        if (e[0] == 0) continue;
        const ClaimHolder h = holder(i);
        if (h.pid == 0) continue;  // written by a module that records no holder
        std::uint64_t started = 0;
        const ProcessWatch::Presence p = processes_->presence(h.pid, &started);
        // A process id the system gave to a later process is not the holder.
        const bool departed = p == ProcessWatch::Presence::Gone ||
                              (p == ProcessWatch::Presence::Running && h.started != 0 && started != h.started);
        if (departed) std::memset(e, 0, kClaimEntrySize);
    }
}

ClaimAdd ClaimTable::Add(std::string_view name) {
    Held guard(lock_);
    // Without the lock another process may be writing the same free entry.
    if (guard.outcome() == ClaimLock::Outcome::Busy) return ClaimAdd::LockBusy;
    if (!guard.held()) return ClaimAdd::NotRecorded;
    clear_departed();
    for (std::size_t i = 0; i < kClaimEntries; ++i)
        if (equals(i, name)) return ClaimAdd::Present;
    // A name cut to fit, or cut at a zero inside it, would be another
    // device's claim, and one that no Remove of the full name could end.
    if (name.empty() || name.size() > kClaimNameMax || name.find('\0') != std::string_view::npos)
        return ClaimAdd::NotRecorded;
    for (std::size_t i = 0; i < kClaimEntries; ++i) {
        std::uint8_t* e = block_ + i * kClaimEntrySize;
        if (e[0] == 0) {
            std::memset(e, 0, kClaimEntrySize);
            std::memcpy(e, name.data(), name.size());
            if (processes_) {
                const ClaimHolder me = processes_->self();
                write_le(e + kClaimHolderPidOffset, me.pid);
                write_le(e + kClaimHolderStartOffset, me.started);
            }
            return ClaimAdd::Added;
        }
    }
    return ClaimAdd::Full;
}

void ClaimTable::Remove(std::string_view name) {
    // Without the lock the caller's own entries are emptied all the same:
    // a release must not be lost to a hung holder of the lock.
    Held guard(lock_);
    const ClaimHolder me = processes_ ? processes_->self() : ClaimHolder{};
    for (std::size_t i = 0; i < kClaimEntries; ++i) {
        if (!equals(i, name)) continue;
        // Another process's claim of the name is its own to end.
        const ClaimHolder h = holder(i);
        if (processes_ && h.pid != 0 && !(h == me)) continue;
        std::memset(block_ + i * kClaimEntrySize, 0, kClaimEntrySize);
    }
}

bool ClaimTable::Contains(std::string_view name) {
    Held guard(lock_);
    if (!guard.held()) return true;
    clear_departed();
    for (std::size_t i = 0; i < kClaimEntries; ++i)
        if (equals(i, name)) return true;
    return false;
}

ClaimSpace choose_claim_space(ClaimSpaces& spaces) {
    for (ClaimSpace s : {ClaimSpace::Global, ClaimSpace::Session})
        if (spaces.join(s)) return s;
    for (ClaimSpace s : {ClaimSpace::Global, ClaimSpace::Session})
        if (spaces.create(s)) return s;
    return ClaimSpace::None;
}

}  // namespace zrn::so
