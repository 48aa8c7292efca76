#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include "zrn/platform/files.h"
#include "zrn/platform/registry.h"
#include "zrn/platform/std_platform.h"

namespace zrn::platform {

int day_of_year(int year, int month, int day) {
    static constexpr int kBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12) return 0;
    return kBefore[month - 1] + (leap && month > 2 ? 1 : 0) + day - 1;
}

void StdClock::sleep_ms(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

LocalTime StdClock::local_time() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
#if defined(_WIN32)
    localtime_s(&tm, &now);
#else
    localtime_r(&now, &tm);
#endif
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_yday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::uint64_t StdClock::monotonic_ms() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

bool StdThreads::start(std::function<void()> work) {
    try {
        std::thread(std::move(work)).detach();
        return true;
    } catch (...) {
        return false;
    }
}

RegStatus set_sz(Registry& reg, RegKey key, std::string_view name, std::string_view text) {
    RegData d;
    d.type = kRegTypeSz;
    d.bytes.assign(text.begin(), text.end());
    d.bytes.push_back(0);  // the terminating zero is part of the stored size
    return reg.set_value(key, name, d);
}

RegStatus set_dword(Registry& reg, RegKey key, std::string_view name, std::uint32_t value) {
    RegData d;
    d.type = kRegTypeDword;
    d.bytes = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
               static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    return reg.set_value(key, name, d);
}

RegStatus query_text(Registry& reg, RegKey key, std::string_view name, std::size_t capacity, std::string* text) {
    RegData d;
    const RegStatus st = reg.query_value(key, name, capacity, &d);
    if (st == kRegOk) *text = value_as_text(d.type, d.bytes);
    return st;
}

std::string error_code_text(std::uint32_t code) { return "Windows error " + std::to_string(code); }

std::string Registry::error_text(RegStatus status) const { return error_code_text(static_cast<std::uint32_t>(status)); }

std::string Files::error_text(FileStatus status) const { return error_code_text(status); }

FileStatus replace_file_content(Files& files, const std::string& path, std::string_view content) {
    // One temporary name per file: writers of the file take turns (the
    // configuration lock), and a temporary file a crash left behind is
    // simply replaced.
    const std::string temp = path + ".new";
    FileStatus st = kFileOk;
    const Files::Handle h = files.create_always_read_write(temp, &st);
    if (h == Files::kInvalid) return st == kFileOk ? kFileAccessDenied : st;
    st = files.write(h, content.data(), content.size());
    if (st == kFileOk) st = files.flush(h);
    files.close(h);
    if (st == kFileOk) st = files.replace(temp, path);
    if (st != kFileOk) files.remove(temp);
    return st;
}

FileStatus read_file_content(Files& files, const std::string& path, std::size_t max, std::string* content,
                             bool* longer) {
    FileStatus st = kFileOk;
    const Files::Handle h = files.open_existing_read_write(path, &st);
    if (h == Files::kInvalid) return st == kFileOk ? kFileAccessDenied : st;
    content->clear();
    // One byte beyond max tells a file that is longer from one that fits.
    std::string buffer(max + 1, '\0');
    std::size_t total = 0;
    bool ok = true;
    while (total < buffer.size()) {
        std::size_t got = 0;
        if (!files.read(h, buffer.data() + total, buffer.size() - total, &got)) {
            ok = false;
            break;
        }
        if (got == 0) break;
        total += got;
    }
    files.close(h);
    if (!ok) return kFileAccessDenied;
    if (longer) *longer = total > max;
    buffer.resize(std::min(total, max));
    *content = std::move(buffer);
    return kFileOk;
}

}  // namespace zrn::platform
