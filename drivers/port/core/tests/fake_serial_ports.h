#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "zrn/portdrv/serial_port.h"

namespace zrn::portdrv::testing {

// Ports by name with settings, modem-status words and written bytes.
class FakeSerialPorts final : public SerialPorts {
public:
    struct Port {
        LineSettings settings;
        std::uint32_t modem = kMsCts;
        std::string written;
        bool open = false;
        int opens = 0, closes = 0, purges = 0, dtr_off = 0;
        PortHandle handle = 0;
    };

    PortHandle open(const std::string& name) override {
        std::lock_guard l(mu);
        Port& p = ports[name];
        if (fail_open.count(name) || p.open) return kInvalidPort;
        p.open = true;
        ++p.opens;
        p.handle = next++;
        by_handle[p.handle] = name;
        return p.handle;
    }
    bool get_settings(PortHandle h, LineSettings* s) override {
        std::lock_guard l(mu);
        if (fail_get || !by_handle.count(h)) return false;
        *s = ports[by_handle[h]].settings;
        return true;
    }
    bool set_settings(PortHandle h, const LineSettings& s) override {
        std::lock_guard l(mu);
        if (fail_set || !by_handle.count(h)) return false;
        ports[by_handle[h]].settings = s;
        ++set_count;
        return true;
    }
    bool modem_status(PortHandle h, std::uint32_t* w) override {
        std::lock_guard l(mu);
        if (!by_handle.count(h) || fail_modem) return false;
        *w = ports[by_handle[h]].modem;
        return true;
    }
    bool set_dtr_inactive(PortHandle h) override {
        std::lock_guard l(mu);
        if (h == kInvalidPort || h == 0) ++calls_on_invalid;
        if (!by_handle.count(h)) return false;
        ++ports[by_handle[h]].dtr_off;
        return true;
    }
    bool purge(PortHandle h) override {
        std::lock_guard l(mu);
        if (h == kInvalidPort || h == 0) ++calls_on_invalid;
        if (!by_handle.count(h)) return false;
        ++ports[by_handle[h]].purges;
        return true;
    }
    bool write(PortHandle h, const void* data, std::size_t n, std::size_t* written) override {
        std::lock_guard l(mu);
        if (h == kInvalidPort || h == 0) ++calls_on_invalid;
        if (!by_handle.count(h) || fail_write) return false;
        const std::size_t k = short_write ? n - 1 : n;
        ports[by_handle[h]].written.append(static_cast<const char*>(data), k);
        *written = k;
        return true;
    }
    bool close(PortHandle h) override {
        std::lock_guard l(mu);
        if (h == kInvalidPort || h == 0) ++calls_on_invalid;
        auto it = by_handle.find(h);
        if (it == by_handle.end()) return false;
        Port& p = ports[it->second];
        p.open = false;
        ++p.closes;
        by_handle.erase(it);
        return true;
    }
    void set_modem(const std::string& name, std::uint32_t w) {
        std::lock_guard l(mu);
        ports[name].modem = w;
    }
    Port get(const std::string& name) {
        std::lock_guard l(mu);
        return ports[name];
    }

    std::mutex mu;
    std::map<std::string, Port> ports;
    std::map<PortHandle, std::string> by_handle;
    std::set<std::string> fail_open;
    bool fail_get = false, fail_set = false, fail_write = false, short_write = false, fail_modem = false;
    int set_count = 0;
    int calls_on_invalid = 0;  // requests on -1 or 0
    PortHandle next = 0x100;
};

}  // namespace zrn::portdrv::testing
