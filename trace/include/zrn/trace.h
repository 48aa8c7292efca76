#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <optional>
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
constexpr int kTraceOpenWaitMs = 500;
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

// Whether a file name (without its folder) is a daily trace file's, any
// letter case: "OPOSTrace", five digits of a date key, ".log". *days_old is
// how many days before today it was started; false for any other name, and
// for a key that is no day of its year or lies after today.
bool trace_file_age(std::string_view name, const platform::LocalTime& today, int* days_old);

// The trace switch and the retention as a technician reads them, for the
// doctor and the utility's information page: "every line (TraceEnabled 1)",
// "files older than 30 days are deleted (TraceKeepDays 30)"; no value: not
// set in the registry.
std::string trace_level_text(std::optional<std::int32_t> trace_enabled);
std::string trace_keep_text(std::optional<std::int32_t> keep_days);

// Who may do what in the trace folder, as a security descriptor (SDDL) the
// installer gives it: administrators and the system everything; every
// signed-in user (a POS application's account) may list the folder, add
// files to it and read, write and delete the files in it, but may neither
// delete, rename nor re-permission the folder itself, nor make folders in
// it, so no one but an administrator can swap it for a link. Its own rights
// only (protected): none come from the drive's root.
inline constexpr std::string_view kTraceFolderSecurity =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;AU)(A;OIIO;0x13019f;;;AU)";

// The daily trace file of one module. Every entry opens the file exclusively,
// appends and closes it; a file held by another writer is waited for (within
// a bound), and a line that still cannot be written (file held all along,
// directory missing and not creatable) is dropped silently. A folder or file
// that is a link (junction, symbolic link) is never written through: lines
// are dropped until it is a plain folder again. With a retention of N days,
// the writer that starts a day's file deletes the daily files started more
// than N days before.
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

    // TraceKeepDays: the days of trace files kept besides today's; 0 or
    // less keeps every file.
    void set_keep_days(int days) { keep_days_.store(days); }

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
    // Deletes the daily files older than the retention allows.
    void remove_old_files(const platform::LocalTime& today);

    platform::Files& files_;
    platform::Clock& clock_;
    std::string directory_;
    std::mutex mu_;
    char pending_[kPendingSize] = {};
    platform::Files::Handle handle_ = platform::Files::kInvalid;
    bool held_too_long_ = false;
    std::atomic<int> keep_days_{0};
};

}  // namespace zrn
