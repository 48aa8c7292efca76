#pragma once

// Helpers shared by the end-to-end programs: functions of a built DLL, the
// reports its threads deliver, child processes (this program again, a tool
// of ours, a system program) with their output, and the checked steps of a
// program that is no GoogleTest program.
#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zrn::e2e {

// A function of a loaded library, typed.
template <typename F>
F proc(HMODULE lib, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
}

// Polls pred every step_ms until it holds or timeout_ms of real time have
// passed; whether it held.
template <typename P>
bool wait_until(P pred, ULONGLONG timeout_ms, DWORD step_ms = 10) {
    const ULONGLONG end = GetTickCount64() + timeout_ms;
    while (!pred()) {
        if (GetTickCount64() >= end) return false;
        Sleep(step_ms);
    }
    return true;
}

// Status reports received on a driver's thread.
class Reports {
public:
    Reports() { InitializeCriticalSection(&lock_); }
    void add(const char* name, int value) {
        EnterCriticalSection(&lock_);
        items_.emplace_back(name, value);
        LeaveCriticalSection(&lock_);
    }
    std::vector<std::pair<std::string, int>> items() {
        EnterCriticalSection(&lock_);
        auto copy = items_;
        LeaveCriticalSection(&lock_);
        return copy;
    }
    // Waits (bounded, in real time) until pred holds for the reports so far.
    template <typename P>
    bool wait(P pred, ULONGLONG timeout_ms = 5000) {
        return wait_until([&] { return pred(items()); }, timeout_ms);
    }

private:
    CRITICAL_SECTION lock_;
    std::vector<std::pair<std::string, int>> items_;
};

// --- child processes -------------------------------------------------------------

// This program's own path, to run it again in a child mode.
inline std::string self_path() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, n);
}

// Where a child's standard output and error go.
enum class Output {
    Inherited,  // this program's own
    Merged,     // one pipe for both, read end in Child::out
    Separate,   // a pipe each, read ends in Child::out and Child::err
};

// A started program. Handles are the caller's (finish() closes the process).
struct Child {
    HANDLE process = nullptr;  // null when it could not start
    HANDLE out = nullptr;
    HANDLE err = nullptr;
};

namespace detail {
// An inheritable write end; the read end stays in this process only.
inline HANDLE pipe_for_child(HANDLE* read_end) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE write_end = nullptr;
    if (!CreatePipe(read_end, &write_end, &sa, 0)) return nullptr;
    SetHandleInformation(*read_end, HANDLE_FLAG_INHERIT, 0);
    return write_end;
}
}  // namespace detail

// Starts exe (quoted; a bare name is looked up as Windows does) with args.
inline Child start(const std::string& exe, const std::string& args, Output output = Output::Inherited) {
    Child child;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    HANDLE out_w = nullptr, err_w = nullptr;
    if (output != Output::Inherited) {
        out_w = detail::pipe_for_child(&child.out);
        err_w = output == Output::Separate ? detail::pipe_for_child(&child.err) : out_w;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = out_w;
        si.hStdError = err_w;
    }
    std::string line = "\"" + exe + "\" " + args;
    PROCESS_INFORMATION pi{};
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, output != Output::Inherited, 0, nullptr, nullptr, &si,
                       &pi)) {
        CloseHandle(pi.hThread);
        child.process = pi.hProcess;
    }
    // The child has its own copies; ours would keep the pipes from ending.
    if (out_w) CloseHandle(out_w);
    if (err_w && err_w != out_w) CloseHandle(err_w);
    return child;
}

// Runs this program again with args, its output to ours; the process handle.
inline HANDLE spawn_self(const std::string& args) {
    return start(self_path(), args).process;
}

// Waits (bounded) for a child and closes its handle: its exit code, or -1
// when it never started or did not end in time (it is ended then, by its own
// handle, so a hung child cannot outlive the test).
inline int finish(HANDLE process, DWORD timeout_ms) {
    if (!process) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process, timeout_ms) != WAIT_OBJECT_0) {
        TerminateProcess(process, 99);
        code = static_cast<DWORD>(-1);
    } else if (!GetExitCodeProcess(process, &code)) {
        code = static_cast<DWORD>(-1);
    }
    CloseHandle(process);
    return static_cast<int>(code);
}

// Everything left on a pipe until its writers are gone; closes the read end.
inline std::string read_all(HANDLE& pipe) {
    std::string s;
    char buf[4096];
    DWORD n = 0;
    while (pipe && ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) s.append(buf, n);
    if (pipe) CloseHandle(pipe);
    pipe = nullptr;
    return s;
}

// Whether an output line (or all of it) holds part.
inline bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// --- checked steps ---------------------------------------------------------------

// Failed steps so far.
inline int& failures() {
    static int n = 0;
    return n;
}

// One checked step, printed; a failed one with where it is checked.
inline void check_at(bool ok, std::string_view what, const char* file, int line) {
    if (ok) {
        std::printf("ok   %.*s\n", static_cast<int>(what.size()), what.data());
        return;
    }
    std::string_view name(file);
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    std::printf("FAIL %.*s:%d: %.*s\n", static_cast<int>(name.size()), name.data(), line, static_cast<int>(what.size()),
                what.data());
    ++failures();
}

// The summary line and the exit code of a checked program.
inline int checks_done() {
    std::printf("%d failed\n", failures());
    return failures() ? 1 : 0;
}

}  // namespace zrn::e2e

#define E2E_CHECK(ok, what) ::zrn::e2e::check_at(static_cast<bool>(ok), (what), __FILE__, __LINE__)
