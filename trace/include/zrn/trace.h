#pragma once

#include <cstdarg>
#include <mutex>
#include <string>
#include <string_view>

#include "zrn/platform/clock.h"
#include "zrn/platform/files.h"

namespace zrn {

inline constexpr std::string_view kTraceDirectory = "C:\\ZRN";
inline constexpr std::string_view kTraceBanner = "ZRN OPOSTrace: v3.3.8.1";

// An open of the day's file that finds it held by another writer is tried
// again every few milliseconds, for this long at most, before the line is
// dropped. A file held past that (a viewer keeping it open) costs no further
// waits until the file can be opened again.
constexpr int kTraceOpenWaitMs = 100;
constexpr int kTraceOpenRetryMs = 2;

// Kinds of trace entry.
constexpr int kTraceMessage = 0;
constexpr int kTraceSeparator = 1;
constexpr int kTraceSectionBreak = 2;

// The trace switch as a level: 1 writes every line, above 1 only the
// initialization, termination, error and failure lines.
struct TraceSwitch {
    int value = 0;
    bool every_line() const { return value == 1; }
    bool error_lines() const { return value > 0; }
};

// The day's file key: two digits of the year and the 0-based day of the year
// ("%c%c%03d"). For 2000 to 2899 those are the year's last two digits; the
// same rule is kept for every other year.
std::string trace_date_key(const platform::LocalTime& t);
std::string trace_file_name(const platform::LocalTime& t, std::string_view directory = kTraceDirectory);

// The daily trace file of one module. Every entry opens the file exclusively,
// appends and closes it; a file held by another writer is waited for (within
// a bound), and a line that still cannot be written (file held all along,
// directory missing and not creatable) is dropped silently.
// The pending message, the buffers and the handle belong to the module, so a
// whole line is written under the module's lock.
class TraceLog {
public:
    TraceLog(platform::Files& files, platform::Clock& clock, std::string directory = std::string(kTraceDirectory));

    // Thread-safe entries: each writes one whole entry under the lock.
    void message(std::string_view text);
    void messagef(const char* format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;
    void vmessagef(const char* format, va_list args);
    void separator();
    void section_break();

    // The raw steps; the caller holds lock() around filling the pending
    // message and calling TraceWrite.
    int TraceOpen();
    int TraceWrite(int kind);
    int TraceClose();
    void set_pending(std::string_view text);
    std::mutex& lock() { return mu_; }

    static constexpr std::size_t kPendingSize = 512;

private:
    void write_text(std::string_view text);
    int opened();
    // Sleeps a moment before the next try; false once the wait is over.
    bool wait_for_holder(std::uint64_t deadline);

    platform::Files& files_;
    platform::Clock& clock_;
    std::string directory_;
    std::mutex mu_;
    char pending_[kPendingSize] = {};
    platform::Files::Handle handle_ = platform::Files::kInvalid;
    bool held_too_long_ = false;
};

}  // namespace zrn
