#include "zrn/fakes/fake_clock.h"

#include <algorithm>
#include <chrono>

namespace zrn::fakes {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t days_from_civil(std::int64_t y, int m, int d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(std::int64_t z, int* year, int* month, int* day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *year = static_cast<int>(yoe + era * 400 + (*month <= 2));
}

}  // namespace

FakeClock::FakeClock() { set_local_time({2026, 3, 15, 0, 14, 2, 7}); }

void FakeClock::sleep_ms(std::uint32_t ms) {
    std::unique_lock lock(mu_);
    sleeps_.push_back(ms);
    if (!stepped_) {
        now_ += ms;
        return;
    }
    const std::uint64_t wake = now_ + ms;
    const std::uint64_t id = next_id_++;
    if (ms == 0) return;
    wakeups_[id] = wake;
    cv_.notify_all();
    cv_.wait(lock, [&] { return now_ >= wake || !stepped_; });
    wakeups_.erase(id);
    cv_.notify_all();
}

platform::LocalTime FakeClock::local_time() {
    std::lock_guard lock(mu_);
    const std::int64_t secs = base_seconds_ + static_cast<std::int64_t>(now_ / 1000);
    std::int64_t days = secs / 86400;
    std::int64_t rem = secs % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    platform::LocalTime t{};
    civil_from_days(days, &t.year, &t.month, &t.day);
    t.yday = platform::day_of_year(t.year, t.month, t.day);
    t.hour = static_cast<int>(rem / 3600);
    t.minute = static_cast<int>(rem / 60 % 60);
    t.second = static_cast<int>(rem % 60);
    return t;
}

std::uint64_t FakeClock::monotonic_ms() { return now(); }

void FakeClock::set_local_time(const platform::LocalTime& t) {
    std::lock_guard lock(mu_);
    const std::int64_t secs = days_from_civil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
    base_seconds_ = secs - static_cast<std::int64_t>(now_ / 1000);
}

void FakeClock::retire_due() {
    for (auto it = wakeups_.begin(); it != wakeups_.end();) it = it->second <= now_ ? wakeups_.erase(it) : std::next(it);
}

void FakeClock::set_stepped(bool stepped) {
    std::lock_guard lock(mu_);
    stepped_ = stepped;
    if (!stepped) wakeups_.clear();
    cv_.notify_all();
}

void FakeClock::advance(std::uint64_t ms) {
    std::lock_guard lock(mu_);
    now_ += ms;
    retire_due();
    cv_.notify_all();
}

bool FakeClock::wait_for_sleepers(int n, int timeout_ms) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                        [&] { return static_cast<int>(wakeups_.size()) >= n; });
}

bool FakeClock::advance_to_next_wakeup() {
    std::lock_guard lock(mu_);
    if (wakeups_.empty()) return false;
    std::uint64_t earliest = wakeups_.begin()->second;
    for (const auto& [id, wake] : wakeups_) earliest = std::min(earliest, wake);
    now_ = std::max(now_, earliest);
    retire_due();
    cv_.notify_all();
    return true;
}

std::uint64_t FakeClock::now() const {
    std::lock_guard lock(mu_);
    return now_;
}

std::vector<std::uint32_t> FakeClock::sleeps() const {
    std::lock_guard lock(mu_);
    return sleeps_;
}

void FakeClock::clear_sleeps() {
    std::lock_guard lock(mu_);
    sleeps_.clear();
}

int FakeClock::sleepers() const {
    std::lock_guard lock(mu_);
    return static_cast<int>(wakeups_.size());
}

}  // namespace zrn::fakes
