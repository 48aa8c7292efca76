#pragma once

// The HID drawers of the test VM (tests/hid/hid_drawer.py) from a Windows
// test: its line protocol on the loopback address in ZRN_HID_DRAWER, and
// what Wine's HID bus lists of the devices it makes.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "proc.h"
#include "zrn/usbdrv/usb_driver.h"

namespace zrn::e2e {

// The product string of a drawer named NAME is this and its name.
constexpr const char* kDrawerProduct = "ZRN test drawer ";

// The connection to the drawer program.
class HidDrawerLink {
public:
    HidDrawerLink();  // connects to ZRN_HID_DRAWER (host:port)
    ~HidDrawerLink();
    HidDrawerLink(const HidDrawerLink&) = delete;
    HidDrawerLink& operator=(const HidDrawerLink&) = delete;

    // Whether the drawer program answers (it runs the test: hid_drawer.py -- TEST).
    bool ok() const { return socket_ != kNone; }
    // Sends one command; whether it was answered "ok". The rest of the
    // answer goes to *rest, and every answer to last().
    bool command(const std::string& line, std::string* rest = nullptr);
    const std::string& last() const { return last_; }
    // The reports written to the device since the last call, oldest first, as hex ("000101").
    std::vector<std::string> take_reports(const std::string& name);

private:
    static constexpr std::uintptr_t kNone = ~std::uintptr_t{0};
    bool started_ = false;
    std::uintptr_t socket_ = kNone;
    std::string pending_, last_;
};

// The names of our drawers among the present HID interfaces with these
// identifiers, in the system's order (that of the driver's discovery).
std::vector<std::string> listed_drawers(std::uint16_t vendor, std::uint16_t product);
// Every present HID interface, a line each, for a failure message.
std::string hid_listing();

// How long a test waits for what Wine's HID bus or a drawer does.
constexpr ULONGLONG kHidWaitMs = 30000ull * ZRN_TIME_FACTOR;

// Waits (bounded) until the interfaces with these identifiers are exactly
// the named drawers (in any order): Wine's HID bus takes a moment to show a
// device the kernel made, or to drop one that went.
inline bool wait_listed(std::uint16_t vendor, std::uint16_t product, std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return wait_until(
        [&] {
            std::vector<std::string> now = listed_drawers(vendor, product);
            std::sort(now.begin(), now.end());
            return now == names;
        },
        kHidWaitMs, 50);
}

// The reports as the interface receives them.
const std::string kIdleReport = "000000", kOpeningReport = "000101";

inline std::vector<std::string> times(int n, const std::string& report) {
    return std::vector<std::string>(static_cast<std::size_t>(n), report);
}

// The drawers a test makes (all removed again at its end), and the reports
// each has received.
class HidDrawers {
public:
    HidDrawers() = default;
    // Whether the drawer program answers.
    bool ok() const { return link_.ok(); }
    // The last answer, for a failure message.
    const std::string& last() const { return link_.last(); }
    bool add(const std::string& name, std::uint16_t product = usbdrv::DrawerProductId) {
        made_.push_back(name);
        char ids[32];
        std::snprintf(ids, sizeof ids, " %04x %04x", usbdrv::DrawerVendorId, product);
        return link_.command("add " + name + ids);
    }
    // Waits (bounded) until the system lists exactly these drawers of the
    // product; what it lists when not.
    // Only the drawers this object made count: Wine may go on listing one
    // that an earlier test program unplugged.
    ::testing::AssertionResult shown(std::vector<std::string> names, std::uint16_t product = usbdrv::DrawerProductId) {
        std::sort(names.begin(), names.end());
        const bool ok = wait_until(
            [&] {
                std::vector<std::string> now;
                for (auto& n : listed_drawers(usbdrv::DrawerVendorId, product))
                    if (std::find(made_.begin(), made_.end(), n) != made_.end()) now.push_back(n);
                std::sort(now.begin(), now.end());
                return now == names;
            },
            kHidWaitMs, 50);
        if (ok) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the system lists:\n" << hid_listing();
    }
    bool cmd(const std::string& line) { return link_.command(line); }
    // Every report the device has received since it was made (or forget()).
    std::vector<std::string> reports(const std::string& name) {
        auto& mine = seen_[name];
        for (auto& r : link_.take_reports(name)) mine.push_back(r);
        return mine;
    }
    // Waits (bounded) until the device has received as many reports as
    // expected; whether they are exactly those.
    bool received(const std::string& name, const std::vector<std::string>& expected) {
        wait_until([&] { return reports(name).size() >= expected.size(); }, kHidWaitMs, 20);
        return reports(name) == expected;
    }
    void forget(const std::string& name) {
        reports(name);
        seen_[name].clear();
    }

private:
    HidDrawerLink link_;
    std::vector<std::string> made_;
    std::map<std::string, std::vector<std::string>> seen_;
};

// The USB driver's settings in the service key for the life of this object
// (the driver reads them when it is loaded); its own four are removed again
// at the end, so that other tests find none.
struct UsbSettings {
    std::uint32_t ODVEnabled = 1, RDKInterval = 0, RDKDelay = 0, DCSDelay = 0, TraceEnabled = 1;
};

class ScopedUsbSettings {
public:
    explicit ScopedUsbSettings(const UsbSettings& s) { write(&s); }
    ~ScopedUsbSettings() { write(nullptr); }
    ScopedUsbSettings(const ScopedUsbSettings&) = delete;
    ScopedUsbSettings& operator=(const ScopedUsbSettings&) = delete;

private:
    static void write(const UsbSettings* s);  // null: remove
};

}  // namespace zrn::e2e
