// The Service Object under load and abuse, under Wine with the simulated
// drivers: several processes contending for one drawer, objects released
// while status events are still on their way, and a client that passes
// null out-pointers, empty and huge strings and every kind of bad index.
// Each scenario is bounded in rounds and in time.
#include <climits>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <ocidl.h>
#undef OpenService

#include "ZRNOPOSCD_h.h"
#include "proc.h"
#include "so_env.h"

using namespace zrn;
using namespace zrn::e2e;
using zrn::client::EventReceiver;
using zrn::client::ServiceClient;

namespace {

constexpr std::uint32_t kCts = 0x10;
constexpr int kProcesses = 8;
constexpr int kRounds = 200;
constexpr const char* kCounters = "ZRNStressHolders";

// Counters every contending process shares.
struct Counters {
    volatile LONG holders;     // processes holding the claim right now
    volatile LONG overlaps;    // times a second holder was seen
    volatile LONG wins;        // claims won, over all processes
    volatile LONG fires;       // drawers fired while holding
};

class SharedCounters {
public:
    explicit SharedCounters(bool create) {
        map_ = create ? CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Counters), kCounters)
                      : OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kCounters);
        if (map_) c_ = static_cast<Counters*>(MapViewOfFile(map_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Counters)));
    }
    ~SharedCounters() {
        if (c_) UnmapViewOfFile(c_);
        if (map_) CloseHandle(map_);
    }
    Counters* get() const { return c_; }

private:
    HANDLE map_ = nullptr;
    Counters* c_ = nullptr;
};

// One contending process: at least kRounds claim attempts on one drawer,
// and more until it has held the claim once; each won claim enables, fires,
// disables and releases. A claim never waits, so how many of a fixed number
// of attempts win is up to the scheduler; a process that cannot win once in
// a minute shows a claim that is never given back. Exit 0, or the step that
// went wrong.
int child_contend(const std::string& name) {
    SharedCounters shared(false);
    Counters* k = shared.get();
    if (!k) return 2;
    EventReceiver co;
    ServiceClient c;
    if (open_device(c, &co, name) != 0) return 3;
    const ULONGLONG deadline = GetTickCount64() + 60000ull * ZRN_TIME_FACTOR;
    bool won = false;
    for (int round = 0; round < kRounds || !won; ++round) {
        const std::int32_t claim = c.claim(0);
        if (claim == OPOS_E_CLAIMED) {
            if (!won && GetTickCount64() > deadline) return 9;
            Sleep(2);  // let the holder get on; pacing only, nothing waits on it
            continue;
        }
        if (claim != 0) return 4;
        won = true;
        if (InterlockedIncrement(&k->holders) != 1) InterlockedIncrement(&k->overlaps);
        InterlockedIncrement(&k->wins);
        c.set_number(PIDX_DeviceEnabled, 1);
        if (c.result_code() != 0) return 5;
        if (c.open_drawer() != 0) return 6;
        InterlockedIncrement(&k->fires);
        c.set_number(PIDX_DeviceEnabled, 0);
        InterlockedDecrement(&k->holders);
        if (c.release() != 0) return 7;
    }
    return c.close() == 0 ? 0 : 8;
}

class SoStress : public ::testing::Test {
protected:
    void SetUp() override {
        settings(0);  // thousands of calls' trace lines would only measure the disk
        write_devices();
        reset_hardware();
    }
};

TEST_F(SoStress, EightProcessesContendForOneDrawer) {
    SharedCounters shared(true);
    ASSERT_NE(shared.get(), nullptr);
    *shared.get() = Counters{};
    std::vector<HANDLE> kids;
    for (int i = 0; i < kProcesses; ++i) kids.push_back(spawn_self("--child-contend CD926"));
    std::vector<int> codes;
    for (HANDLE k : kids) codes.push_back(finish(k, 300000 * ZRN_TIME_FACTOR));
    for (int i = 0; i < kProcesses; ++i) EXPECT_EQ(codes[i], 0) << "process " << i << " (-1: hung, 9: never won the claim)";
    const Counters& k = *shared.get();
    std::printf("%d processes x at least %d rounds: %ld claims won, %ld fires\n", kProcesses, kRounds, k.wins, k.fires);
    EXPECT_EQ(k.overlaps, 0) << "two holders of one drawer at once";
    EXPECT_EQ(k.holders, 0);
    EXPECT_GE(k.wins, kProcesses) << "every process got its turn at least once";
    EXPECT_EQ(k.fires, k.wins);
    {
        std::lock_guard guard(sim::shared_lock());
        EXPECT_EQ(hw()->com[0].open, 0) << "every port closed again";
    }
    // Nothing is left claimed: a fresh process claims at once.
    EventReceiver co;
    ServiceClient c;
    ASSERT_EQ(open_device(c, &co, "CD926"), 0);
    EXPECT_EQ(c.claim(0), 0);
    EXPECT_EQ(c.close(), 0);
}

// Objects let go of while status events are still being made and delivered:
// no crash, no hang, the port closed with the object, and once the event
// threads end nothing of the module is held any more.
TEST_F(SoStress, ReleasedWhileStatusEventsAreInFlight) {
    EventReceiver co;
    const std::int32_t opens_before = hw()->com[0].opens;
    constexpr int kObjects = 25;
    for (int round = 0; round < kObjects; ++round) {
        SCOPED_TRACE(round);
        ServiceClient c;
        ASSERT_TRUE(ready(c, &co, "CD926"));
        // Lines toggled as fast as the poll thread sees them; the last
        // reference goes while the event threads run, without a close.
        for (int i = 0; i < 4; ++i) {
            set_modem(1, i % 2 ? kCts : 0);
            Sleep(1);
        }
    }
    {
        std::lock_guard guard(sim::shared_lock());
        EXPECT_GE(hw()->com[0].opens - opens_before, kObjects);
        EXPECT_EQ(hw()->com[0].open, 0) << "a released object leaves its port closed";
    }
    EXPECT_TRUE(so_idle(10000 * ZRN_TIME_FACTOR)) << "objects or event threads still hold the module";
    EXPECT_EQ(co.references(), 0);
    // Still usable afterwards.
    ServiceClient again;
    ASSERT_TRUE(ready(again, &co, "CD926"));
    EXPECT_EQ(again.open_drawer(), 0);
    EXPECT_EQ(again.close(), 0);
}

// Two objects on two threads of one process (the object is free-threaded),
// each enabling, firing, disabling and letting go of its drawer while the
// other does the same: the one open port of the process changes hands, and
// no port is ever left open or closed through an object already released.
TEST_F(SoStress, TwoThreadsEnableAndReleaseTheirObjectsAtOnce) {
    auto worker = [](const char* name, int seed) {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return;
        EventReceiver co;
        for (int i = 0; i < 40; ++i) {
            ServiceClient c;
            if (open_device(c, &co, name) != 0) continue;
            c.set_number(PIDX_DeviceEnabled, 1);
            c.open_drawer();
            if ((i + seed) % 3 == 0) c.set_number(PIDX_DeviceEnabled, 0);
            if ((i + seed) % 2 == 0) c.close();
        }
        CoUninitialize();
    };
    std::thread a(worker, "CD926", 0), b(worker, "CD347", 1);
    a.join();
    b.join();
    {
        std::lock_guard guard(sim::shared_lock());
        EXPECT_EQ(hw()->com[0].open, 0) << "COM1 left open";
        EXPECT_EQ(hw()->com[1].open, 0) << "COM2 left open";
    }
    EXPECT_TRUE(so_idle(10000 * ZRN_TIME_FACTOR));
}

bool valid_index(LONG i) {
    return (i >= 1 && i <= 14) || i == 501 || i == 1001 || i == 1501 || i == 1502 || (i >= 1000001 && i <= 1000004);
}

// A broken client through the vtable: every out-pointer null, strings empty
// and far longer than any field, property indexes outside every range.
TEST_F(SoStress, HostileArgumentsThroughTheInterface) {
    EventReceiver co;
    ServiceClient c;
    ASSERT_TRUE(SUCCEEDED(c.create(L"ZRNOPOSCD.SO")));
    ASSERT_TRUE(c.look_up_methods());
    IZRNOPOSCDImpl* raw = nullptr;
    ASSERT_EQ(c.object()->QueryInterface(IID_IZRNOPOSCDImpl, reinterpret_cast<void**>(&raw)), S_OK);

    BSTR cls = SysAllocString(L"CashDrawer");
    BSTR empty = SysAllocString(L"");
    const std::wstring long_text(1 << 20, L'W');
    BSTR huge = SysAllocStringLen(long_text.data(), static_cast<UINT>(long_text.size()));
    BSTR device = SysAllocString(L"CD926");
    ASSERT_TRUE(cls && empty && huge && device);

    // Null out-pointers on every method, before and after an open.
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        EXPECT_EQ(raw->COFreezeEvents(VARIANT_TRUE, nullptr), S_OK);
        EXPECT_EQ(raw->GetPropertyNumber(PIDX_DrawerOpened, nullptr), S_OK);
        EXPECT_EQ(raw->GetPropertyString(PIDX_DeviceName, nullptr), S_OK);
        EXPECT_EQ(raw->SetPropertyString(PIDX_DeviceName, nullptr), S_OK);
        EXPECT_EQ(raw->CheckHealth(1, nullptr), S_OK);
        EXPECT_EQ(raw->ClaimDevice(0, nullptr), S_OK);
        EXPECT_EQ(raw->DirectIO(0, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(raw->OpenDrawer(nullptr), S_OK);
        EXPECT_EQ(raw->WaitForDrawerClose(0, 0, 0, 0, nullptr), S_OK);
        EXPECT_EQ(raw->ReleaseDevice(nullptr), S_OK);
        EXPECT_EQ(raw->CloseService(nullptr), S_OK);
        EXPECT_EQ(raw->OpenService(nullptr, nullptr, nullptr, nullptr), S_OK);
        EXPECT_EQ(c.result_code(), OPOS_E_FAILURE) << "a null name opens nothing";
        EXPECT_EQ(raw->OpenService(cls, device, nullptr, nullptr), S_OK);
    }
    EXPECT_EQ(c.result_code(), 0) << "a null Control Object is accepted; events are then dropped";
    EXPECT_EQ(raw->GetTypeInfoCount(nullptr), E_POINTER);
    EXPECT_EQ(raw->GetTypeInfo(0, 0, nullptr), E_POINTER);
    EXPECT_EQ(raw->GetIDsOfNames(IID_NULL, nullptr, 1, 0, nullptr), E_POINTER);
    EXPECT_EQ(raw->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(raw->CloseService(nullptr), S_OK);

    // Empty and huge names and texts.
    LONG rc = -5;
    EXPECT_EQ(raw->OpenService(cls, empty, &co, &rc), S_OK);
    EXPECT_EQ(rc, OPOS_E_NOEXIST) << "an empty name is no device";
    rc = -5;
    EXPECT_EQ(raw->OpenService(cls, huge, &co, &rc), S_OK);
    EXPECT_EQ(rc, OPOS_E_NOEXIST);
    rc = -5;
    EXPECT_EQ(raw->OpenService(huge, device, &co, &rc), S_OK);
    EXPECT_EQ(rc, 0) << "the class name is not looked at";
    rc = -5;
    EXPECT_EQ(raw->ClaimDevice(0, &rc), S_OK);
    EXPECT_EQ(rc, 0);
    raw->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    ASSERT_EQ(c.result_code(), 0);
    LONG data = 7;
    BSTR text = SysAllocStringLen(long_text.data(), static_cast<UINT>(long_text.size()));
    rc = -5;
    EXPECT_EQ(raw->DirectIO(0, &data, &text, &rc), S_OK);
    EXPECT_EQ(rc, OPOS_E_ILLEGAL) << "a command longer than the driver takes is refused, not cut";
    SysFreeString(text);
    text = SysAllocString(L"");
    rc = -5;
    EXPECT_EQ(raw->DirectIO(0, &data, &text, &rc), S_OK);
    EXPECT_NE(rc, -5);
    SysFreeString(text);
    EXPECT_EQ(raw->SetPropertyString(PIDX_DeviceName, huge), S_OK);
    BSTR got = nullptr;
    EXPECT_EQ(raw->GetPropertyString(PIDX_DeviceName, &got), S_OK);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(std::wstring(got, SysStringLen(got)), L"CD926") << "SetPropertyString changes nothing";
    SysFreeString(got);

    // Every index outside the ranges: numbers read OPOS_E_ILLEGAL, strings are
    // not written, writes change nothing.
    std::vector<LONG> indexes = {LONG_MIN, LONG_MIN + 1, -1000001, -1, LONG_MAX, LONG_MAX - 1};
    for (LONG i = -2; i <= 2002; ++i) indexes.push_back(i);
    for (LONG i = 999990; i <= 1000010; ++i) indexes.push_back(i);
    int checked = 0;
    for (const LONG i : indexes) {
        if (valid_index(i)) continue;
        ++checked;
        LONG number = 12345;
        EXPECT_EQ(raw->GetPropertyNumber(i, &number), S_OK) << i;
        EXPECT_EQ(number, OPOS_E_ILLEGAL) << i;
        BSTR s = nullptr;
        EXPECT_EQ(raw->GetPropertyString(i, &s), S_OK) << i;
        EXPECT_EQ(s, nullptr) << i;
        if (s) SysFreeString(s);
        EXPECT_EQ(raw->SetPropertyNumber(i, 1), S_OK) << i;
        EXPECT_EQ(raw->SetPropertyNumber(i, LONG_MIN), S_OK) << i;
    }
    EXPECT_GT(checked, 2000);
    EXPECT_EQ(c.get_number(PIDX_DeviceEnabled), 1) << "no bad index disabled the device";
    EXPECT_EQ(c.get_number(PIDX_FreezeEvents), 0);
    // Valid number indexes read as strings, and string indexes as numbers.
    for (const LONG i : {1L, 3L, 9L, 14L, 501L, 1001L, 1502L}) {
        BSTR s = nullptr;
        EXPECT_EQ(raw->GetPropertyString(i, &s), S_OK) << i;
        EXPECT_EQ(s, nullptr) << i;
    }
    rc = -5;
    EXPECT_EQ(raw->CloseService(&rc), S_OK);
    EXPECT_EQ(rc, 0);
    {
        std::lock_guard guard(sim::shared_lock());
        EXPECT_EQ(hw()->com[0].open, 0);
    }
    for (BSTR b : {cls, empty, huge, device}) SysFreeString(b);
    raw->Release();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--child-contend") {
        if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 3;
        const int code = child_contend(argv[2]);
        CoUninitialize();
        return code;
    }
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ComEnvironment);
    return RUN_ALL_TESTS();
}
