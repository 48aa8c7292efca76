// What each drawersim command does to the simulator block.
#include <cstring>

#include "drawersim_detail.h"

namespace zrn::drawersim {

namespace {

using detail::attached;
using detail::sense_of;
using sim::SimPort;
using sim::SimState;
using sim::SimUnit;

SimPort& port(SimState& s, const Target& t) {
    return t.kind == Target::Com ? s.com[t.index] : s.lpt[t.index];
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
        u.sense = static_cast<std::int32_t>(kMsCts);
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
            e.output = detail::received_text(p, c.target, c.reset, c.json);
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
    e.output = detail::port_lines(s, c.target.kind == Target::None ? Target{Target::Usb, 0} : c.target, c.json);
    return e;
}

}  // namespace zrn::drawersim
