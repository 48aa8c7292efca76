#include "zrn/trace.h"

#include <cstdio>
#include <vector>

#include "zrn/text.h"

namespace zrn {

std::string trace_date_key(const platform::LocalTime& t) {
    char buf[16];
    const int yy = ((t.year % 100) + 100) % 100;
    std::snprintf(buf, sizeof buf, "%c%c%03d", '0' + yy / 10, '0' + yy % 10, t.yday);
    return buf;
}

std::string trace_file_name(const platform::LocalTime& t, std::string_view directory) {
    std::string name(directory);
    name += "\\OPOSTrace";
    name += trace_date_key(t);
    name += ".log";
    return name;
}

namespace {

// Days since 1 January 1970 of a date in the proleptic Gregorian calendar.
long days_since_epoch(int year, int yday) {
    const long y = year - 1;
    return 365L * (year - 1970) + (y / 4 - y / 100 + y / 400) - (1969 / 4 - 1969 / 100 + 1969 / 400) + yday;
}

bool leap_year(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

}  // namespace

bool trace_file_age(std::string_view name, const platform::LocalTime& today, int* days_old) {
    constexpr std::string_view prefix = "OPOSTRACE", suffix = ".LOG";
    if (name.size() != prefix.size() + 5 + suffix.size()) return false;
    const std::string upper = ascii_upper(name);
    if (!upper.starts_with(prefix) || !upper.ends_with(suffix)) return false;
    int digits[5];
    for (int i = 0; i < 5; ++i) {
        const char c = upper[prefix.size() + i];
        if (c < '0' || c > '9') return false;
        digits[i] = c - '0';
    }
    const int yy = digits[0] * 10 + digits[1];
    const int yday = digits[2] * 100 + digits[3] * 10 + digits[4];
    // The latest year up to this one whose key has these two digits.
    const int year = today.year - (((today.year % 100 + 100) % 100 - yy + 100) % 100);
    if (yday >= (leap_year(year) ? 366 : 365)) return false;
    const long age = days_since_epoch(today.year, today.yday) - days_since_epoch(year, yday);
    if (age < 0) return false;
    *days_old = static_cast<int>(age);
    return true;
}

std::string trace_level_text(std::optional<std::int32_t> trace_enabled) {
    const std::string value = trace_enabled ? std::to_string(*trace_enabled) : "not set";
    const TraceSwitch level{trace_enabled.value_or(0)};
    const char* what = level.every_line() ? "every line" : level.error_lines() ? "errors only" : "off";
    return std::string(what) + " (TraceEnabled " + value + ")";
}

std::string trace_keep_text(std::optional<std::int32_t> keep_days) {
    if (!keep_days || *keep_days <= 0)
        return "every daily file is kept (TraceKeepDays " + (keep_days ? std::to_string(*keep_days) : "not set") + ")";
    return "files older than " + std::to_string(*keep_days) + (*keep_days == 1 ? " day" : " days") +
           " are deleted (TraceKeepDays " + std::to_string(*keep_days) + ")";
}

TraceLog::TraceLog(platform::Files& files, platform::Clock& clock, std::string directory)
    : files_(files), clock_(clock), directory_(std::move(directory)) {}

void TraceLog::set_pending(std::string_view text) { bounded_copy(pending_, sizeof pending_, text); }

void TraceLog::write_text(std::string_view text) { files_.write(handle_, text.data(), text.size()); }

int TraceLog::TraceOpen() {
    // A link in the folder's place (a junction another user made) would
    // send this writer's lines, perhaps an elevated one's, anywhere.
    if (files_.is_reparse_point(directory_)) return 0;
    const platform::LocalTime now = clock_.local_time();
    const std::string path = trace_file_name(now, directory_);
    // Another writer (the other module of this process, another process,
    // the other build) holds the file for one line at most: wait for it,
    // within a bound, rather than lose the line.
    const std::uint64_t deadline = clock_.monotonic_ms() + kTraceOpenWaitMs;
    for (;;) {
        bool held = false;
        handle_ = files_.open_existing_for_write(path, &held);
        if (handle_ != platform::Files::kInvalid) return opened();
        if (held) {
            if (!wait_for_holder(deadline)) return 0;
            continue;
        }
        handle_ = files_.create_new_for_write(path);
        if (handle_ == platform::Files::kInvalid) {
            // The directory may be missing, or another writer may have made
            // it a moment ago without having created the file yet: either
            // way the file can be created now.
            files_.create_directory(directory_);
            handle_ = files_.create_new_for_write(path);
        }
        if (handle_ != platform::Files::kInvalid) {
            std::string banner(kTraceBanner);
            banner += "\r\n";
            write_text(banner);
            // This writer started the day: the only one to clear out.
            remove_old_files(now);
            return opened();
        }
        // Neither opened nor created: another writer may have created the
        // file between the two steps, and may hold it now.
        handle_ = files_.open_existing_for_write(path, &held);
        if (handle_ != platform::Files::kInvalid) return opened();
        if (!held || !wait_for_holder(deadline)) return 0;
    }
}

void TraceLog::remove_old_files(const platform::LocalTime& today) {
    const int keep = keep_days_.load();
    if (keep <= 0) return;
    std::vector<std::string> names;
    if (!files_.list_files(directory_, &names)) return;
    for (const std::string& name : names) {
        int age = 0;
        if (trace_file_age(name, today, &age) && age > keep) files_.remove(directory_ + "\\" + name);
    }
}

int TraceLog::opened() {
    held_too_long_ = false;
    return 1;
}

bool TraceLog::wait_for_holder(std::uint64_t deadline) {
    if (held_too_long_ || clock_.monotonic_ms() >= deadline) {
        held_too_long_ = true;
        return false;
    }
    clock_.sleep_ms(kTraceOpenRetryMs);
    return true;
}

int TraceLog::TraceWrite(int kind) {
    TraceOpen();
    if (handle_ == platform::Files::kInvalid) return 0;
    files_.seek_end(handle_);
    const platform::LocalTime t = clock_.local_time();
    switch (kind) {
        case kTraceMessage: {
            char stamp[32];
            std::snprintf(stamp, sizeof stamp, "[%02d/%02d-%02d:%02d:%02d] ", t.month, t.day, t.hour, t.minute,
                          t.second);
            std::string line(stamp);
            line += field_text(pending_);
            line += "\r\n";
            write_text(line);
            break;
        }
        case kTraceSeparator:
            write_text("- - - - - -\r\n");
            break;
        case kTraceSectionBreak:
            write_text("\r\n");
            write_text(std::string(49, '_') + "\r\n");
            write_text("\r\n");
            break;
        default:
            break;
    }
    TraceClose();
    return 1;
}

int TraceLog::TraceClose() {
    if (handle_ == platform::Files::kInvalid) return 0;
    files_.close(handle_);
    handle_ = platform::Files::kInvalid;
    return 1;
}

void TraceLog::message(std::string_view text) {
    std::lock_guard lock(mu_);
    set_pending(text);
    TraceWrite(kTraceMessage);
}

void TraceLog::messagef(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vmessagef(format, args);
    va_end(args);
}

void TraceLog::vmessagef(const char* format, va_list args) {
    std::lock_guard lock(mu_);
    std::vsnprintf(pending_, sizeof pending_, format, args);
    TraceWrite(kTraceMessage);
}

void TraceLog::separator() {
    std::lock_guard lock(mu_);
    set_pending("");
    TraceWrite(kTraceSeparator);
}

void TraceLog::section_break() {
    std::lock_guard lock(mu_);
    set_pending("");
    TraceWrite(kTraceSectionBreak);
}

}  // namespace zrn
