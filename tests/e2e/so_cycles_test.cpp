// A thousand Service Object lifetimes in one process, the way a POS
// application that opens the drawer per sale would run them: nothing may
// leak or pile up, and the last open must work like the first.
#include "so_env.h"

#include <tlhelp32.h>

using namespace zrn;
using namespace zrn::e2e;

namespace {

int thread_count() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 t{};
    t.dwSize = sizeof t;
    int n = 0;
    for (BOOL ok = Thread32First(snap, &t); ok; ok = Thread32Next(snap, &t))
        n += t.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    CloseHandle(snap);
    return n;
}

// Open handles of this process, counted by probing every handle value in
// the low range (Wine's GetProcessHandleCount always answers 0).
int handle_count() {
    int n = 0;
    for (std::uintptr_t v = 4; v < (1u << 16); v += 4) {
        DWORD flags = 0;
        n += GetHandleInformation(reinterpret_cast<HANDLE>(v), &flags) ? 1 : 0;
    }
    return n;
}

std::size_t direct_io_events(const client::EventReceiver& co) {
    std::size_t n = 0;
    for (const auto& e : co.events()) n += e.kind == client::Event::DirectIO ? 1 : 0;
    return n;
}

// create / open / claim / enable / DirectIO event / disable / release / close
// / last Release; false at the first step that fails.
::testing::AssertionResult cycle(client::EventReceiver& co) {
    client::ServiceClient c;
    const auto ok = ready(c, &co, "CD926");
    if (!ok) return ok;
    std::int32_t data = 0;
    std::wstring text = L"A";
    const std::size_t before = direct_io_events(co);
    if (c.direct_io(0, &data, &text) != 0) return ::testing::AssertionFailure() << "DirectIO";
    if (direct_io_events(co) != before + 1) return ::testing::AssertionFailure() << "no DirectIO event";
    c.set_number(PIDX_DeviceEnabled, 0);
    if (c.result_code() != 0) return ::testing::AssertionFailure() << "disable";
    if (c.release() != 0) return ::testing::AssertionFailure() << "release";
    if (c.close() != 0) return ::testing::AssertionFailure() << "close";
    return ::testing::AssertionSuccess();
}

TEST(SoCycles, AThousandLifetimesLeakNothing) {
    settings(0);  // a thousand cycles of trace lines would only measure the disk
    write_devices();
    reset_hardware();
    client::EventReceiver co;
    constexpr int kWarmUp = 20, kCycles = 1000;
    for (int i = 0; i < kWarmUp; ++i) ASSERT_TRUE(cycle(co)) << "warm-up cycle " << i;
    ASSERT_TRUE(so_idle(10000 * ZRN_TIME_FACTOR)) << "event threads of the warm-up end";
    const int handles = handle_count(), threads = thread_count();
    ASSERT_GT(handles, 0);
    ASSERT_GT(threads, 0);
    for (int i = kWarmUp; i < kCycles; ++i) ASSERT_TRUE(cycle(co)) << "cycle " << i;
    ASSERT_TRUE(so_idle(10000 * ZRN_TIME_FACTOR)) << "event threads of the cycles end";
    std::printf("handles %d -> %d, threads %d -> %d over %d cycles\n", handles, handle_count(), threads,
                thread_count(), kCycles - kWarmUp);
    EXPECT_LE(handle_count() - handles, 16) << "handles before " << handles;
    EXPECT_LE(thread_count() - threads, 4) << "threads before " << threads;
    EXPECT_EQ(co.references(), 0) << "the Control Object's pointer is borrowed, never kept";

    client::ServiceClient last;
    EXPECT_EQ(open_device(last, &co, "CD926"), 0) << "OpenService still succeeds";
    EXPECT_EQ(last.close(), 0);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ComEnvironment);
    return RUN_ALL_TESTS();
}
