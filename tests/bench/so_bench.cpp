// Benchmark of the stack under Wine with the simulated drivers: status
// latency, the time OpenDrawer takes beyond its designed waits, and the CPU
// an idle device costs; under tests/hid/hid_drawer.py (the test VM) also the
// shipped USB driver on a HID drawer. Each figure is printed next to its floor.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "hid_drawer.h"
#include "serial_block.h"
#include "zrn/cfg/document.h"
#include "zrn/json.h"
#include "so_env.h"
#include "zrn/callconv.h"
#include "zrn/modem_status.h"
#include "zrn/param_block.h"
#include "zrn/text.h"

using namespace zrn;
using namespace zrn::e2e;

namespace {

constexpr int kPollStepMs = 20;  // the poll thread's wait before each unit

double now_ms() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(freq.QuadPart);
}

double cpu_ms() {
    FILETIME create, exit, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &create, &exit, &kernel, &user);
    auto ms = [](const FILETIME& f) {
        return static_cast<double>((static_cast<std::uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

void row(const char* what, double figure, double floor, const char* unit, const char* bound = "floor") {
    if (floor > 0)
        std::printf("  %-48s %9.2f %-3s  %s %7.1f  ratio %5.2f\n", what, figure, unit, bound, floor, figure / floor);
    else
        std::printf("  %-48s %9.2f %-3s  %s %7.1f\n", what, figure, unit, bound, floor);
}

struct Stats {
    double min = 1e18, max = 0, sum = 0;
    int n = 0;
    void add(double v) {
        min = v < min ? v : min;
        max = v > max ? v : max;
        sum += v;
        ++n;
    }
    double mean() const { return n ? sum / n : 0; }
};

// Further smart-serial units on COM2, opened on the port driver directly
// (the Service Object drives a single drawer per process).
class ExtraUnits {
public:
    explicit ExtraUnits(int count) {
        lib_ = LoadLibraryA((sim_dir() + "\\PortDrawerSO.DLL").c_str());
        open_ = reinterpret_cast<Open>(reinterpret_cast<void*>(GetProcAddress(lib_, "OpenCom")));
        close_ = reinterpret_cast<Close>(reinterpret_cast<void*>(GetProcAddress(lib_, "CloseCom")));
        blocks_.resize(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            DriverParamBlock& b = blocks_[static_cast<std::size_t>(i)];
            b = zrn::testing::port_block("CD347-" + std::to_string(i + 2), kDeviceIdSmartSerial, 2);
            if (open_) open_(&b, i + 1);
        }
    }
    ~ExtraUnits() {
        for (auto& b : blocks_)
            if (close_) close_(&b);
    }

private:
    using Open = std::uint8_t(ZRN_STDCALL*)(DriverParamBlock*, std::int32_t);
    using Close = std::int32_t(ZRN_STDCALL*)(DriverParamBlock*);
    HMODULE lib_ = nullptr;
    Open open_ = nullptr;
    Close close_ = nullptr;
    std::vector<DriverParamBlock> blocks_;
};

// Time of the last StatusUpdate with each value, taken on delivery.
struct Arrivals {
    std::mutex mu;
    double at[2] = {0, 0};
};

// Notes when the StatusUpdate of a closed (0) and an open (1) drawer arrives.
void record_arrivals(client::EventReceiver& co, Arrivals& arrivals) {
    co.set_handler([&arrivals](const client::Event& e) {
        if (e.kind != client::Event::StatusUpdate || e.value < 0 || e.value > 1) return;
        std::lock_guard lock(arrivals.mu);
        arrivals.at[e.value] = now_ms();
    });
}

// How long after change() the StatusUpdate of value arrives; -1 when none
// comes within 5 s.
double time_arrival(Arrivals& arrivals, int value, const std::function<void()>& change) {
    {
        std::lock_guard lock(arrivals.mu);
        arrivals.at[value] = 0;
    }
    const double start = now_ms();
    change();
    double got = 0;
    while (got == 0 && now_ms() - start < 5000) {
        Sleep(1);
        std::lock_guard lock(arrivals.mu);
        got = arrivals.at[value];
    }
    return got > 0 ? got - start : -1;
}

void status_latency(int units) {
    reset_hardware();
    Arrivals arrivals;
    client::EventReceiver co;
    record_arrivals(co, arrivals);
    client::ServiceClient c;
    if (!ready(c, &co, "CD347")) {
        std::printf("  %d units: the device cannot be enabled\n", units);
        return;
    }
    {
        ExtraUnits extra(units - 1);
        Sleep(static_cast<DWORD>(units * kPollStepMs * 2 + 200));  // the first reports settle
        Stats s;
        for (int trial = 0; trial < 12; ++trial) {
            const int value = trial % 2 == 0 ? 1 : 0;
            const double latency = time_arrival(arrivals, value, [&] { set_modem(2, value == 1 ? 0 : kMsCts); });
            if (latency >= 0) s.add(latency);
            // A random phase against the sweep for the next trial.
            Sleep(static_cast<DWORD>(37 + trial * 13 % (units * kPollStepMs)));
        }
        char what[96];
        std::snprintf(what, sizeof what, "status latency, %2d unit(s), mean of %d", units, s.n);
        row(what, s.mean(), units * kPollStepMs, "ms");
        std::snprintf(what, sizeof what, "status latency, %2d unit(s), worst", units);
        row(what, s.max, units * kPollStepMs, "ms");
        co.set_handler(nullptr);
        c.set_number(PIDX_DeviceEnabled, 0);
    }
    c.close();
}

void open_drawer_time(const char* device, double designed, const char* label) {
    reset_hardware();
    client::EventReceiver co;
    client::ServiceClient c;
    if (!ready(c, &co, device)) {
        std::printf("  %s: the device cannot be enabled\n", device);
        return;
    }
    Sleep(300);
    Stats s;
    for (int i = 0; i < 6; ++i) {
        if (std::string(device) == "CD730") set_usb_drawer(2);
        Sleep(150);
        const double start = now_ms();
        const std::int32_t rc = c.open_drawer();
        const double took = now_ms() - start;
        if (rc == 0) s.add(took);
    }
    char what[96];
    std::snprintf(what, sizeof what, "OpenDrawer %s, best of %d", label, s.n);
    row(what, s.min, designed, "ms");
    std::snprintf(what, sizeof what, "OpenDrawer %s, mean", label);
    row(what, s.mean(), designed, "ms");
    std::snprintf(what, sizeof what, "OpenDrawer %s, beyond the designed waits", label);
    row(what, s.min - designed, 10, "ms", "limit");
    c.set_number(PIDX_DeviceEnabled, 0);
    c.close();
}

// The shipped drivers on a HID drawer of the test VM: OpenDrawer against
// the same designed waits as the simulated USB drawer, and the latency from
// the drawer's report (the moment the drawer program is told to send it,
// a loopback round trip before the kernel has it) to the StatusUpdate event.
void hid_drawer_rows(double designed) {
    HidDrawers hid;
    if (!hid.add("bench") || !hid.shown({"bench"})) {
        std::printf("  the HID drawer is not seen: %s\n", hid.last().c_str());
        return;
    }
    settings(0, client::windows_path(ZRN_DIST_DIR));
    Arrivals arrivals;
    client::EventReceiver co;
    record_arrivals(co, arrivals);
    client::ServiceClient c;
    if (!ready(c, &co, "CD730")) {
        std::printf("  CD730 on the HID drawer cannot be enabled\n");
        settings(0);
        return;
    }
    Sleep(300);
    Stats fire;
    for (int i = 0; i < 6; ++i) {
        hid.cmd("state bench 2");
        Sleep(150);
        const double start = now_ms();
        const std::int32_t rc = c.open_drawer();
        const double took = now_ms() - start;
        if (rc == 0) fire.add(took);
    }
    row("OpenDrawer USB on a HID drawer, best", fire.min, designed, "ms");
    row("OpenDrawer USB on a HID drawer, mean", fire.mean(), designed, "ms");

    hid.cmd("state bench 2");
    Sleep(500);
    Stats s;
    for (int trial = 0; trial < 12; ++trial) {
        const int value = trial % 2 == 0 ? 1 : 0;
        const double latency =
            time_arrival(arrivals, value, [&] { hid.cmd(value == 1 ? "state bench 1" : "state bench 2"); });
        if (latency >= 0) s.add(latency);
        Sleep(static_cast<DWORD>(50 + trial * 13 % 40));
    }
    char what[96];
    // No designed wait: the status thread sits in a read (DCSDelay 0).
    std::snprintf(what, sizeof what, "status latency, HID drawer, mean of %d", s.n);
    row(what, s.mean(), 0, "ms");
    row("status latency, HID drawer, worst", s.max, 0, "ms");
    co.set_handler(nullptr);
    c.set_number(PIDX_DeviceEnabled, 0);
    c.close();
    settings(0);
}

// CPU of the whole process over ten seconds, in percent of one core.
double cpu_over_10s() {
    const double cpu0 = cpu_ms(), wall0 = now_ms();
    Sleep(10000);
    return (cpu_ms() - cpu0) * 100.0 / (now_ms() - wall0);
}

}  // namespace

// A document of 4 MiB: two drawers and 40,000 logical names, parsed and
// checked whole, best of three.
void document_check_time() {
    std::string names;
    for (int i = 0; i < 40000; ++i)
        names += std::string(i ? "," : "") + "{\"name\":\"Till" + std::to_string(i) + std::string(80, 'x') +
                 "\",\"device\":\"" + (i % 2 ? "CD926" : "CD347") + "\"}";
    const std::string doc = R"({"schema":"zrn-opos-cashdrawer-configuration","version":1,"devices":[{"key":"CD926"},)"
                            R"({"key":"CD347","Port":2}],"logicalNames":[)" + names + "]}";
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        const double start = now_ms();
        json::Value value;
        std::string error;
        cfg::Configuration conf;
        std::vector<std::string> errors;
        if (!json::parse(doc, &value, &error) || !cfg::from_json(value, &conf, &errors)) {
            std::printf("  the document was refused: %s\n", error.empty() ? errors.front().c_str() : error.c_str());
            return;
        }
        best = std::min(best, now_ms() - start);
    }
    char what[64];
    std::snprintf(what, sizeof what, "%.1f MiB document parsed and checked, best of 3",
                  static_cast<double>(doc.size()) / (1024.0 * 1024.0));
    row(what, best, 1000, "ms", "limit");
}

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 3;
    settings(0);
    write_devices();
    for (int i = 3; i <= 10; ++i)
        so::testing::write_device(registry(), "CD347-" + std::to_string(i), kDeviceIdSmartSerial, 2);
    std::printf("Benchmark: Service Object with the simulated drivers, under Wine\n");

    std::printf("Status latency (modem-line change to SOStatusUpdate); floor: one sweep, 20 ms per unit\n");
    for (int units : {1, 4, 10}) status_latency(units);

    std::printf("OpenDrawer; floor: the designed waits\n");
    // Serial: the 5 ms pause request, one 100 ms handshake check, 100 ms after the write.
    open_drawer_time("CD926", 5 + 100 + 100, "serial  ");
    // Parallel: 50 ms between closing and reopening the port.
    open_drawer_time("CD615", 50, "parallel");
    // USB: 500 ms before the opening report, one 200 ms verification step,
    // 200 ms after the command.
    open_drawer_time("CD730", 500 + 200 + 200, "USB     ");

    std::printf("CPU over 10 s, percent of one core\n");
    {
        client::EventReceiver co;
        client::ServiceClient c;
        open_device(c, &co, "CD926");  // both drivers loaded, nothing enabled
        row("drivers loaded, no device enabled", cpu_over_10s(), 0, "%", "expected");
        c.close();
    }
    {
        reset_hardware();
        client::EventReceiver co;
        client::ServiceClient c;
        if (ready(c, &co, "CD347")) {
            ExtraUnits extra(9);
            row("serial poll thread, 10 units enabled", cpu_over_10s(), 1, "%", "limit");
            c.set_number(PIDX_DeviceEnabled, 0);
        }
        c.close();
    }
    {
        reset_hardware();
        client::EventReceiver co;
        client::ServiceClient c;
        if (ready(c, &co, "CD730")) {
            row("USB status thread, device enabled", cpu_over_10s(), 0, "%", "expected");
            c.set_number(PIDX_DeviceEnabled, 0);
        }
        c.close();
    }

    std::printf("Configuration document, as zrncd config import reads it; limit: about a second\n");
    document_check_time();
    if (std::getenv("ZRN_HID_DRAWER")) {
        std::printf("The shipped USB driver on a HID drawer (/dev/uhid); floor: as above, none for the status\n");
        hid_drawer_rows(500 + 200 + 200);
    }
    CoUninitialize();
    return 0;
}
