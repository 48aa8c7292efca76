#pragma once

#include <cstdint>

namespace zrn::platform {

// Local calendar time, with the fields the trace log and the file formats use.
struct LocalTime {
    int year;    // full year, e.g. 2026
    int month;   // 1..12
    int day;     // day of month, 1..31
    int yday;    // day of the year, 0..365
    int hour;    // 0..23
    int minute;  // 0..59
    int second;  // 0..59
};

// Every wait in the system goes through this port, so tests can run timing
// sequences instantly and assert them.
class Clock {
public:
    virtual ~Clock() = default;
    virtual void sleep_ms(std::uint32_t ms) = 0;
    virtual LocalTime local_time() = 0;
    // Milliseconds from an arbitrary origin, never going back.
    virtual std::uint64_t monotonic_ms() = 0;
};

// Day of the year (0-based) of a calendar date.
int day_of_year(int year, int month, int day);

}  // namespace zrn::platform
