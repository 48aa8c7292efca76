#include "zrn/sim/sim_state.h"

#include <cstring>
#include <mutex>

namespace zrn::sim {

namespace {
// Handles of simulated ports: a recognisable base plus the port's index.
constexpr portdrv::PortHandle kComBase = 0x5100;
constexpr portdrv::PortHandle kLptBase = 0x5200;
}  // namespace

void init_state(SimState* s) {
    std::memset(s, 0, sizeof *s);
    s->magic = kSimMagic;
    s->version = kSimVersion;
    for (SimPort& p : s->com) {
        p.modem = static_cast<std::int32_t>(kMsCts);
        p.baud = 9600;
        p.data_bits = 8;
        p.stop_bits = 1;
        p.dtr_control = 1;
        p.xon = 0x11;
        p.xoff = 0x13;
    }
    for (auto& units : s->com_units) {
        for (SimUnit& u : units) {
            u.sense = kSimNoDrawer;
            u.closed = 1;
        }
        units[0].sense = static_cast<std::int32_t>(kMsCts);
    }
    s->usb.present = 1;
    s->usb.drawer_state = 2;
}

SimPort* SimSerialPorts::port_of(portdrv::PortHandle h) {
    if (h >= kComBase && h < kComBase + 4) return &s_->com[h - kComBase];
    if (h >= kLptBase && h < kLptBase + 2) return &s_->lpt[h - kLptBase];
    return nullptr;
}

SimPort* SimSerialPorts::open_port_of(portdrv::PortHandle h) {
    SimPort* p = port_of(h);
    return p && p->open ? p : nullptr;
}

portdrv::PortHandle SimSerialPorts::open(const std::string& name) {
    std::lock_guard guard(lock_);
    portdrv::PortHandle h = portdrv::kInvalidPort;
    if (name.size() == 4 && name.compare(0, 3, "COM") == 0 && name[3] >= '1' && name[3] <= '4')
        h = kComBase + (name[3] - '1');
    else if (name.size() == 4 && name.compare(0, 3, "LPT") == 0 && (name[3] == '1' || name[3] == '2'))
        h = kLptBase + (name[3] - '1');
    SimPort* p = port_of(h);
    if (!p || p->fail_open || p->open) return portdrv::kInvalidPort;
    p->open = 1;
    ++p->opens;
    return h;
}

bool SimSerialPorts::get_settings(portdrv::PortHandle h, portdrv::LineSettings* s) {
    std::lock_guard guard(lock_);
    SimPort* p = open_port_of(h);
    if (!p) return false;
    s->baud = static_cast<std::uint32_t>(p->baud);
    s->data_bits = static_cast<std::uint8_t>(p->data_bits);
    s->stop_bits = static_cast<std::uint8_t>(p->stop_bits);
    s->parity = static_cast<std::uint8_t>(p->parity);
    s->dtr_control = static_cast<std::uint8_t>(p->dtr_control);
    s->rts_control = static_cast<std::uint8_t>(p->rts_control);
    s->out_x = p->out_x != 0;
    s->in_x = p->in_x != 0;
    s->xon = static_cast<char>(p->xon);
    s->xoff = static_cast<char>(p->xoff);
    return true;
}

bool SimSerialPorts::set_settings(portdrv::PortHandle h, const portdrv::LineSettings& s) {
    std::lock_guard guard(lock_);
    SimPort* p = open_port_of(h);
    if (!p || s.xon == s.xoff) return false;  // as a real port refuses
    p->baud = static_cast<std::int32_t>(s.baud);
    p->data_bits = s.data_bits;
    p->stop_bits = s.stop_bits;
    p->parity = s.parity;
    p->dtr_control = s.dtr_control;
    p->rts_control = s.rts_control;
    p->out_x = s.out_x;
    p->in_x = s.in_x;
    p->xon = s.xon;
    p->xoff = s.xoff;
    return true;
}

bool SimSerialPorts::modem_status(portdrv::PortHandle h, std::uint32_t* word) {
    std::lock_guard guard(lock_);
    SimPort* p = open_port_of(h);
    if (!p || h >= kLptBase) return false;
    *word = static_cast<std::uint32_t>(p->modem);
    return true;
}

bool SimSerialPorts::set_dtr_inactive(portdrv::PortHandle h) {
    std::lock_guard guard(lock_);
    SimPort* p = open_port_of(h);
    if (!p) return false;
    p->dtr_control = 0;
    return true;
}

bool SimSerialPorts::purge(portdrv::PortHandle h) {
    std::lock_guard guard(lock_);
    return open_port_of(h) != nullptr;
}

bool SimSerialPorts::write(portdrv::PortHandle h, const void* data, std::size_t size, std::size_t* written) {
    std::lock_guard guard(lock_);
    SimPort* p = open_port_of(h);
    *written = 0;
    if (!p) return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < size; ++i, ++p->written_total)
        if (p->written_total < kSimWrittenMax) p->written[p->written_total] = bytes[i];
    *written = size;
    return true;
}

bool SimSerialPorts::close(portdrv::PortHandle h) {
    std::lock_guard guard(lock_);
    SimPort* p = open_port_of(h);
    if (!p) return false;
    p->open = 0;
    return true;
}

}  // namespace zrn::sim
