#pragma once

// Helpers shared by the end-to-end programs that drive a built DLL.
#include <windows.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

// A function of a loaded library, typed.
template <typename F>
F proc(HMODULE lib, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
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
    bool wait(P pred) {
        for (int i = 0; i < 500; ++i) {
            if (pred(items())) return true;
            Sleep(10);
        }
        return false;
    }

private:
    CRITICAL_SECTION lock_;
    std::vector<std::pair<std::string, int>> items_;
};

// One checked step, printed; failures() counts the failed ones so far.
inline int& failures() {
    static int n = 0;
    return n;
}
inline void check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    failures() += ok ? 0 : 1;
}
