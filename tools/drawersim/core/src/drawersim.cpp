#include "zrn/drawersim/drawersim.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "zrn/portdrv/serial_port.h"

namespace zrn::drawersim {

namespace {

using sim::SimPort;
using sim::SimState;
using sim::SimUnit;

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%02x", v);
    return buf;
}

// Plain decimal digits only: "+1", " 1" and "1x" are refused.
std::optional<long> decimal(std::string_view s) {
    if (s.empty() || s.size() > 9) return std::nullopt;
    long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

std::optional<long> number(std::string_view s) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        if (s.size() > 10) return std::nullopt;
        long v = 0;
        for (char c : s.substr(2)) {
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return std::nullopt;
            v = v * 16 + d;
        }
        return v;
    }
    return decimal(s);
}

struct LineName {
    const char* name;
    std::int32_t bit;
};
constexpr LineName kLineNames[] = {
    {"cts", static_cast<std::int32_t>(portdrv::kMsCts)},   {"dsr", static_cast<std::int32_t>(portdrv::kMsDsr)},
    {"ri", static_cast<std::int32_t>(portdrv::kMsRing)},   {"ring", static_cast<std::int32_t>(portdrv::kMsRing)},
    {"rlsd", static_cast<std::int32_t>(portdrv::kMsRlsd)}, {"dcd", static_cast<std::int32_t>(portdrv::kMsRlsd)},
};

std::optional<Target> parse_target(std::string_view text) {
    const std::string t = lower(text);
    if (t == "usb") return Target{Target::Usb, 0};
    if (t.size() == 4 && t[3] >= '1') {
        if (t.compare(0, 3, "com") == 0 && t[3] <= '4') return Target{Target::Com, t[3] - '1'};
        if (t.compare(0, 3, "lpt") == 0 && t[3] <= '2') return Target{Target::Lpt, t[3] - '1'};
    }
    return std::nullopt;
}

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

std::optional<bool> parse_switch(std::string_view text) {
    const std::string t = lower(text);
    if (t == "on") return true;
    if (t == "off") return false;
    return std::nullopt;
}

struct VerbName {
    const char* name;
    Verb verb;
};
constexpr VerbName kVerbs[] = {
    {"help", Verb::Help},         {"status", Verb::Status},
    {"open", Verb::Open},         {"close", Verb::Close},
    {"lines", Verb::Lines},       {"unplug", Verb::Unplug},
    {"replug", Verb::Replug},     {"ignore-fires", Verb::IgnoreFires},
    {"received", Verb::Received}, {"fail-open", Verb::FailOpen},
    {"hold", Verb::Hold},         {"release", Verb::Release},
};

Parsed fail(std::string message) {
    return Parsed{std::nullopt, std::move(message)};
}

// --- output -----------------------------------------------------------------------

// One JSON object on one line, built field by field.
class JsonLine {
public:
    JsonLine& str(const char* key, std::string_view v) {
        open(key);
        out_ += '"';
        for (char c : v) {
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += c;
            } else if (static_cast<unsigned char>(c) < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
                out_ += buf;
            } else {
                out_ += c;
            }
        }
        out_ += '"';
        return *this;
    }
    JsonLine& num(const char* key, long long v) {
        open(key);
        out_ += std::to_string(v);
        return *this;
    }
    JsonLine& flag(const char* key, bool v) {
        open(key);
        out_ += v ? "true" : "false";
        return *this;
    }
    JsonLine& raw(const char* key, const std::string& json) {
        open(key);
        out_ += json;
        return *this;
    }
    std::string line() const { return out_ + "}\n"; }
    std::string object() const { return out_ + "}"; }

private:
    void open(const char* key) {
        out_ += out_.size() > 1 ? ",\"" : "\"";
        out_ += key;
        out_ += "\":";
    }
    std::string out_ = "{";
};

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

bool attached(const SimUnit& u) {
    return u.sense >= 0;
}
std::int32_t sense_of(const SimUnit& u) {
    return attached(u) ? u.sense & kModemLines : 0;
}

std::string units_json(const SimUnit* units) {
    std::string out = "[";
    for (int i = 0; i < sim::kSimUnits; ++i) {
        if (!attached(units[i])) continue;
        if (out.size() > 1) out += ',';
        out += JsonLine()
                   .num("unit", i + 1)
                   .str("drawer", drawer_text(units[i].closed))
                   .num("sense", sense_of(units[i]))
                   .str("sense_lines", lines_text(sense_of(units[i])))
                   .object();
    }
    return out + "]";
}

std::string com_lines(const SimState& s, int index, bool json) {
    const SimPort& p = s.com[index];
    const SimUnit* units = s.com_units[index];
    const std::string name = target_name({Target::Com, index});
    if (json) {
        return JsonLine()
            .str("kind", "com")
            .str("port", name)
            .num("modem", p.modem)
            .str("lines", lines_text(p.modem))
            .flag("open", p.open != 0)
            .num("opens", p.opens)
            .flag("fail_open", p.fail_open != 0)
            .num("baud", p.baud)
            .num("data_bits", p.data_bits)
            .num("parity", p.parity)
            .num("stop_bits", p.stop_bits)
            .num("dtr_control", p.dtr_control)
            .num("rts_control", p.rts_control)
            .flag("out_x", p.out_x != 0)
            .flag("in_x", p.in_x != 0)
            .num("xon", p.xon)
            .num("xoff", p.xoff)
            .num("received", p.written_total)
            .raw("units", units_json(units))
            .line();
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
        return JsonLine()
            .str("kind", "lpt")
            .str("port", name)
            .flag("open", p.open != 0)
            .num("opens", p.opens)
            .flag("fail_open", p.fail_open != 0)
            .num("received", p.written_total)
            .line();
    }
    return name + " " + open_text(p) + "; fail-open " + on_off(p.fail_open) + "; received " +
           count_text(p.written_total, "byte") + "\n";
}

std::string usb_line(const SimState& s, bool json) {
    const sim::SimUsb& u = s.usb;
    if (json) {
        return JsonLine()
            .str("kind", "usb")
            .flag("present", u.present != 0)
            .str("drawer", usb_drawer_text(u.drawer_state))
            .num("drawer_state", u.drawer_state)
            .flag("ignore_fires", u.ignore_fires != 0)
            .num("opening_reports", u.opening_reports)
            .num("idle_reports", u.idle_reports)
            .num("opens", u.opens)
            .num("reports_sent", u.seq)
            .line();
    }
    return std::string("USB ") + (u.present ? "plugged in" : "unplugged") + "; drawer " +
           usb_drawer_text(u.drawer_state) + "; ignore-fires " + on_off(u.ignore_fires) + "; received " +
           std::to_string(u.opening_reports) + " opening and " + std::to_string(u.idle_reports) +
           " idle reports; opened " + count_text(u.opens, "time") + "; sent " + count_text(u.seq, "report") + "\n";
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

SimPort& port(SimState& s, const Target& t) {
    return t.kind == Target::Com ? s.com[t.index] : s.lpt[t.index];
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
        return JsonLine()
            .str("kind", "received")
            .str("port", target_name(t))
            .num("received", p.written_total)
            .num("kept", kept)
            .str("hex", bytes)
            .flag("reset", reset)
            .line();
    }
    std::string out = target_name(t) + " received " + count_text(p.written_total, "byte");
    if (kept < p.written_total) out += ", the first " + std::to_string(kept) + " kept";
    if (kept > 0) out += ": " + bytes;
    if (reset) out += " (now reset)";
    return out + "\n";
}

// A unit's drawer changes: the port's modem word shows the sense lines of
// every closed drawer on it. Lines that no drawer of the port senses (set
// with `lines`, or by a test) are left as they are.
void set_unit(SimState& s, const Command& c) {
    SimUnit* units = s.com_units[c.target.index];
    auto sensed = [&] {
        std::int32_t lines = 0;
        for (int i = 0; i < sim::kSimUnits; ++i) lines |= sense_of(units[i]);
        return lines;
    };
    const std::int32_t before = sensed();
    SimUnit& u = units[c.unit];
    if (c.sense)
        u.sense = *c.sense;
    else if (!attached(u))
        u.sense = static_cast<std::int32_t>(portdrv::kMsCts);
    u.closed = c.verb == Verb::Close ? 1 : 0;
    std::int32_t shown = 0;
    for (int i = 0; i < sim::kSimUnits; ++i)
        if (units[i].closed) shown |= sense_of(units[i]);
    std::int32_t& modem = s.com[c.target.index].modem;
    modem = (modem & ~(before | sensed())) | shown;
}

// The USB drawer sends a report only while plugged in and only on a change.
bool set_usb_drawer(SimState& s, std::int32_t state) {
    if (s.usb.drawer_state == state) return false;
    s.usb.drawer_state = state;
    if (!s.usb.present) return false;
    sim::count_usb_report(&s);
    return true;
}

bool set_usb_present(SimState& s, bool present) {
    if ((s.usb.present != 0) == present) return false;
    s.usb.present = present ? 1 : 0;
    // Unplugging fails the driver's outstanding read; a replugged drawer
    // reports its state.
    sim::count_usb_report(&s);
    return true;
}

}  // namespace

std::optional<std::int32_t> parse_lines(std::string_view text) {
    std::int32_t bits = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t plus = text.find('+', start);
        const std::string token = lower(text.substr(start, plus == std::string_view::npos ? plus : plus - start));
        if (token.empty()) return std::nullopt;
        bool known = false;
        if (token == "none") known = true;
        if (token == "all") {
            bits |= kModemLines;
            known = true;
        }
        for (const LineName& l : kLineNames) {
            if (token == l.name) {
                bits |= l.bit;
                known = true;
            }
        }
        if (!known) {
            const std::optional<long> v = number(token);
            if (!v || (*v & ~static_cast<long>(kModemLines)) != 0) return std::nullopt;
            bits |= static_cast<std::int32_t>(*v);
        }
        if (plus == std::string_view::npos) return bits;
        start = plus + 1;
    }
}

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

Parsed parse(std::span<const std::string> args) {
    Command c;
    std::vector<std::string> words;
    std::optional<std::string> unit, sense;
    bool help_option = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 2 || a[0] != '-') {
            words.push_back(a);
            continue;
        }
        const std::size_t eq = a.find('=');
        const std::string name = a.substr(0, eq);
        std::optional<std::string>* slot = name == "--unit" ? &unit : name == "--sense" ? &sense : nullptr;
        if (slot) {
            if (*slot) return fail(name + " is given twice");
            if (eq != std::string::npos) {
                *slot = a.substr(eq + 1);
            } else if (i + 1 < args.size()) {
                *slot = args[++i];
            } else {
                return fail(name + " needs a value");
            }
            continue;
        }
        if (eq != std::string::npos) return fail("option " + name + " takes no value");
        if (a == "--json") {
            c.json = true;
        } else if (a == "--reset") {
            c.reset = true;
        } else if (a == "--help" || a == "-h") {
            help_option = true;
        } else {
            return fail("unknown option '" + a + "'");
        }
    }
    if (help_option) return Parsed{Command{}, {}};
    if (words.empty()) return fail("no command given");

    const std::string verb = lower(words[0]);
    bool found = false;
    for (const VerbName& v : kVerbs) {
        if (verb == v.name) {
            c.verb = v.verb;
            found = true;
        }
    }
    if (!found) return fail("unknown command '" + words[0] + "'");

    auto want = [&](std::size_t n, const char* usage) -> std::optional<std::string> {
        if (words.size() == n + 1) return std::nullopt;
        return std::string("usage: drawersim ") + usage;
    };
    std::optional<std::string> usage_error;
    switch (c.verb) {
        case Verb::Help:
        case Verb::Status:
        case Verb::Unplug:
        case Verb::Replug:
        case Verb::Hold:
        case Verb::Release:
            if (words.size() != 1) usage_error = "'" + verb + "' takes no arguments";
            break;
        case Verb::Open:
        case Verb::Close:
            usage_error = want(1, c.verb == Verb::Open ? "open COM1..COM4|USB [--unit N] [--sense LINES]"
                                                       : "close COM1..COM4|USB [--unit N] [--sense LINES]");
            break;
        case Verb::Lines:
            usage_error = want(2, "lines COM1..COM4 LINES");
            break;
        case Verb::IgnoreFires:
            usage_error = want(1, "ignore-fires on|off");
            break;
        case Verb::Received:
            usage_error = want(1, "received COM1..COM4|LPT1|LPT2 [--reset]");
            break;
        case Verb::FailOpen:
            usage_error = want(2, "fail-open COM1..COM4|LPT1|LPT2 on|off");
            break;
    }
    if (usage_error) return fail(*usage_error);

    const bool drawer = c.verb == Verb::Open || c.verb == Verb::Close;
    if ((unit || sense) && !drawer)
        return fail(std::string(unit ? "--unit" : "--sense") + " is only for open and close");
    if (c.reset && c.verb != Verb::Received) return fail("--reset is only for received");

    if (drawer || c.verb == Verb::Lines || c.verb == Verb::Received || c.verb == Verb::FailOpen) {
        const std::optional<Target> t = parse_target(words[1]);
        if (!t) return fail("unknown port '" + words[1] + "' (COM1..COM4, LPT1, LPT2 or USB)");
        c.target = *t;
        const bool com_or_usb = t->kind == Target::Com || (drawer && t->kind == Target::Usb);
        const bool com_or_lpt = t->kind != Target::Usb;
        if ((drawer || c.verb == Verb::Lines) && !com_or_usb)
            return fail("'" + verb + "' takes " + (drawer ? "COM1..COM4 or USB" : "COM1..COM4") + ", not " +
                        target_name(*t));
        if ((c.verb == Verb::Received || c.verb == Verb::FailOpen) && !com_or_lpt)
            return fail("'" + verb + "' takes COM1..COM4, LPT1 or LPT2, not USB");
        if ((unit || sense) && t->kind != Target::Com)
            return fail(std::string(unit ? "--unit" : "--sense") + " is only for COM ports");
    }
    if (unit) {
        const std::optional<long> n = decimal(*unit);
        if (!n || *n < 1 || *n > sim::kSimUnits) return fail("--unit must be 1..10, not '" + *unit + "'");
        c.unit = static_cast<int>(*n - 1);
    }
    if (sense) {
        c.sense = parse_lines(*sense);
        if (!c.sense) return fail("--sense: '" + *sense + "' is no set of modem lines");
    }
    if (c.verb == Verb::Lines) {
        const std::optional<std::int32_t> w = parse_lines(words[2]);
        if (!w) return fail("'" + words[2] + "' is no set of modem lines");
        c.word = *w;
    }
    if (c.verb == Verb::IgnoreFires || c.verb == Verb::FailOpen) {
        const std::string& v = words[c.verb == Verb::IgnoreFires ? 1 : 2];
        const std::optional<bool> on = parse_switch(v);
        if (!on) return fail("expected on or off, not '" + v + "'");
        c.on = *on;
    }
    return Parsed{c, {}};
}

bool changes_block(const Command& c) {
    switch (c.verb) {
        case Verb::Help:
        case Verb::Status:
        case Verb::Hold:
        case Verb::Release:
            return false;
        case Verb::Received:
            return c.reset;
        default:
            return true;
    }
}

Effect execute(const Command& c, SimState& s, bool held) {
    Effect e;
    switch (c.verb) {
        case Verb::Status:
            e.output = status_text(s, held, c.json);
            return e;
        case Verb::Open:
        case Verb::Close:
            if (c.target.kind == Target::Usb)
                e.usb_report = set_usb_drawer(s, c.verb == Verb::Open ? 1 : 2);
            else
                set_unit(s, c);
            break;
        case Verb::Lines:
            s.com[c.target.index].modem = c.word;
            break;
        case Verb::Unplug:
        case Verb::Replug:
            e.usb_report = set_usb_present(s, c.verb == Verb::Replug);
            break;
        case Verb::IgnoreFires:
            s.usb.ignore_fires = c.on ? 1 : 0;
            break;
        case Verb::FailOpen:
            port(s, c.target).fail_open = c.on ? 1 : 0;
            break;
        case Verb::Received: {
            SimPort& p = port(s, c.target);
            e.output = received_text(p, c.target, c.reset, c.json);
            if (c.reset) {
                p.written_total = 0;
                std::memset(p.written, 0, sizeof p.written);
            }
            return e;
        }
        default:
            return e;
    }
    // A change shows the changed part's state.
    e.output = port_lines(s, c.target.kind == Target::None ? Target{Target::Usb, 0} : c.target, c.json);
    return e;
}

std::string status_text(const SimState& s, bool held, bool json) {
    std::string out;
    if (json) {
        out = JsonLine().str("kind", "block").flag("held", held).line();
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
