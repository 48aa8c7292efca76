#pragma once

// A run of a command-line program of ours (zrncd, drawersim) from an
// end-to-end test: its output read line by line as it comes.
#include <windows.h>

#include <string>
#include <vector>

#include "proc.h"

namespace zrn::e2e {

class ClientRun {
public:
    ClientRun(const std::string& exe, const std::string& args) {
        const Child child = start(exe, args, Output::Merged);
        read_ = child.out;
        process_ = child.process;
    }
    ~ClientRun() {
        if (read_) CloseHandle(read_);
        if (process_) {
            if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) TerminateProcess(process_, 99);
            CloseHandle(process_);
        }
    }
    // The next line, false at the end of the output.
    bool next(std::string* line) {
        for (;;) {
            const std::size_t nl = pending_.find('\n');
            if (nl != std::string::npos) {
                *line = pending_.substr(0, nl);
                if (!line->empty() && line->back() == '\r') line->pop_back();
                pending_.erase(0, nl + 1);
                lines_.push_back(*line);
                return true;
            }
            if (!read_some()) {
                if (pending_.empty()) return false;
                *line = pending_;
                pending_.clear();
                lines_.push_back(*line);
                return true;
            }
        }
    }
    // Reads to the end; the exit code (-1 when it did not end in time).
    int finish() {
        std::string line;
        while (next(&line)) {
        }
        DWORD code = static_cast<DWORD>(-1);
        if (timed_out_ || !process_ || WaitForSingleObject(process_, 5000) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(process_, &code))
            return -1;
        return static_cast<int>(code);
    }
    const std::vector<std::string>& lines() const { return lines_; }
    // Every line read so far, for a failure message.
    std::string output_text() const {
        std::string s;
        for (const auto& l : lines_) s += l + "\n";
        return s;
    }

private:
    // Appends what the pipe holds, waiting for more while the program runs;
    // false at the end of its output. A program still running at the
    // deadline is ended, so a hung one cannot hang the test.
    bool read_some() {
        for (;;) {
            DWORD avail = 0;
            if (!read_ || !PeekNamedPipe(read_, nullptr, 0, nullptr, &avail, nullptr)) return false;
            if (avail > 0) {
                char buf[4096];
                DWORD got = 0;
                if (!ReadFile(read_, buf, avail < sizeof buf ? avail : sizeof buf, &got, nullptr) || got == 0)
                    return false;
                pending_.append(buf, got);
                return true;
            }
            if (!process_) return false;
            if (GetTickCount64() >= deadline_ && WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
                timed_out_ = true;
                TerminateProcess(process_, 99);
            }
            if (WaitForSingleObject(process_, 10) == WAIT_OBJECT_0) {
                // Ended: what it wrote last is in the pipe already.
                if (!PeekNamedPipe(read_, nullptr, 0, nullptr, &avail, nullptr) || avail == 0) return false;
            }
        }
    }

    ULONGLONG deadline_ = GetTickCount64() + 60000ull * ZRN_TIME_FACTOR;
    bool timed_out_ = false;
    HANDLE read_ = nullptr;
    HANDLE process_ = nullptr;
    std::string pending_;
    std::vector<std::string> lines_;
};

// The JSON line of a step, or "".
inline std::string step_line(const ClientRun& run, const std::string& step) {
    for (const auto& l : run.lines())
        if (has(l, "{\"step\":\"" + step + "\"")) return l;
    return {};
}

}  // namespace zrn::e2e
