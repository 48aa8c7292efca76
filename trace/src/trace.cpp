#include "zrn/trace.h"

#include <cstdio>

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

TraceLog::TraceLog(platform::Files& files, platform::Clock& clock, std::string directory)
    : files_(files), clock_(clock), directory_(std::move(directory)) {}

void TraceLog::set_pending(std::string_view text) { bounded_copy(pending_, sizeof pending_, text); }

void TraceLog::write_text(std::string_view text) { files_.write(handle_, text.data(), text.size()); }

int TraceLog::TraceOpen() {
    const std::string path = trace_file_name(clock_.local_time(), directory_);
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
            return opened();
        }
        // Neither opened nor created: another writer may have created the
        // file between the two steps, and may hold it now.
        handle_ = files_.open_existing_for_write(path, &held);
        if (handle_ != platform::Files::kInvalid) return opened();
        if (!held || !wait_for_holder(deadline)) return 0;
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
