// drawersim.exe under Wine, run as a separate process the way a technician
// or a script runs it, its effect checked in the shared simulator block:
// changes are refused while nothing holds the block, `hold` keeps it alive
// between commands until `release`, units of a shared port show on its
// modem lines, unplugging wakes the USB driver, received bytes are shown and
// reset. Exit 0 when every check held.
#include <windows.h>

#include <cstdio>
#include <string>

#include "opos_client.h"
#include "proc.h"
#include "sim_win32.h"

using namespace zrn::e2e;

namespace {

std::string g_exe;

struct Result {
    int code = 999;
    std::string out, err;
};

std::string without_cr(std::string s) {
    std::string out;
    for (char c : s)
        if (c != '\r') out += c;
    return out;
}

Result run(const std::string& args) {
    Result r;
    Child child = start(g_exe, args, Output::Separate);
    if (!child.process) return r;
    r.out = without_cr(read_all(child.out));
    r.err = without_cr(read_all(child.err));
    r.code = finish(child.process, 30000 * ZRN_TIME_FACTOR);
    std::printf("  drawersim %s -> %d\n", args.c_str(), r.code);
    return r;
}

bool block_exists() {
    HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, zrn::sim::kSimMappingName);
    if (h) CloseHandle(h);
    return h != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    g_exe = zrn::client::windows_path(argv[1]);

    // Nothing holds the block: reading works, changing is refused and leaves nothing.
    E2E_CHECK(!block_exists(), "no block before the test");
    Result r = run("status --json");
    E2E_CHECK(r.code == 0 && r.out.rfind("{\"kind\":\"block\",\"held\":false}\n", 0) == 0, "status says not held");
    r = run("fail-open COM3 on");
    E2E_CHECK(r.code == 1 && has(r.err, "drawersim hold"), "a change with no holder is refused, naming hold");
    E2E_CHECK(!block_exists(), "the block ended with drawersim");
    r = run("open COM7");
    E2E_CHECK(r.code == 2 && has(r.err, "COM7"), "bad input: exit 2, the culprit named");

    // hold keeps the block between separate drawersim runs.
    Child hold = start(g_exe, "hold", Output::Separate);
    std::string said;
    char c = 0;
    DWORD n = 0;
    while (!has(said, "\n") && ReadFile(hold.out, &c, 1, &n, nullptr) && n == 1) said += c;
    E2E_CHECK(hold.process && has(said, "holding"), "hold says it holds the block");
    E2E_CHECK(run("close COM2 --unit 2 --sense ri").code == 0, "close unit 2 of COM2 on RI");
    E2E_CHECK(run("open COM2").code == 0, "open unit 1 of COM2");
    E2E_CHECK(run("fail-open LPT1 on").code == 0, "make LPT1 fail");

    zrn::sim::SimState* sim = zrn::sim::shared_state();
    if (!sim) {
        run("release");  // no hold outlives the test
        return 3;
    }
    E2E_CHECK(zrn::sim::shared_state_held_elsewhere(), "the block outlived those runs");
    E2E_CHECK(sim->com[1].modem == 0x40, "COM2 shows RI: unit 1 open, unit 2 closed");
    E2E_CHECK(sim->com_units[1][1].sense == 0x40 && sim->com_units[1][1].closed == 1, "unit 2 recorded in the block");
    E2E_CHECK(sim->lpt[0].fail_open == 1, "LPT1 fails to open");

    // Unplugging wakes a simulated USB driver waiting for a report.
    HANDLE report = CreateEventA(nullptr, FALSE, FALSE, zrn::sim::kSimUsbEventName);
    const std::uint32_t seq = sim->usb.seq;
    r = run("unplug --json");
    E2E_CHECK(r.code == 0 && has(r.out, "\"present\":false"), "unplug shows the USB state");
    E2E_CHECK(sim->usb.present == 0 && sim->usb.seq == seq + 1, "unplugged, one report counted");
    E2E_CHECK(WaitForSingleObject(report, 0) == WAIT_OBJECT_0, "the report event was signalled");

    // Bytes a driver wrote, shown and reset.
    zrn::sim::SimSerialPorts ports(sim, zrn::sim::shared_lock());
    const zrn::portdrv::PortHandle h = ports.open("COM1");
    std::size_t written = 0;
    E2E_CHECK(ports.write(h, "\x1b\x70\x07", 3, &written), "write to simulated COM1");
    ports.close(h);
    r = run("received COM1 --reset --json");
    E2E_CHECK(
        r.code == 0 && r.out ==
                           "{\"kind\":\"received\",\"port\":\"COM1\",\"received\":3,\"kept\":3,\"hex\":\"1b7007\","
                           "\"reset\":true}\n",
        "received shows count and hex");
    E2E_CHECK(sim->com[0].written_total == 0, "and reset them");
    r = run("status --json");
    E2E_CHECK(
        r.code == 0 && has(r.out, "{\"kind\":\"block\",\"held\":true}") && has(r.out, "\"port\":\"COM2\",\"modem\":64"),
        "status shows the held block");

    // release ends the hold; this program still holds the block.
    E2E_CHECK(run("release").code == 0, "release");
    E2E_CHECK(finish(hold.process, 30000 * ZRN_TIME_FACTOR) == 0, "the hold ended cleanly");
    for (HANDLE h : {hold.out, hold.err})
        if (h) CloseHandle(h);
    E2E_CHECK(run("release").code == 1, "a second release finds no hold");
    E2E_CHECK(run("replug").code == 0 && sim->usb.present == 1, "another holder is enough: replugged");
    sim->lpt[0].fail_open = 0;
    return checks_done();
}
