// Every text drawersim prints: the state of ports, units and the USB drawer
// as lines for a person or as one JSON object per line, and the help.
#include <cstdio>
#include <cstring>

#include "drawersim_detail.h"
#include "zrn/json.h"

namespace zrn::drawersim {

namespace {

using detail::attached;
using detail::kLineNames;
using detail::LineName;
using detail::sense_of;
using detail::target_name;
using json::Value;
using sim::SimPort;
using sim::SimState;
using sim::SimUnit;

std::string hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02x", v);
    return buf;
}

// The block's counters are 32-bit, signed or not; JSON holds both.
Value num(std::int64_t v) {
    return Value(v);
}

std::string json_line(const Value& v) {
    return json::dump(v) + "\n";
}

std::string count_text(long long n, const char* thing) {
    return std::to_string(n) + " " + thing + (n == 1 ? "" : "s");
}

const char* on_off(std::int32_t v) {
    return v ? "on" : "off";
}

const char* drawer_text(bool closed) {
    return closed ? "closed" : "open";
}

const char* usb_drawer_text(std::int32_t state) {
    switch (state) {
        case 1:
            return "open";
        case 2:
            return "closed";
        default:
            return "unknown";
    }
}

std::string control_text(std::int32_t v, bool rts) {
    switch (v) {
        case 0:
            return "off";
        case 1:
            return "on";
        case 2:
            return "handshake";
        case 3:
            if (rts) return "toggle";
            [[fallthrough]];
        default:
            return std::to_string(v);
    }
}

std::string xonxoff_text(const SimPort& p) {
    if (p.out_x && p.in_x) return "both";
    if (p.out_x) return "out";
    if (p.in_x) return "in";
    return "off";
}

std::string framing_text(const SimPort& p) {
    static constexpr char kParity[] = {'N', 'O', 'E'};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d %d%c%d", static_cast<int>(p.baud), static_cast<int>(p.data_bits),
                  p.parity >= 0 && p.parity <= 2 ? kParity[p.parity] : '?', static_cast<int>(p.stop_bits));
    return buf;
}

std::string open_text(const SimPort& p) {
    return std::string(p.open ? "port open" : "port closed") + ", opened " + count_text(p.opens, "time");
}

Value units_json(const SimUnit* units) {
    Value out = Value::array();
    for (int i = 0; i < sim::kSimUnits; ++i) {
        if (!attached(units[i])) continue;
        Value unit = Value::object();
        unit.set("unit", num(i + 1));
        unit.set("drawer", drawer_text(units[i].closed));
        unit.set("sense", num(sense_of(units[i])));
        unit.set("sense_lines", lines_text(sense_of(units[i])));
        out.push(std::move(unit));
    }
    return out;
}

std::string com_lines(const SimState& s, int index, bool json) {
    const SimPort& p = s.com[index];
    const SimUnit* units = s.com_units[index];
    const std::string name = target_name({Target::Com, index});
    if (json) {
        Value v = Value::object();
        v.set("kind", "com");
        v.set("port", name);
        v.set("modem", num(p.modem));
        v.set("lines", lines_text(p.modem));
        v.set("open", p.open != 0);
        v.set("opens", num(p.opens));
        v.set("fail_open", p.fail_open != 0);
        v.set("baud", num(p.baud));
        v.set("data_bits", num(p.data_bits));
        v.set("parity", num(p.parity));
        v.set("stop_bits", num(p.stop_bits));
        v.set("dtr_control", num(p.dtr_control));
        v.set("rts_control", num(p.rts_control));
        v.set("out_x", p.out_x != 0);
        v.set("in_x", p.in_x != 0);
        v.set("xon", num(p.xon));
        v.set("xoff", num(p.xoff));
        v.set("received", num(p.written_total));
        v.set("units", units_json(units));
        return json_line(v);
    }
    std::string out = name + " lines " + lines_text(p.modem) + " (" + hex(static_cast<std::uint32_t>(p.modem)) + "); " +
                      open_text(p) + "; fail-open " + on_off(p.fail_open) + "; " + framing_text(p) + ", dtr " +
                      control_text(p.dtr_control, false) + ", rts " + control_text(p.rts_control, true) +
                      ", xon/xoff " + xonxoff_text(p) + "; received " + count_text(p.written_total, "byte") + "\n";
    for (int i = 0; i < sim::kSimUnits; ++i) {
        if (!attached(units[i])) continue;
        out += name + " unit " + std::to_string(i + 1) + ": drawer " + drawer_text(units[i].closed) + ", sense " +
               lines_text(sense_of(units[i])) + "\n";
    }
    return out;
}

std::string lpt_line(const SimState& s, int index, bool json) {
    const SimPort& p = s.lpt[index];
    const std::string name = target_name({Target::Lpt, index});
    if (json) {
        Value v = Value::object();
        v.set("kind", "lpt");
        v.set("port", name);
        v.set("open", p.open != 0);
        v.set("opens", num(p.opens));
        v.set("fail_open", p.fail_open != 0);
        v.set("received", num(p.written_total));
        return json_line(v);
    }
    return name + " " + open_text(p) + "; fail-open " + on_off(p.fail_open) + "; received " +
           count_text(p.written_total, "byte") + "\n";
}

std::string usb_line(const SimState& s, bool json) {
    const sim::SimUsb& u = s.usb;
    if (json) {
        Value v = Value::object();
        v.set("kind", "usb");
        v.set("present", u.present != 0);
        v.set("drawer", usb_drawer_text(u.drawer_state));
        v.set("drawer_state", num(u.drawer_state));
        v.set("ignore_fires", u.ignore_fires != 0);
        v.set("opening_reports", num(u.opening_reports));
        v.set("idle_reports", num(u.idle_reports));
        v.set("opens", num(u.opens));
        v.set("reports_sent", num(u.seq));
        return json_line(v);
    }
    return std::string("USB ") + (u.present ? "plugged in" : "unplugged") + "; drawer " +
           usb_drawer_text(u.drawer_state) + "; ignore-fires " + on_off(u.ignore_fires) + "; received " +
           std::to_string(u.opening_reports) + " opening and " + std::to_string(u.idle_reports) +
           " idle reports; opened " + count_text(u.opens, "time") + "; sent " + count_text(u.seq, "report") + "\n";
}

}  // namespace

namespace detail {

std::string target_name(const Target& t) {
    switch (t.kind) {
        case Target::Com:
            return "COM" + std::to_string(t.index + 1);
        case Target::Lpt:
            return "LPT" + std::to_string(t.index + 1);
        case Target::Usb:
            return "USB";
        default:
            return "?";
    }
}

std::string port_lines(const SimState& s, const Target& t, bool json) {
    switch (t.kind) {
        case Target::Com:
            return com_lines(s, t.index, json);
        case Target::Lpt:
            return lpt_line(s, t.index, json);
        default:
            return usb_line(s, json);
    }
}

std::string received_text(const SimPort& p, const Target& t, bool reset, bool json) {
    const std::uint32_t kept = p.written_total < sim::kSimWrittenMax ? p.written_total : sim::kSimWrittenMax;
    std::string bytes;
    for (std::uint32_t i = 0; i < kept; ++i) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", p.written[i]);
        bytes += buf;
    }
    if (json) {
        Value v = Value::object();
        v.set("kind", "received");
        v.set("port", target_name(t));
        v.set("received", num(p.written_total));
        v.set("kept", num(kept));
        v.set("hex", bytes);
        v.set("reset", reset);
        return json_line(v);
    }
    std::string out = target_name(t) + " received " + count_text(p.written_total, "byte");
    if (kept < p.written_total) out += ", the first " + std::to_string(kept) + " kept";
    if (kept > 0) out += ": " + bytes;
    if (reset) out += " (now reset)";
    return out + "\n";
}

}  // namespace detail

std::string lines_text(std::int32_t word) {
    std::string out;
    for (const LineName& l : kLineNames) {
        if (!(word & l.bit) || std::strcmp(l.name, "ring") == 0 || std::strcmp(l.name, "dcd") == 0) continue;
        if (!out.empty()) out += '+';
        out += l.name;
    }
    const std::uint32_t other = static_cast<std::uint32_t>(word) & ~static_cast<std::uint32_t>(kModemLines);
    if (other) {
        if (!out.empty()) out += '+';
        out += hex(other);
    }
    return out.empty() ? "none" : out;
}

std::string status_text(const SimState& s, bool held, bool json) {
    std::string out;
    if (json) {
        Value v = Value::object();
        v.set("kind", "block");
        v.set("held", held);
        out = json_line(v);
    } else {
        out = held ? "block held by another process\n"
                   : "block not held by any other process: this is its initial state, and changes need "
                     "`drawersim hold`\n";
    }
    for (int i = 0; i < 4; ++i) out += com_lines(s, i, json);
    for (int i = 0; i < 2; ++i) out += lpt_line(s, i, json);
    return out + usb_line(s, json);
}

std::string help_text() {
    return R"(drawersim: drives the simulated cash drawer hardware that the simulated
drivers (dist/<arch>/sim) use, through the shared simulator block.

usage: drawersim COMMAND [ARGUMENTS] [--json]

Drawers
  open COMn [--unit N] [--sense LINES]   the drawer on COMn (unit N) is open
  close COMn [--unit N] [--sense LINES]  the drawer on COMn (unit N) is closed
  open USB, close USB                    the USB drawer opens / closes and reports it
  lines COMn LINES                       set COMn's modem lines directly
USB interface
  unplug, replug                         unplug / replug the USB drawer interface
  ignore-fires on|off                    the USB drawer ignores opening reports (or not)
Ports: COM1..COM4, LPT1, LPT2
  received PORT [--reset]                the bytes the port received: count and hex;
                                         --reset empties the record after showing it
  fail-open PORT on|off                  opening the port fails (on) or works (off)
State
  status                                 the whole state
  --json                                 one JSON object per line (status and every change)
Keeping the block
  hold                                   hold the block until `drawersim release` or Ctrl+C;
                                         prints "holding" once it does
  release                                end a running `drawersim hold`
  help, --help, -h                       this text

Units. Up to 10 smart-serial drawers share one COM port and its modem lines;
unit 1 is the device CD347, unit N the device CD347-N. A serial-II port has
unit 1 only. A closed drawer shows its sense lines, an open one none; the port
shows the lines of all its closed drawers together. --sense sets the unit's
lines and is remembered (default cts). As the device's Status setting:
cts is 0, ri is 1, cts+ri is 2, none is 3; RI sensing with CTS/RTS
handshaking expects all four lines (all). Unit 1 starts closed on cts; the
other units have no drawer until a command names them.

LINES: modem lines joined by '+': cts, dsr, ri (ring), rlsd (dcd), none, all,
or a number such as 0x30.

The block exists only while some process holds it: a program that uses the
simulated drivers, or `drawersim hold`. Commands that change the block refuse
to run when no other process holds it, since their change would be lost.

Exit status: 0 done; 1 failed (block not held or not available, no hold
running); 2 bad command line.
)";
}

}  // namespace zrn::drawersim
