#include "sim_win32.h"

#include <windows.h>

namespace zrn::sim {

namespace {

class NamedMutexLock final : public SimLock {
public:
    NamedMutexLock() : mutex_(CreateMutexA(nullptr, FALSE, kSimMutexName)) {}
    void lock() override {
        // An abandoned mutex (a driving program died) is ours all the same.
        if (mutex_) WaitForSingleObject(mutex_, INFINITE);
    }
    void unlock() override {
        if (mutex_) ReleaseMutex(mutex_);
    }

private:
    HANDLE mutex_;
};

bool g_held_elsewhere = false;

SimState* map_state() {
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(SimState),
                                        kSimMappingName);
    if (!mapping) return nullptr;
    g_held_elsewhere = GetLastError() == ERROR_ALREADY_EXISTS;
    auto* state = static_cast<SimState*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(SimState)));
    if (!state) return nullptr;
    // The mapping stays for the life of the process.
    shared_lock().lock();
    if (state->magic != kSimMagic || state->version != kSimVersion) init_state(state);
    shared_lock().unlock();
    return state;
}

}  // namespace

SimLock& shared_lock() {
    static NamedMutexLock* lock = new NamedMutexLock;
    return *lock;
}

SimState* shared_state() {
    static SimState* state = map_state();
    return state;
}

bool shared_state_held_elsewhere() {
    shared_state();
    return g_held_elsewhere;
}

}  // namespace zrn::sim
