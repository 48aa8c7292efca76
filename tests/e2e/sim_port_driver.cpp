// The simulated PortDrawerSO.DLL under Wine, driven through the shared
// simulator block as a test or the drawersim program would: the real poll
// thread reports drawer changes, PutCom's bytes land in the block, a port
// made to fail does not open. Exit 0 when every check held.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "proc.h"
#include "sim_win32.h"
#include "zrn/callconv.h"
#include "zrn/param_block.h"
#include "zrn/status_callback.h"
#include "zrn/text.h"

using namespace zrn::e2e;

namespace {

using OpenCom = std::uint8_t(ZRN_STDCALL*)(zrn::DriverParamBlock*, std::int32_t);
using PutCom = std::uint8_t(ZRN_STDCALL*)(zrn::DriverParamBlock*, const char*);
using CloseCom = std::uint8_t(ZRN_STDCALL*)(zrn::DriverParamBlock*);
using Capture = std::int32_t(ZRN_STDCALL*)(std::int32_t, zrn::StatusCaptureCallback);

Reports g_reports;

void ZRN_STDCALL on_report(const char* name, std::int32_t value) {
    g_reports.add(name, value);
}

// The driver polls every 20 ms.
bool wait_report(const std::string& name, int value) {
    return g_reports.wait([&](const auto& items) {
        for (const auto& r : items)
            if (r.first == name && r.second == value) return true;
        return false;
    }, 5000ull * ZRN_TIME_FACTOR);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    zrn::sim::SimState* sim = zrn::sim::shared_state();
    if (!sim) return 3;
    sim->com[1].modem = 0x10;  // drawer on COM2 closed (CTS)
    sim->com[2].fail_open = 1;
    HMODULE lib = LoadLibraryA(argv[1]);
    if (!lib) return 4;
    auto open = proc<OpenCom>(lib, "OpenCom");
    auto put = proc<PutCom>(lib, "PutCom");
    auto close = proc<CloseCom>(lib, "CloseCom");
    auto capture = proc<Capture>(lib, "StartStatusCCapture");
    if (!open || !put || !close || !capture) return 5;
    capture(1, on_report);

    zrn::DriverParamBlock b;
    std::memset(&b, 0, sizeof b);
    zrn::copy_field(b.Device.DeviceName, "CD347");
    b.Device.DeviceID = 1;
    b.Device.Port = 2;
    b.Device.BaudRate = 5;
    b.Device.DataBitLen = 8;
    b.Device.StopBits = 1;
    E2E_CHECK(open(&b, 0) == 1, "OpenCom CD347 on simulated COM2");
    E2E_CHECK(sim->com[1].open == 1 && sim->com[1].baud == 9600, "port open with its settings");
    E2E_CHECK(wait_report("CD347", 0), "first poll reports the closed drawer");
    sim->com[1].modem = 0;
    E2E_CHECK(wait_report("CD347", 1), "opening the drawer is reported");
    const std::uint32_t before = sim->com[1].written_total;
    E2E_CHECK(put(&b, "\x1b\x70") == 1, "PutCom with the poll thread paused");
    E2E_CHECK(sim->com[1].written_total == before + 2 && sim->com[1].written[before] == 0x1b, "bytes recorded");

    zrn::DriverParamBlock c = b;
    zrn::copy_field(c.Device.DeviceName, "CD347-2");
    c.Device.Port = 3;
    c.PortHandle = 0;
    E2E_CHECK(open(&c, 1) == 0 && c.PortHandle == -1, "a port made to fail does not open");
    E2E_CHECK(close(&b) == 1 && sim->com[1].open == 0, "CloseCom closes the simulated port");
    sim->com[2].fail_open = 0;
    return checks_done();
}
