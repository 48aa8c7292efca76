// ZRNOPOSCD.dll end to end under Wine: created by its program identifier
// through the real registration, driven through IDispatch by a Control
// Object of the test's own, with the simulated drivers behind TargetPath,
// the real registry, the real shared section and the day's trace file.
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <aclapi.h>
#include <ocidl.h>
#include <olectl.h>
#include <tlhelp32.h>
#undef OpenService

#include "ZRNOPOSCD_h.h"
#include "hid_drawer.h"
#include "proc.h"
#include "so_env.h"

using namespace zrn;
using namespace zrn::e2e;
using zrn::client::Event;
using zrn::client::EventReceiver;
using zrn::client::ServiceClient;

namespace {

constexpr std::uint32_t kCts = 0x10;

// Runs this program again in a child mode: its exit code, -1 when it could
// not start or did not end in time.
int run_child(const std::string& args) { return finish(spawn_self(args), 30000 * ZRN_TIME_FACTOR); }

// Lets the report of the state found at enabling arrive, then forgets it.
// The poll thread's first read reports, unless it came before the report
// was wanted: then nothing comes and the bound is spent once.
void settle(EventReceiver& co) {
    co.wait_for([](auto& ev) { return !ev.empty(); }, 2000 * ZRN_TIME_FACTOR);
    co.clear();
}

// Waits (bounded) until DrawerOpened reads `opened`: the poll thread reads
// the lines every 20 ms or so, whatever the speed of this machine.
bool wait_drawer(ServiceClient& c, std::int32_t opened) {
    return wait_until([&] { return c.get_number(PIDX_DrawerOpened) == opened; }, 5000 * ZRN_TIME_FACTOR);
}

std::vector<Event> direct_io_events(const std::vector<Event>& all) {
    std::vector<Event> out;
    for (const auto& e : all)
        if (e.kind == Event::DirectIO) out.push_back(e);
    return out;
}

// Waits (bounded) until the trace file, past its first `from` bytes, holds text.
bool trace_shows(std::size_t from, const std::string& text, DWORD timeout_ms = 10000 * ZRN_TIME_FACTOR) {
    return wait_until(
        [&] {
            const std::string t = trace_text();
            return t.size() > from && t.find(text, from) != std::string::npos;
        },
        timeout_ms, 20);
}

// Waits (bounded) until every thread this process runs from inside the
// named module has ended. Threads are told apart by their start address.
bool module_threads_end(const char* module, DWORD timeout_ms = 10000 * ZRN_TIME_FACTOR) {
    HMODULE m = GetModuleHandleA(module);
    if (!m) return false;
    const auto base = reinterpret_cast<std::uintptr_t>(m);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(m);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + static_cast<std::uintptr_t>(dos->e_lfanew));
    const std::uintptr_t end = base + nt->OptionalHeader.SizeOfImage;
    using QueryThread = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryThread>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationThread")));
    if (!query) return false;
    constexpr int kThreadQuerySetWin32StartAddress = 9;
    const ULONGLONG deadline = GetTickCount64() + timeout_ms;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return false;
    bool all_ended = true;
    THREADENTRY32 t{};
    t.dwSize = sizeof t;
    for (BOOL ok = Thread32First(snap, &t); ok; ok = Thread32Next(snap, &t)) {
        if (t.th32OwnerProcessID != GetCurrentProcessId()) continue;
        HANDLE h = OpenThread(THREAD_QUERY_INFORMATION | SYNCHRONIZE, FALSE, t.th32ThreadID);
        if (!h) continue;
        void* start = nullptr;
        if (query(h, kThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) == 0) {
            const auto a = reinterpret_cast<std::uintptr_t>(start);
            if (a >= base && a < end) {
                const ULONGLONG now = GetTickCount64();
                const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
                all_ended &= WaitForSingleObject(h, left) == WAIT_OBJECT_0;
            }
        }
        CloseHandle(h);
    }
    CloseHandle(snap);
    return all_ended;
}

class SoE2E : public ::testing::Test {
protected:
    void SetUp() override {
        settings(1);
        write_devices();
        reset_hardware();
    }
};

// --- each interface model, the whole road ---------------------------------------

TEST_F(SoE2E, SerialIIDrawerFiresAndReportsOpenThenClosed) {
    EventReceiver co;
    ServiceClient c;
    ASSERT_TRUE(ready(c, &co, "CD926"));
    EXPECT_EQ(c.get_number(PIDX_DrawerOpened), 0) << "CTS active: closed";

    EXPECT_EQ(c.open_drawer(), 0);
    EXPECT_EQ(written(hw()->com[0]), std::string("\x07\r\n")) << "FirstOC 7 plus CR LF";

    // The enable may report the closed drawer it found first.
    settle(co);
    set_modem(1, 0);  // the drawer springs open: no line active
    ASSERT_TRUE(co.wait_for([](auto& ev) { return has_status(ev, 1); }, 5000));
    EXPECT_EQ(c.get_number(PIDX_DrawerOpened), 1);
    set_modem(1, kCts);
    ASSERT_TRUE(co.wait_for([](auto& ev) { return has_status(ev, 0); }, 5000));

    const std::vector<Event> ev = co.events();
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].value, 1);
    EXPECT_EQ(ev[1].value, 0);
    EXPECT_NE(ev[0].raised_by, GetCurrentThreadId()) << "status events come from an event thread";
    EXPECT_EQ(ev[0].thread, GetCurrentThreadId()) << "and reach the application on its own thread";
    EXPECT_EQ(co.calls_with_bad_arguments(), 0);

    c.set_number(PIDX_DeviceEnabled, 0);
    EXPECT_EQ(c.result_code(), 0);
    EXPECT_EQ(c.release(), 0);
    EXPECT_EQ(c.close(), 0);
    EXPECT_EQ(c.get_number(PIDX_Claimed), 0);
}

// Two smart-serial units share COM2; each unit reports under its own name.
TEST_F(SoE2E, SmartSerialUnitsOnOneComPort) {
    for (const char* name : {"CD347", "CD347-2"}) {
        SCOPED_TRACE(name);
        reset_hardware();
        EventReceiver co;
        ServiceClient c;
        ASSERT_TRUE(ready(c, &co, name));
        settle(co);
        EXPECT_EQ(c.open_drawer(), 0);
        EXPECT_EQ(written(hw()->com[1]), "[[") << "FirstOC and SecondOC 91, no line end";
        EXPECT_EQ(written(hw()->com[0]), "") << "nothing on another port";
        set_modem(2, 0);
        EXPECT_TRUE(co.wait_for([](auto& ev) { return has_status(ev, 1); }, 5000));
        set_modem(2, kCts);
        EXPECT_TRUE(co.wait_for([](auto& ev) { return has_status(ev, 0); }, 5000));
        c.set_number(PIDX_DeviceEnabled, 0);
        EXPECT_EQ(c.release(), 0);
        EXPECT_EQ(c.close(), 0);
    }
    EXPECT_NE(trace_text().find("OnStatusCapture=,CD347-2,1"), std::string::npos)
        << "the second unit's reports carry its own status name";
}

TEST_F(SoE2E, ParallelDrawerFires) {
    EventReceiver co;
    ServiceClient c;
    ASSERT_TRUE(ready(c, &co, "CD615"));
    EXPECT_EQ(c.get_number(PIDX_DrawerOpened), 0) << "a parallel drawer reports no state";
    EXPECT_EQ(c.open_drawer(), 0);
    EXPECT_EQ(written(hw()->lpt[0]), "[[");
    EXPECT_GE(hw()->lpt[0].opens, 2) << "reopened after the command";
    c.set_number(PIDX_DeviceEnabled, 0);
    EXPECT_EQ(c.release(), 0);
    EXPECT_EQ(c.close(), 0);
    EXPECT_TRUE(co.events().empty());
}

TEST_F(SoE2E, UsbDrawerFiresAndReportsOpenThenClosed) {
    EventReceiver co;
    ServiceClient c;
    ASSERT_TRUE(ready(c, &co, "CD730"));
    EXPECT_EQ(c.open_drawer(), 0);
    EXPECT_EQ(hw()->usb.opening_reports, 1);
    ASSERT_TRUE(co.wait_for([](auto& ev) { return has_status(ev, 1); }, 5000)) << "the fired drawer is open";
    set_usb_drawer(2);
    ASSERT_TRUE(co.wait_for([](auto& ev) { return has_status(ev, 0); }, 5000));
    EXPECT_EQ(c.get_number(PIDX_DrawerOpened), 0) << "closed since the fire: the acknowledgement is stale";

    {
        std::lock_guard guard(sim::shared_lock());
        hw()->usb.present = 0;
    }
    sim::usb_report(hw(), sim::shared_lock());
    ASSERT_TRUE(module_threads_end("USB730SO.DLL")) << "the status thread ends on the failed read";
    EXPECT_EQ(c.open_drawer(), OPOS_E_NOHARDWARE) << "unplugged: the driver cannot reopen the interface";
    {
        std::lock_guard guard(sim::shared_lock());
        hw()->usb.present = 1;
    }
    c.set_number(PIDX_DeviceEnabled, 0);
    EXPECT_EQ(c.release(), 0);
    EXPECT_EQ(c.close(), 0);
}

// The shipped drivers behind TargetPath and a HID drawer of the test VM (the
// *OnHidDrawer* cases run there, under tests/hid/hid_drawer.py).
TEST(SoE2EOnHidDrawer, UsbDrawerFiresReportsWithDcsDelayAndComesBackAfterAReplug) {
    HidDrawers hid;
    ASSERT_TRUE(hid.ok()) << "no HID drawer: run as tests/hid/hid_drawer.py -- TEST, in the test VM";
    UsbSettings us;
    us.DCSDelay = 1000;
    ScopedUsbSettings scoped(us);
    settings(1, client::windows_path(ZRN_DIST_DIR));
    write_devices();
    ASSERT_TRUE(hid.add("d")) << hid.last();
    ASSERT_TRUE(hid.shown({"d"}));

    EventReceiver co;
    ServiceClient c;
    ASSERT_TRUE(ready(c, &co, "CD730"));
    EXPECT_TRUE(hid.received("d", {kIdleReport})) << "the status thread greets the interface";
    EXPECT_EQ(c.open_drawer(), 0);
    EXPECT_TRUE(hid.received("d", {kIdleReport, kOpeningReport}));
    ASSERT_TRUE(co.wait_for([](auto& ev) { return has_status(ev, 1); }, kHidWaitMs)) << "the fired drawer is open";
    EXPECT_EQ(c.get_number(PIDX_DrawerOpened), 1);
    const ULONGLONG sent = GetTickCount64();
    ASSERT_TRUE(hid.cmd("state d 2")) << hid.last();  // pushed shut
    ASSERT_TRUE(co.wait_for([](auto& ev) { return has_status(ev, 0); }, kHidWaitMs));
    // Wine refreshes the tick count on its own schedule, late under load:
    // one reading may trail the time slept by a few of its steps. A driver
    // that ignored the delay would report at once.
    constexpr ULONGLONG kTickLagMs = 100;
    for (const auto& e : co.events()) {
        if (e.kind == Event::StatusUpdate && e.value == 0) {
            EXPECT_GE(e.tick_ms - sent + kTickLagMs, us.DCSDelay) << "closed reported before DCSDelay had passed";
        }
    }
    EXPECT_EQ(c.get_number(PIDX_DrawerOpened), 0);

    hid.forget("d");
    ASSERT_TRUE(hid.cmd("fires d ignore"));
    EXPECT_EQ(c.open_drawer(), OPOS_E_FAILURE) << "ODVEnabled 1: the drawer never answered";
    EXPECT_TRUE(hid.received("d", {kOpeningReport}));

    ASSERT_TRUE(hid.cmd("unplug d"));
    ASSERT_TRUE(module_threads_end("USB730SO.DLL")) << "the status thread ends with the device";
    EXPECT_EQ(c.open_drawer(), OPOS_E_NOHARDWARE) << "gone: the driver cannot reopen it";
    // Gone from the system's list before it comes back, so the list that
    // shows it again is not the old one.
    ASSERT_TRUE(hid.shown({}));
    ASSERT_TRUE(hid.cmd("replug d"));
    ASSERT_TRUE(hid.shown({"d"}));
    ASSERT_TRUE(hid.cmd("fires d answer"));
    EXPECT_EQ(c.open_drawer(), 0) << "replugged: reopened and fired";
    EXPECT_TRUE(co.wait_for([](auto& ev) { return std::count_if(ev.begin(), ev.end(), [](const Event& e) {
                                                    return e.kind == Event::StatusUpdate && e.value == 1;
                                                }) >= 2; },
                            kHidWaitMs));
    c.set_number(PIDX_DeviceEnabled, 0);
    EXPECT_EQ(c.release(), 0);
    EXPECT_EQ(c.close(), 0);
}

// --- events ----------------------------------------------------------------------

TEST_F(SoE2E, FrozenEventsAreQueuedAndFlushedOnTheClearingThread) {
    EventReceiver co;
    ServiceClient c;
    ASSERT_TRUE(ready(c, &co, "CD926"));
    settle(co);
    // COFreezeEvents does not freeze: only the property does.
    {
        IZRNOPOSCDImpl* raw = nullptr;
        ASSERT_EQ(c.object()->QueryInterface(IID_IZRNOPOSCDImpl, reinterpret_cast<void**>(&raw)), S_OK);
        LONG rc = 0;
        EXPECT_EQ(raw->COFreezeEvents(VARIANT_TRUE, &rc), S_OK);
        raw->Release();
        set_modem(1, 0);
        EXPECT_TRUE(co.wait_for([](auto& ev) { return has_status(ev, 1); }, 5000)) << "delivered at once";
        set_modem(1, kCts);
        EXPECT_TRUE(co.wait_for([](auto& ev) { return has_status(ev, 0); }, 5000));
        co.clear();
    }
    c.set_number(PIDX_FreezeEvents, 1);
    EXPECT_EQ(c.get_number(PIDX_FreezeEvents), 1);

    // The poll thread has seen each change once DrawerOpened shows it; its
    // event thread queues the event a moment later.
    // An event thread writes its trace line just before it queues the event.
    std::size_t mark = trace_text().size();
    set_modem(1, 0);
    ASSERT_TRUE(wait_drawer(c, 1));
    ASSERT_TRUE(trace_shows(mark, "< StatusUpdateEvent=1"));
    mark = trace_text().size();
    set_modem(1, kCts);
    ASSERT_TRUE(wait_drawer(c, 0));
    ASSERT_TRUE(trace_shows(mark, "< StatusUpdateEvent=0"));
    EXPECT_TRUE(co.events().empty()) << "nothing delivered while frozen";

    c.set_number(PIDX_FreezeEvents, 0);
    ASSERT_TRUE(co.wait_for([](auto& ev) { return ev.size() >= 2; }, 5000));
    const std::vector<Event> ev = co.events();
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].value, 1);
    EXPECT_EQ(ev[1].value, 0);
    EXPECT_EQ(ev[0].raised_by, GetCurrentThreadId()) << "delivered from inside the call";
    EXPECT_EQ(c.close(), 0);
}

TEST_F(SoE2E, DirectIOEventsAreNumberedAndDroppedForAnUnknownName) {
    EventReceiver co;
    ServiceClient c;
    ASSERT_TRUE(ready(c, &co, "CD926"));
    settle(co);
    for (int i = 0; i < 3; ++i) {
        std::int32_t data = 5;
        std::wstring text = L"A";
        EXPECT_EQ(c.direct_io(0, &data, &text), 0);
    }
    EXPECT_EQ(written(hw()->com[0]), "AAA");
    // The report of the state found at enabling may arrive at any time.
    std::vector<Event> ev = direct_io_events(co.events());
    ASSERT_EQ(ev.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ev[i].kind, Event::DirectIO);
        EXPECT_EQ(ev[i].value, i + 1);
        EXPECT_EQ(ev[i].data, 0);
        EXPECT_EQ(ev[i].text, "");
        EXPECT_EQ(ev[i].raised_by, GetCurrentThreadId());
    }
    EXPECT_EQ(c.close(), 0);

    EventReceiver deaf;
    deaf.set_knows_direct_io(false);
    ServiceClient d;
    ASSERT_TRUE(ready(d, &deaf, "CD926"));
    settle(deaf);
    std::int32_t data = 0;
    std::wstring text = L"B";
    EXPECT_EQ(d.direct_io(0, &data, &text), 0);
    EXPECT_TRUE(direct_io_events(deaf.events()).empty());
    EXPECT_GT(deaf.lookups(), 0) << "the name was asked for";
    EXPECT_EQ(d.close(), 0);
}

// A Control Object of another thread (which pumps its own messages) whose
// handler is still running when the application closes, then releases, the
// Service Object without letting its events go first: CloseService waits
// for that delivery, the final release waits up to its bound, nothing is
// delivered afterwards, and the module stays loaded until the event thread
// has returned.
TEST_F(SoE2E, CloseAndReleaseWhileAStatusEventIsInFlight) {
    HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE proceed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE have_receiver = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EventReceiver* co = nullptr;
    std::thread owner([&] {
        EventReceiver mine;
        mine.set_handler([&](const Event& e) {
            if (e.kind != Event::StatusUpdate || e.value != 1) return;
            SetEvent(entered);
            WaitForSingleObject(proceed, 30000 * ZRN_TIME_FACTOR);
        });
        co = &mine;
        SetEvent(have_receiver);
        client::pump_messages(INFINITE, stop);
        mine.set_handler(nullptr);
    });
    ASSERT_EQ(WaitForSingleObject(have_receiver, 5000), WAIT_OBJECT_0);

    for (const bool final_release : {false, true}) {
        SCOPED_TRACE(final_release ? "final release" : "CloseService");
        ResetEvent(entered);
        ResetEvent(proceed);
        auto c = std::make_unique<ServiceClient>();
        // As a plain IDispatch: the client does not end the events itself.
        ASSERT_TRUE(ready(*c, static_cast<IDispatch*>(co), "CD926"));
        ASSERT_TRUE(wait_drawer(*c, 0));
        set_modem(1, 0);
        ASSERT_EQ(WaitForSingleObject(entered, 5000 * ZRN_TIME_FACTOR), WAIT_OBJECT_0);
        std::atomic<bool> done{false};
        std::thread closer([&] {
            if (final_release)
                c.reset();
            else
                c->close();
            done = true;
        });
        if (!final_release) {
            EXPECT_FALSE(wait_until([&] { return done.load(); }, 1000)) << "CloseService returned under the handler";
            SetEvent(proceed);
            EXPECT_TRUE(wait_until([&] { return done.load(); }, 4000 * ZRN_TIME_FACTOR)) << "and returns after it";
        } else {
            // The handler never returns by itself: the release goes on after its bound.
            EXPECT_TRUE(wait_until([&] { return done.load(); }, 15000 * ZRN_TIME_FACTOR));
            EXPECT_EQ(so_can_unload(), S_FALSE) << "an event thread of the module still runs";
            CoFreeUnusedLibrariesEx(0, 0);
            SetEvent(proceed);
        }
        closer.join();
        const std::size_t before = co->events().size();
        set_modem(1, kCts);
        set_modem(1, 0);
        c.reset();
        EXPECT_TRUE(so_idle(5000 * ZRN_TIME_FACTOR)) << "the event thread ended";
        EXPECT_EQ(co->events().size(), before) << "an event after the Control Object let go";
        set_modem(1, kCts);
    }
    SetEvent(stop);
    owner.join();
    CoFreeUnusedLibrariesEx(0, 0);
    // Still alive and usable afterwards.
    EventReceiver again_co;
    ServiceClient again;
    EXPECT_EQ(open_device(again, &again_co, "CD926"), 0);
    EXPECT_EQ(again.close(), 0);
    for (HANDLE h : {entered, proceed, stop, have_receiver}) CloseHandle(h);
}

// What applications do with the published Control Object, whose events
// reach them through their own message loop: read the drawer's state and the
// result from inside the handler, wait for the drawer to close on the very
// thread that must pump the events, and let the Control Object go from
// inside the handler.
TEST_F(SoE2E, ApplicationCallsMadeFromTheEventThreadsOwnLoop) {
    EventReceiver co;
    ServiceClient c;
    ASSERT_TRUE(ready(c, &co, "CD926"));
    settle(co);
    std::vector<std::pair<std::int32_t, std::int32_t>> seen;  // DrawerOpened, ResultCode
    co.set_handler([&](const Event& e) {
        if (e.kind != Event::StatusUpdate) return;
        const std::int32_t opened = c.get_number(PIDX_DrawerOpened);
        seen.emplace_back(opened, c.result_code());
    });
    set_modem(1, 0);
    ASSERT_TRUE(co.wait_for([](auto& ev) { return has_status(ev, 1); }, 5000 * ZRN_TIME_FACTOR));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], std::make_pair(1, 0)) << "the state the event announced";

    // WaitForDrawerClose on this thread while the event of the drawer's
    // closing waits for this thread's messages: the wait ends, then both
    // events arrive in order.
    co.clear();
    set_modem(1, kCts);
    set_modem(1, 0);
    ASSERT_TRUE(wait_drawer(c, 1));
    std::thread drawer([&] {
        trace_shows(0, "> WaitForDrawerClose=");
        set_modem(1, kCts);
    });
    const std::size_t mark = trace_text().size();
    EXPECT_EQ(c.wait_for_drawer_close(10000, 1000, 100, 1000), 0);
    drawer.join();
    EXPECT_TRUE(trace_shows(mark, "< WaitForDrawerClose=0"));
    ASSERT_TRUE(co.wait_for([](auto& ev) { return !ev.empty() && ev.back().value == 0; }, 5000 * ZRN_TIME_FACTOR));
    const std::vector<Event> ev = co.events();
    for (std::size_t i = 1; i < ev.size(); ++i) EXPECT_NE(ev[i].value, ev[i - 1].value) << "out of order at " << i;

    // The application lets go of the Control Object from inside the handler.
    co.set_handler([&](const Event& e) {
        if (e.kind != Event::StatusUpdate || e.value != 1) return;
        EXPECT_EQ(c.close(), 0);
        c.reset();
    });
    set_modem(1, 0);
    EXPECT_TRUE(wait_until(
        [&] {
            client::pump_messages(10);  // the application's message loop
            return c.object() == nullptr;
        },
        5000 * ZRN_TIME_FACTOR));
    co.set_handler(nullptr);
    EXPECT_TRUE(so_idle(5000 * ZRN_TIME_FACTOR));
    set_modem(1, kCts);
}

// Without drivers nothing pins the module, so COM unloads it once it is
// unused and loads it again for the next object. Run in a fresh process,
// where no earlier binding pinned it.
TEST_F(SoE2E, UnloadedAndLoadedAgainWithoutDrivers) {
    settings(1, sim_dir() + "\\absent");
    EXPECT_EQ(run_child("--child-unload CD926"), 0);
}

// --- names and failures ------------------------------------------------------------

TEST_F(SoE2E, LogicalNameMissingDeviceAndMissingDriver) {
    {
        EventReceiver co;
        ServiceClient c;
        ASSERT_TRUE(ready(c, &co, "FrontDrawer"));
        EXPECT_EQ(c.open_drawer(), 0);
        EXPECT_EQ(written(hw()->com[0]), std::string("\x07\r\n")) << "the logical name reached CD926";
        EXPECT_EQ(c.close(), 0);
    }
    {
        EventReceiver co;
        ServiceClient c;
        EXPECT_EQ(open_device(c, &co, "CD999"), OPOS_E_NOEXIST);
        EXPECT_EQ(c.result_code(), OPOS_E_FAILURE);
    }
    settings(1, sim_dir() + "\\absent");
    {
        EventReceiver co;
        ServiceClient c;
        EXPECT_EQ(open_device(c, &co, "CD926"), OPOS_E_NOSERVICE);
        EXPECT_EQ(c.result_code(), OPOS_E_FAILURE);
        EXPECT_EQ(c.result_code_extended(), OPOS_E_FAILURE);
    }
}

// The methods a Control Object looks up, and the answers of the frame.
TEST_F(SoE2E, DispatchFrameAnswersAsAControlObjectExpects) {
    ServiceClient c;
    ASSERT_TRUE(SUCCEEDED(c.create(L"ZRNOPOSCD.SO")));
    ASSERT_TRUE(c.look_up_methods()) << "missing " << client::narrow(c.missing() ? c.missing() : L"");
    EXPECT_EQ(c.result_code(), -1) << "creation's state before any open";
    EXPECT_EQ(c.result_code_extended(), -1);

    IDispatch* so = c.object();
    LPOLESTR lower = const_cast<LPOLESTR>(L"opendrawer");
    DISPID id = 0;
    EXPECT_EQ(so->GetIDsOfNames(IID_NULL, &lower, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 12);
    LPOLESTR unknown = const_cast<LPOLESTR>(L"FireDrawer");
    EXPECT_EQ(so->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    UINT count = 0;
    EXPECT_EQ(so->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);

    IConnectionPointContainer* cpc = nullptr;
    ASSERT_EQ(so->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&cpc)), S_OK);
    IConnectionPoint* cp = reinterpret_cast<IConnectionPoint*>(&count);
    EXPECT_EQ(cpc->FindConnectionPoint(IID_IDispatch, &cp), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(cp, nullptr);
    IEnumConnectionPoints* en = nullptr;
    ASSERT_EQ(cpc->EnumConnectionPoints(&en), S_OK);
    IConnectionPoint* got = nullptr;
    ULONG fetched = 7;
    EXPECT_EQ(en->Next(1, &got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    en->Release();
    cpc->Release();

    // A broken client's null out-pointers, through the vtable.
    IZRNOPOSCDImpl* raw = nullptr;
    ASSERT_EQ(so->QueryInterface(IID_IZRNOPOSCDImpl, reinterpret_cast<void**>(&raw)), S_OK);
    EXPECT_EQ(raw->GetPropertyNumber(PIDX_ResultCode, nullptr), S_OK);
    EXPECT_EQ(raw->GetPropertyString(PIDX_ServiceObjectDescription, nullptr), S_OK);
    BSTR cls = SysAllocString(L"CashDrawer");
    BSTR name = SysAllocString(L"CD999");
    EXPECT_EQ(raw->OpenService(cls, name, nullptr, nullptr), S_OK);
    // COFreezeEvents and SetPropertyString change nothing, not even the result.
    LONG rc = 12345;
    EXPECT_EQ(raw->COFreezeEvents(VARIANT_TRUE, &rc), S_OK);
    EXPECT_EQ(rc, 12345);
    EXPECT_EQ(raw->SetPropertyString(PIDX_DeviceName, name), S_OK);
    EXPECT_EQ(c.result_code(), OPOS_E_FAILURE) << "the open ran, and nothing changed its result since";
    EXPECT_EQ(raw->DirectIO(0, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(raw->CloseService(nullptr), S_OK);
    SysFreeString(cls);
    SysFreeString(name);
    raw->Release();
}

// --- claims across processes --------------------------------------------------------

TEST_F(SoE2E, ClaimHeldByAnotherProcess) {
    EventReceiver co;
    ServiceClient c;
    ASSERT_TRUE(ready(c, &co, "CD926"));
    // The other process opens fine, is refused the claim and the enable.
    EXPECT_EQ(run_child("--child-probe CD926"), OPOS_E_CLAIMED * 1000 + OPOS_E_CLAIMED);
    c.set_number(PIDX_DeviceEnabled, 0);  // the port is exclusive too
    EXPECT_EQ(c.release(), 0);
    EXPECT_EQ(run_child("--child-probe CD926"), 0) << "claim and enable succeed after the release";
    EXPECT_EQ(c.close(), 0);
}

TEST_F(SoE2E, SimultaneousClaimsNeverBothSucceed) {
    constexpr int kChildren = 3;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        HANDLE ready_sem = CreateSemaphoreA(nullptr, 0, kChildren, "ZRNTestRaceReady");
        HANDLE tried_sem = CreateSemaphoreA(nullptr, 0, kChildren, "ZRNTestRaceTried");
        HANDLE go = CreateEventA(nullptr, TRUE, FALSE, "ZRNTestRaceGo");
        HANDLE done = CreateEventA(nullptr, TRUE, FALSE, "ZRNTestRaceDone");
        HANDLE kids[kChildren];
        for (HANDLE& k : kids) k = spawn_self("--child-race CD615");
        for (int i = 0; i < kChildren; ++i) EXPECT_EQ(WaitForSingleObject(ready_sem, 30000 * ZRN_TIME_FACTOR), WAIT_OBJECT_0);
        SetEvent(go);
        for (int i = 0; i < kChildren; ++i) EXPECT_EQ(WaitForSingleObject(tried_sem, 30000 * ZRN_TIME_FACTOR), WAIT_OBJECT_0);
        SetEvent(done);
        int winners = 0, refused = 0;
        for (HANDLE k : kids) {
            const int code = finish(k, 30000 * ZRN_TIME_FACTOR);
            winners += code == 0 ? 1 : 0;
            refused += code == OPOS_E_CLAIMED ? 1 : 0;
        }
        EXPECT_EQ(winners, 1);
        EXPECT_EQ(refused, kChildren - 1);
        for (HANDLE h : {ready_sem, tried_sem, go, done}) CloseHandle(h);
    }
}

// A till application killed while it holds the drawer, while this process
// keeps the table mapped: the next claim is had at once.
TEST_F(SoE2E, ClaimOfAKilledHolderEndsWithIt) {
    EventReceiver co;
    ServiceClient c;
    ASSERT_EQ(open_device(c, &co, "CD926"), 0);
    HANDLE holding = CreateEventA(nullptr, TRUE, FALSE, "ZRNTestHolding");
    HANDLE child = spawn_self("--child-hold CD926");
    ASSERT_NE(child, nullptr);
    ASSERT_EQ(WaitForSingleObject(holding, 30000 * ZRN_TIME_FACTOR), WAIT_OBJECT_0);
    EXPECT_EQ(c.claim(0), OPOS_E_CLAIMED) << "held by the child";
    ASSERT_TRUE(TerminateProcess(child, 9));
    ASSERT_EQ(WaitForSingleObject(child, 10000 * ZRN_TIME_FACTOR), WAIT_OBJECT_0);
    CloseHandle(child);
    EXPECT_EQ(run_child("--child-probe CD926"), 0) << "a new process claims and enables at once";
    EXPECT_EQ(c.claim(0), 0);
    EXPECT_EQ(c.close(), 0);
    CloseHandle(holding);
}

// The claim table's section and lock as the system holds them: read back,
// not only opened.
TEST_F(SoE2E, ClaimObjectsCarryTheirSecurity) {
    EventReceiver co;
    ServiceClient c;
    ASSERT_EQ(open_device(c, &co, "CD926"), 0);  // the module has made or joined them
    struct Expected {
        WELL_KNOWN_SID_TYPE who;
        DWORD mask;
    };
    auto sid = [](WELL_KNOWN_SID_TYPE type, std::vector<BYTE>* buf) {
        buf->assign(SECURITY_MAX_SID_SIZE, 0);
        DWORD size = SECURITY_MAX_SID_SIZE;
        return CreateWellKnownSid(type, nullptr, buf->data(), &size) ? static_cast<PSID>(buf->data()) : nullptr;
    };
    auto check = [&](HANDLE h, const char* what, DWORD full, DWORD user) {
        SCOPED_TRACE(what);
        ASSERT_NE(h, nullptr) << GetLastError();
        PACL dacl = nullptr, sacl = nullptr;
        PSECURITY_DESCRIPTOR sd = nullptr;
        ASSERT_EQ(GetSecurityInfo(h, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
                                  nullptr, nullptr, &dacl, &sacl, &sd),
                  ERROR_SUCCESS);
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        ASSERT_TRUE(GetSecurityDescriptorControl(sd, &control, &revision));
        EXPECT_TRUE(control & SE_DACL_PROTECTED) << "nothing inherited";
        ASSERT_NE(dacl, nullptr) << "a real DACL, not a null one";
        const Expected want[] = {{WinLocalSystemSid, full},
                                 {WinBuiltinAdministratorsSid, full},
                                 {WinAuthenticatedUserSid, user},
                                 {WinCreatorOwnerRightsSid, user}};
        EXPECT_EQ(dacl->AceCount, 4);
        for (WORD i = 0; i < dacl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE* ace = nullptr;
            ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
            ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE) << i;
            bool known = false;
            for (const Expected& e : want) {
                std::vector<BYTE> buf;
                if (!EqualSid(sid(e.who, &buf), &ace->SidStart)) continue;
                known = true;
                EXPECT_EQ(ace->Mask, e.mask) << "ACE " << i;
            }
            EXPECT_TRUE(known) << "ACE " << i << " for an unexpected account";
            // Only administrators and the system may change the security.
            if ((ace->Mask & (WRITE_DAC | WRITE_OWNER)) != 0) {
                std::vector<BYTE> a, b;
                EXPECT_TRUE(EqualSid(sid(WinLocalSystemSid, &a), &ace->SidStart) ||
                            EqualSid(sid(WinBuiltinAdministratorsSid, &b), &ace->SidStart))
                    << "ACE " << i;
            }
        }
        ASSERT_NE(sacl, nullptr) << "no integrity label";
        bool medium = false;
        for (WORD i = 0; i < sacl->AceCount; ++i) {
            ACE_HEADER* header = nullptr;
            ASSERT_TRUE(GetAce(sacl, i, reinterpret_cast<void**>(&header)));
            if (header->AceType != SYSTEM_MANDATORY_LABEL_ACE_TYPE) continue;
            auto* label = reinterpret_cast<SYSTEM_MANDATORY_LABEL_ACE*>(header);
            std::vector<BYTE> buf;
            medium = EqualSid(sid(WinMediumLabelSid, &buf), &label->SidStart) &&
                     label->Mask == SYSTEM_MANDATORY_LABEL_NO_WRITE_UP;
        }
        EXPECT_TRUE(medium) << "a medium label lets a standard process in";
        LocalFree(sd);
        CloseHandle(h);
    };
    auto open_section = [](DWORD access) {
        HANDLE h = OpenFileMappingA(access, FALSE, "Global\\ZRNOPOSCDClaimTable");
        return h ? h : OpenFileMappingA(access, FALSE, "ZRNOPOSCDClaimTable");
    };
    check(open_section(READ_CONTROL), "the table's section", SECTION_ALL_ACCESS, SECTION_MAP_READ | SECTION_MAP_WRITE);
    check(OpenMutexA(READ_CONTROL, FALSE, "Global\\ZRNOPOSCDClaimLock"), "the table's lock", MUTEX_ALL_ACCESS,
          SYNCHRONIZE | MUTEX_MODIFY_STATE);
    // What a till application asks for is granted.
    HANDLE map = open_section(FILE_MAP_READ | FILE_MAP_WRITE);
    EXPECT_NE(map, nullptr);
    if (map) CloseHandle(map);
    EXPECT_EQ(c.close(), 0);
}

// --- trace levels -----------------------------------------------------------------

void open_and_close(const char* name) {
    EventReceiver co;
    ServiceClient c;
    EXPECT_EQ(open_device(c, &co, name), 0);
    EXPECT_EQ(c.close(), 0);
}

TEST_F(SoE2E, TraceEnabledLevelsInTheDailyFile) {
    settings(0);
    std::size_t from = trace_text().size();
    open_and_close("CD926");
    std::string t = trace_text().substr(from);
    EXPECT_EQ(t.find("ZRNOPOS_"), std::string::npos) << t;
    EXPECT_EQ(t.find("OpenService"), std::string::npos) << t;

    settings(2);
    from = trace_text().size();
    open_and_close("CD926");
    t = trace_text().substr(from);
    EXPECT_NE(t.find("ZRNOPOS_Initialization"), std::string::npos) << t;
    EXPECT_NE(t.find("ZRNOPOS_Termination"), std::string::npos) << t;
    EXPECT_EQ(t.find("> OpenService"), std::string::npos) << t;
    EXPECT_EQ(t.find("Loaded"), std::string::npos) << t;

    settings(1);
    from = trace_text().size();
    open_and_close("CD926");
    t = trace_text().substr(from);
    for (const char* line : {"ZRNOPOS_Initialization", "ZRNOPOS_PortDrawerSO.DLL: Loaded",
                             "ZRNOPOS_USB730SO.DLL: Loaded", "> OpenService=CD926", "< OpenService=0",
                             "> CloseService", "< CloseService=0", "ZRNOPOS_Termination"})
        EXPECT_NE(t.find(line), std::string::npos) << line << " in\n" << t;
    EXPECT_LT(t.find("> OpenService=CD926"), t.find("< CloseService=0"));
}

// --- child modes ------------------------------------------------------------------

// Opens the device, tries the claim and the enable; exit code
// claim * 1000 + enable's ResultCode, or 1 when the open failed.
int child_probe(const std::string& name) {
    EventReceiver co;
    ServiceClient c;
    if (open_device(c, &co, name) != 0) return 1;
    const std::int32_t claim = c.claim(0);
    c.set_number(PIDX_DeviceEnabled, 1);
    const std::int32_t enable = c.result_code();
    c.close();
    return claim * 1000 + enable;
}

// Opens, waits for the start signal, claims at the same moment as the other
// children, holds the claim until all have tried; exit code: the claim's.
int child_race(const std::string& name) {
    HANDLE ready_sem = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, "ZRNTestRaceReady");
    HANDLE tried_sem = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, "ZRNTestRaceTried");
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, "ZRNTestRaceGo");
    HANDLE done = OpenEventA(SYNCHRONIZE, FALSE, "ZRNTestRaceDone");
    if (!ready_sem || !tried_sem || !go || !done) return 2;
    EventReceiver co;
    ServiceClient c;
    if (open_device(c, &co, name) != 0) return 1;
    ReleaseSemaphore(ready_sem, 1, nullptr);
    WaitForSingleObject(go, 30000 * ZRN_TIME_FACTOR);
    const std::int32_t claim = c.claim(0);
    ReleaseSemaphore(tried_sem, 1, nullptr);
    WaitForSingleObject(done, 30000 * ZRN_TIME_FACTOR);
    c.close();
    return claim;
}

// Opens and claims the device, says so, then waits to be killed.
int child_hold(const std::string& name) {
    HANDLE holding = OpenEventA(EVENT_MODIFY_STATE, FALSE, "ZRNTestHolding");
    if (!holding) return 2;
    EventReceiver co;
    ServiceClient c;
    if (open_device(c, &co, name) != 0) return 1;
    if (c.claim(0) != 0) return 3;
    SetEvent(holding);
    Sleep(60000 * ZRN_TIME_FACTOR);
    return 4;
}

// Without drivers nothing pins the module: once the last object is gone
// COM may unload it, and the next creation loads it afresh. Exit 0 when
// every round unloaded the module and the next one worked again.
int child_unload(const std::string& name) {
    for (int round = 0; round < 20; ++round) {
        {
            EventReceiver co;
            ServiceClient c;
            if (open_device(c, &co, name) != OPOS_E_NOSERVICE) return 3;
            EventReceiver co2;
            ServiceClient second;
            if (open_device(second, &co2, name) != OPOS_E_NOSERVICE) return 3;
        }
        // No delay: nothing of the module runs any more once both are released.
        CoFreeUnusedLibrariesEx(0, 0);
        if (GetModuleHandleA("ZRNOPOSCD.dll")) return 4;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3) {
        const std::string mode = argv[1];
        if (mode == "--child-probe" || mode == "--child-race" || mode == "--child-unload" || mode == "--child-hold") {
            if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 3;
            const int code = mode == "--child-probe"  ? child_probe(argv[2])
                             : mode == "--child-race" ? child_race(argv[2])
                             : mode == "--child-hold" ? child_hold(argv[2])
                                                      : child_unload(argv[2]);
            CoUninitialize();
            return code;
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ComEnvironment);
    return RUN_ALL_TESTS();
}
