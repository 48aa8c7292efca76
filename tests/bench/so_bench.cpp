// Benchmark of the stack under Wine with the simulated drivers: status
// latency, the time OpenDrawer takes beyond its designed waits, and the CPU
// an idle device costs. Each figure is printed next to its floor.
#include <cstdio>
#include <string>
#include <vector>

#include "serial_block.h"
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

void status_latency(int units) {
    reset_hardware();
    Arrivals arrivals;
    client::EventReceiver co;
    co.set_handler([&](const client::Event& e) {
        if (e.kind != client::Event::StatusUpdate || e.value < 0 || e.value > 1) return;
        std::lock_guard lock(arrivals.mu);
        arrivals.at[e.value] = now_ms();
    });
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
            {
                std::lock_guard lock(arrivals.mu);
                arrivals.at[value] = 0;
            }
            const double start = now_ms();
            set_modem(2, value == 1 ? 0 : kMsCts);
            double got = 0;
            while (got == 0 && now_ms() - start < 5000) {
                Sleep(1);
                std::lock_guard lock(arrivals.mu);
                got = arrivals.at[value];
            }
            if (got > 0) s.add(got - start);
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

// CPU of the whole process over ten seconds, in percent of one core.
double cpu_over_10s() {
    const double cpu0 = cpu_ms(), wall0 = now_ms();
    Sleep(10000);
    return (cpu_ms() - cpu0) * 100.0 / (now_ms() - wall0);
}

}  // namespace

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
    CoUninitialize();
    return 0;
}
