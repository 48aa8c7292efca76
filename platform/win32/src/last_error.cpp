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

std::string describe(const LastError& e) {
    if (!e) return {};
    std::string out = e.operation + " failed: Win32 error " + std::to_string(e.code);
    char text[512];
    DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, e.code, 0, text,
                               sizeof text, nullptr);
    // The system's text ends in a line break (and often a full stop).
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
    if (n > 0) out += " (" + std::string(text, n) + ")";
    return out;
}

}  // namespace zrn::win32
