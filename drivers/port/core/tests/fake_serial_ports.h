#pragma once

#include <chrono>
#include <condition_variable>
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
        std::uint32_t write_bound_ms = 0;  // 0: writes wait for ever
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
    bool set_write_bound(PortHandle h, std::uint32_t ms) override {
        std::lock_guard l(mu);
        if (fail_bound || !by_handle.count(h)) return false;
        ports[by_handle[h]].write_bound_ms = ms;
        return true;
    }
    bool write(PortHandle h, const void* data, std::size_t n, std::size_t* written) override {
        std::unique_lock l(mu);
        if (held && by_handle.count(h)) {
            *written = 0;
            if (ports[by_handle[h]].write_bound_ms) return true;  // timed out, nothing sent
            // Unbounded: blocks until the line is released (cut short here).
            held_cv.wait_for(l, std::chrono::seconds(2), [&] { return !held; });
            ++hung_writes;
            return false;
        }
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
    std::condition_variable held_cv;
    bool held = false, fail_bound = false;
    int hung_writes = 0;
    bool fail_get = false, fail_set = false, fail_write = false, short_write = false, fail_modem = false;
    int set_count = 0;
    int calls_on_invalid = 0;  // requests on -1 or 0
    PortHandle next = 0x100;
};

}  // namespace zrn::portdrv::testing
