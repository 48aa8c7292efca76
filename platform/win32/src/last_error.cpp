#include "zrn/win32/last_error.h"

#include <windows.h>

namespace zrn::win32 {

std::string operation_text(const char* call, std::string_view subject) {
    std::string out(call);
    if (!subject.empty()) out.append(" \"").append(subject).append("\"");
    return out;
}

LastError last_error_of(const char* call, std::string_view subject) {
    const DWORD code = ::GetLastError();
    return LastError{operation_text(call, subject), code};
}

void LastErrorSlot::record_last(const char* call, std::string_view subject) {
    LastError e = last_error_of(call, subject);
    record(std::move(e.operation), e.code);
}

std::string system_text(std::uint32_t code) {
    char text[512];
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                               sizeof text, nullptr);
    // The system's text ends in a line break (and often a full stop).
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
    return std::string(text, n);
}

std::string error_text(std::uint32_t code) {
    const std::string text = system_text(code);
    const std::string number = "Windows error " + std::to_string(code);
    return text.empty() ? number : text + " (" + number + ")";
}

std::string describe(const LastError& e) {
    if (!e) return {};
    std::string out = e.operation + " failed: Win32 error " + std::to_string(e.code);
    const std::string text = system_text(e.code);
    if (!text.empty()) out += " (" + text + ")";
    return out;
}

}  // namespace zrn::win32
