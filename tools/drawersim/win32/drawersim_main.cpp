// drawersim.exe: the Windows shell of the drawersim core. It maps the shared
// simulator block, runs a command under the block's lock, wakes the simulated
// USB driver after a report, and keeps the block alive for `hold`.
#include <windows.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "sim_hid.h"
#include "sim_win32.h"
#include "zrn/drawersim/drawersim.h"
#include "zrn/win32/last_error.h"

namespace {

namespace ds = zrn::drawersim;
using zrn::win32::last_error_of;
using zrn::win32::LastError;

constexpr int kFailed = 1;
constexpr int kUsage = 2;
// How long `release` waits for the holder to let go.
constexpr DWORD kReleaseWaitMs = 10000;

// The message, and the Win32 call behind it when one failed.
int failed(const std::string& message, const LastError& cause = {}) {
    if (cause)
        std::fprintf(stderr, "drawersim: %s: %s\n", message.c_str(), zrn::win32::describe(cause).c_str());
    else
        std::fprintf(stderr, "drawersim: %s\n", message.c_str());
    return kFailed;
}

int no_block() {
    return failed("cannot map the simulator block",
                  last_error_of("CreateFileMappingA or MapViewOfFile", zrn::sim::kSimMappingName));
}

// A named object of a running `drawersim hold` that could not be opened:
// missing means no hold runs; anything else is a failure of its own.
int no_holder(const char* call, const char* name) {
    const LastError e = last_error_of(call, name);
    return failed("no `drawersim hold` is running", e.code == ERROR_FILE_NOT_FOUND ? LastError{} : e);
}

bool owned(DWORD wait) {
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

// Holds the block until `release` signals the event (or the process is
// ended). The event exists before the mutex is owned, so a `release` that
// finds a holder always finds the event too.
int hold() {
    if (!zrn::sim::shared_state()) return no_block();
    HANDLE release = CreateEventA(nullptr, FALSE, FALSE, ds::kReleaseEventName);
    if (!release)
        return failed("cannot create the holder's named objects", last_error_of("CreateEventA", ds::kReleaseEventName));
    HANDLE holder = CreateMutexA(nullptr, FALSE, ds::kHolderMutexName);
    if (!holder)
        return failed("cannot create the holder's named objects", last_error_of("CreateMutexA", ds::kHolderMutexName));
    if (!owned(WaitForSingleObject(holder, 0))) return failed("another `drawersim hold` is running");
    ResetEvent(release);  // a release signalled while no holder ran
    std::printf("holding the simulator block until `drawersim release`\n");
    std::fflush(stdout);
    WaitForSingleObject(release, INFINITE);
    ReleaseMutex(holder);
    std::printf("released\n");
    return 0;
}

int release() {
    HANDLE holder = OpenMutexA(SYNCHRONIZE, FALSE, ds::kHolderMutexName);
    if (!holder) return no_holder("OpenMutexA", ds::kHolderMutexName);
    HANDLE release = OpenEventA(EVENT_MODIFY_STATE, FALSE, ds::kReleaseEventName);
    if (!release) return no_holder("OpenEventA", ds::kReleaseEventName);
    // The mutex may outlive a holder that just ended; it is free then.
    if (owned(WaitForSingleObject(holder, 0))) {
        ReleaseMutex(holder);
        return failed("no `drawersim hold` is running");
    }
    if (!SetEvent(release))
        return failed("cannot tell the holder to let go", last_error_of("SetEvent", ds::kReleaseEventName));
    if (!owned(WaitForSingleObject(holder, kReleaseWaitMs))) return failed("the holder did not let go of the block");
    ReleaseMutex(holder);
    std::printf("released\n");
    return 0;
}

int run(const ds::Command& c) {
    zrn::sim::SimState* s = zrn::sim::shared_state();
    if (!s) return no_block();
    const bool held = zrn::sim::shared_state_held_elsewhere();
    if (ds::changes_block(c) && !held)
        return failed(
            "no other process holds the simulator block, so this change would be lost when drawersim ends; "
            "run `drawersim hold` (in another console or in the background) or start the program that uses "
            "the simulated drivers first");
    if (!held && c.verb == ds::Verb::Received)
        std::fprintf(stderr, "drawersim: note: no other process holds the block; this is its initial state\n");
    ds::Effect e;
    {
        std::lock_guard guard(zrn::sim::shared_lock());
        e = ds::execute(c, *s, held);
    }
    if (e.usb_report) zrn::sim::signal_usb_report();
    std::fputs(e.output.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : kFailed;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    const ds::Parsed p = ds::parse(args);
    if (!p.command) {
        std::fprintf(stderr, "drawersim: %s\n(drawersim --help lists the commands)\n", p.error.c_str());
        return kUsage;
    }
    switch (p.command->verb) {
        case ds::Verb::Help:
            std::fputs(ds::help_text().c_str(), stdout);
            return 0;
        case ds::Verb::Hold:
            return hold();
        case ds::Verb::Release:
            return release();
        default:
            return run(*p.command);
    }
}
