#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

namespace zrn::so {

constexpr std::size_t kClaimEntries = 10;
constexpr std::size_t kClaimEntrySize = 32;
constexpr std::size_t kClaimTableSize = kClaimEntries * kClaimEntrySize;  // 320

// One entry: the device key name, zero-terminated, in its first 16 bytes
// (so an older module, which reads the name up to its zero, still finds
// it), then who holds the claim: the process id at offset 16 and the
// process's start time at offset 24, both little-endian; 0 means not known.
constexpr std::size_t kClaimNameField = 16;
constexpr std::size_t kClaimNameMax = kClaimNameField - 1;
constexpr std::size_t kClaimHolderPidOffset = 16;
constexpr std::size_t kClaimHolderStartOffset = 24;

// Who holds a claim: a process id alone may be reused by a later process,
// its start time tells them apart.
struct ClaimHolder {
    std::uint32_t pid = 0;
    std::uint64_t started = 0;
    bool operator==(const ClaimHolder&) const = default;
};

// What the table needs to know about processes (the shell asks the system).
class ProcessWatch {
public:
    enum class Presence { Running, Gone, Unknown };
    virtual ~ProcessWatch() = default;
    virtual ClaimHolder self() = 0;
    // Running (with *started set), Gone, or Unknown when the system does not
    // tell (a holder that cannot be asked is never taken for gone).
    virtual Presence presence(std::uint32_t pid, std::uint64_t* started) = 0;
};

// Serialises the table's operations; the shell backs it with a named mutex so
// that a check and an add are one step across processes.
class ClaimLock {
public:
    enum class Outcome {
        Locked,
        Busy,         // another holder kept it beyond the bound (a hung application)
        Unavailable,  // there is no lock to take
    };
    virtual ~ClaimLock() = default;
    // unlock() is called only after Locked.
    virtual Outcome lock() = 0;
    virtual void unlock() = 0;
};

class InProcessClaimLock final : public ClaimLock {
public:
    Outcome lock() override {
        mu_.lock();
        return Outcome::Locked;
    }
    void unlock() override { mu_.unlock(); }

private:
    std::mutex mu_;
};

enum class ClaimAdd {
    Added,
    Present,      // someone holds it already
    Full,         // ten drawers are claimed on this machine
    LockBusy,     // the table's lock is held elsewhere beyond its bound
    NotRecorded,  // no lock, or a name no entry can hold: nothing written
};

// The claimed device names in a 320-byte block of memory shared by every
// process (ten 32-byte entries; first byte 0 is free). Whenever a claim is
// checked, entries whose holder process no longer exists are cleared first,
// so a till application that was killed does not keep its drawer claimed.
class ClaimTable {
public:
    // Without a ProcessWatch holders are not recorded and never cleared.
    ClaimTable(std::uint8_t* block, ClaimLock& lock, ProcessWatch* processes = nullptr)
        : block_(block), lock_(lock), processes_(processes) {}

    ClaimAdd Add(std::string_view name);
    void Remove(std::string_view name);
    // Without the lock the answer is "claimed": two holders of one drawer are
    // worse than a refusal.
    bool Contains(std::string_view name);

    // The holder recorded in entry i (tests and diagnostics).
    ClaimHolder holder(std::size_t i) const;

private:
    bool equals(std::size_t i, std::string_view name) const;
    void clear_departed();
    std::uint8_t* block_;
    ClaimLock& lock_;
    ProcessWatch* processes_;
};

// Where the shared table lives. Creating a section in the global namespace
// takes a privilege a till application running as a standard user lacks, so
// the table is in the global namespace when an elevated process (or a
// service) made it first, otherwise in the session's. Whoever comes later
// must join the one that exists, whatever its own rights.
enum class ClaimSpace { Global, Session, None };

class ClaimSpaces {
public:
    virtual ~ClaimSpaces() = default;
    // Opens the table where it exists already.
    virtual bool join(ClaimSpace space) = 0;
    // Creates it (or opens it, should it have appeared meanwhile).
    virtual bool create(ClaimSpace space) = 0;
};

// Joins an existing table, in either namespace, before creating one. Callers
// hold the claim lock around it, so two processes starting at once decide
// one after the other.
ClaimSpace choose_claim_space(ClaimSpaces& spaces);

}  // namespace zrn::so
