// drawersim's command line: verbs, options, ports, modem lines.
#include <vector>

#include "drawersim_detail.h"
#include "zrn/text.h"

namespace zrn::drawersim {

namespace {

using detail::kLineNames;
using detail::LineName;
using detail::target_name;

// Plain decimal digits only: "+1", " 1" and "1x" are refused.
std::optional<std::int32_t> decimal(std::string_view s) {
    std::int32_t v = 0;
    if (s.empty() || s[0] < '0' || s[0] > '9' || !parse_int32(s, &v)) return std::nullopt;
    return v;
}

std::optional<std::int64_t> number(std::string_view s) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        if (s.size() > 10) return std::nullopt;
        std::int64_t v = 0;
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

std::optional<Target> parse_target(std::string_view text) {
    const std::string t = ascii_lower(text);
    if (t == "usb") return Target{Target::Usb, 0};
    if (t.size() == 4 && t[3] >= '1') {
        if (t.compare(0, 3, "com") == 0 && t[3] <= '4') return Target{Target::Com, t[3] - '1'};
        if (t.compare(0, 3, "lpt") == 0 && t[3] <= '2') return Target{Target::Lpt, t[3] - '1'};
    }
    return std::nullopt;
}

std::optional<bool> parse_switch(std::string_view text) {
    const std::string t = ascii_lower(text);
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

}  // namespace

std::optional<std::int32_t> parse_lines(std::string_view text) {
    std::int32_t bits = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t plus = text.find('+', start);
        const std::string token = ascii_lower(text.substr(start, plus == std::string_view::npos ? plus : plus - start));
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
            const std::optional<std::int64_t> v = number(token);
            if (!v || (*v & ~static_cast<std::int64_t>(kModemLines)) != 0) return std::nullopt;
            bits |= static_cast<std::int32_t>(*v);
        }
        if (plus == std::string_view::npos) return bits;
        start = plus + 1;
    }
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

    const std::string verb = ascii_lower(words[0]);
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
        const std::optional<std::int32_t> n = decimal(*unit);
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

}  // namespace zrn::drawersim
