// drawersim.exe under Wine, run as a separate process the way a technician
// or a script runs it, its effect checked in the shared simulator block:
// changes are refused while nothing holds the block, `hold` keeps it alive
// between commands until `release`, units of a shared port show on its
// modem lines, unplugging wakes the USB driver, received bytes are shown and
// reset. Exit 0 when every check held.
#include <windows.h>

#include <cstdio>
#include <string>

#include "proc.h"
#include "sim_win32.h"

namespace {

std::string g_exe;

struct Result {
    DWORD code = 999;
    std::string out, err;
};

HANDLE inheritable_pipe(HANDLE* read_end) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE write_end = nullptr;
    if (!CreatePipe(read_end, &write_end, &sa, 0)) return nullptr;
    SetHandleInformation(*read_end, HANDLE_FLAG_INHERIT, 0);
    return write_end;
}

std::string read_all(HANDLE h) {
    std::string s;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) s.append(buf, n);
    return s;
}

std::string without_cr(std::string s) {
    std::string out;
    for (char c : s)
        if (c != '\r') out += c;
    return out;
}

// Starts drawersim with args, its output into pipes whose read ends it returns.
PROCESS_INFORMATION start(const std::string& args, HANDLE* out, HANDLE* err) {
    PROCESS_INFORMATION pi{};
    HANDLE out_w = inheritable_pipe(out), err_w = inheritable_pipe(err);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out_w;
    si.hStdError = err_w;
    std::string line = "\"" + g_exe + "\" " + args;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) pi = {};
    CloseHandle(out_w);
    CloseHandle(err_w);
    return pi;
}

Result run(const std::string& args) {
    Result r;
    HANDLE out = nullptr, err = nullptr;
    PROCESS_INFORMATION pi = start(args, &out, &err);
    if (!pi.hProcess) return r;
    r.out = without_cr(read_all(out));
    r.err = without_cr(read_all(err));
    if (WaitForSingleObject(pi.hProcess, 30000 * ZRN_TIME_FACTOR) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &r.code);
    for (HANDLE h : {out, err, pi.hProcess, pi.hThread}) CloseHandle(h);
    std::printf("  drawersim %s -> %lu\n", args.c_str(), r.code);
    return r;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

bool block_exists() {
    HANDLE h = OpenFileMappingA(FILE_MAP_READ, FALSE, zrn::sim::kSimMappingName);
    if (h) CloseHandle(h);
    return h != nullptr;
}

// A Unix path from CTest as a Windows one (Z: is the root).
std::string windows_path(std::string p) {
    for (char& c : p)
        if (c == '/') c = '\\';
    return p.size() > 1 && p[0] == '\\' ? "Z:" + p : p;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    g_exe = windows_path(argv[1]);

    // Nothing holds the block: reading works, changing is refused and leaves nothing.
    check(!block_exists(), "no block before the test");
    Result r = run("status --json");
    check(r.code == 0 && r.out.rfind("{\"kind\":\"block\",\"held\":false}\n", 0) == 0, "status says not held");
    r = run("fail-open COM3 on");
    check(r.code == 1 && has(r.err, "drawersim hold"), "a change with no holder is refused, naming hold");
    check(!block_exists(), "the block ended with drawersim");
    r = run("open COM7");
    check(r.code == 2 && has(r.err, "COM7"), "bad input: exit 2, the culprit named");

    // hold keeps the block between separate drawersim runs.
    HANDLE hold_out = nullptr, hold_err = nullptr;
    PROCESS_INFORMATION hold = start("hold", &hold_out, &hold_err);
    std::string said;
    char c = 0;
    DWORD n = 0;
    while (!has(said, "\n") && ReadFile(hold_out, &c, 1, &n, nullptr) && n == 1) said += c;
    check(hold.hProcess && has(said, "holding"), "hold says it holds the block");
    check(run("close COM2 --unit 2 --sense ri").code == 0, "close unit 2 of COM2 on RI");
    check(run("open COM2").code == 0, "open unit 1 of COM2");
    check(run("fail-open LPT1 on").code == 0, "make LPT1 fail");

    zrn::sim::SimState* sim = zrn::sim::shared_state();
    if (!sim) {
        run("release");  // no hold outlives the test
        return 3;
    }
    check(zrn::sim::shared_state_held_elsewhere(), "the block outlived those runs");
    check(sim->com[1].modem == 0x40, "COM2 shows RI: unit 1 open, unit 2 closed");
    check(sim->com_units[1][1].sense == 0x40 && sim->com_units[1][1].closed == 1, "unit 2 recorded in the block");
    check(sim->lpt[0].fail_open == 1, "LPT1 fails to open");

    // Unplugging wakes a simulated USB driver waiting for a report.
    HANDLE report = CreateEventA(nullptr, FALSE, FALSE, zrn::sim::kSimUsbEventName);
    const std::uint32_t seq = sim->usb.seq;
    r = run("unplug --json");
    check(r.code == 0 && has(r.out, "\"present\":false"), "unplug shows the USB state");
    check(sim->usb.present == 0 && sim->usb.seq == seq + 1, "unplugged, one report counted");
    check(WaitForSingleObject(report, 0) == WAIT_OBJECT_0, "the report event was signalled");

    // Bytes a driver wrote, shown and reset.
    zrn::sim::SimSerialPorts ports(sim, zrn::sim::shared_lock());
    const zrn::portdrv::PortHandle h = ports.open("COM1");
    std::size_t written = 0;
    check(ports.write(h, "\x1b\x70\x07", 3, &written), "write to simulated COM1");
    ports.close(h);
    r = run("received COM1 --reset --json");
    check(r.code == 0 && r.out ==
                             "{\"kind\":\"received\",\"port\":\"COM1\",\"received\":3,\"kept\":3,\"hex\":\"1b7007\","
                             "\"reset\":true}\n",
          "received shows count and hex");
    check(sim->com[0].written_total == 0, "and reset them");
    r = run("status --json");
    check(
        r.code == 0 && has(r.out, "{\"kind\":\"block\",\"held\":true}") && has(r.out, "\"port\":\"COM2\",\"modem\":64"),
        "status shows the held block");

    // release ends the hold; this program still holds the block.
    check(run("release").code == 0, "release");
    DWORD hold_code = 999;
    if (hold.hProcess && WaitForSingleObject(hold.hProcess, 30000 * ZRN_TIME_FACTOR) == WAIT_OBJECT_0)
        GetExitCodeProcess(hold.hProcess, &hold_code);
    check(hold_code == 0, "the hold ended cleanly");
    check(run("release").code == 1, "a second release finds no hold");
    check(run("replug").code == 0 && sim->usb.present == 1, "another holder is enough: replugged");
    sim->lpt[0].fail_open = 0;
    std::printf("%d failed\n", failures());
    return failures() ? 1 : 0;
}
