#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "zrn/usbdrv/hid_port.h"

namespace zrn::usbdrv::testing {

// HID interfaces and one drawer's report stream. Everything handed to the
// status thread (a report, a write request) returns only once the thread is
// idle in its wait again, so tests see its effects deterministically.
class FakeHid final : public HidPort {
public:
    struct Dev {
        std::string path;
        std::uint16_t vendor, product;
        bool openable = true;
    };

    bool list_interfaces(std::vector<std::string>* paths) override {
        std::lock_guard l(mu_);
        if (list_fails) return false;
        for (const auto& d : devices) paths->push_back(d.path);
        return true;
    }
    Device open(const std::string& path) override {
        std::lock_guard l(mu_);
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (devices[i].path == path && devices[i].openable && !(unplugged_ && i == drawer)) {
                const Device h = next_++;
                handles_[h] = i;
                ++opens;
                return h;
            }
        }
        return 0;
    }
    bool attributes(Device d, std::uint16_t* v, std::uint16_t* p) override {
        std::lock_guard l(mu_);
        auto it = handles_.find(d);
        if (it == handles_.end()) return false;
        *v = devices[it->second].vendor;
        *p = devices[it->second].product;
        return true;
    }
    bool fetch_descriptor(Device) override {
        ++descriptors;
        return true;
    }
    bool close(Device d) override {
        std::lock_guard l(mu_);
        if ((read_pending_ && read_handle_ == d) || wait_inside_) ++closed_under_io;
        if (handles_.erase(d) == 1) return true;
        ++closes_of_closed;  // a real system may have given the value to another object
        return false;
    }
    void cancel_io(Device d) override {
        std::lock_guard l(mu_);
        if (read_pending_ && read_handle_ == d) {
            read_pending_ = false;
            ++cancelled_reads;
        }
    }
    bool finish_read(Device d, std::uint8_t* report) override {
        std::lock_guard l(mu_);
        if (!handles_.count(d)) ++io_on_closed;
        const bool ok = !read_failed_;
        read_failed_ = false;
        if (ok) {
            report[0] = 0;
            report[1] = read_state_;
            report[2] = 0;
        }
        return ok;
    }
    int open_handles() {
        std::lock_guard l(mu_);
        return static_cast<int>(handles_.size());
    }

    bool create_events() override {
        if (on_create_events) on_create_events();
        std::lock_guard l(mu_);
        ++event_sets;
        return !fail_events;
    }
    std::function<void()> on_create_events;  // runs on the status thread, before the events are made
    void reset_stop_and_write_request() override {
        std::lock_guard l(mu_);
        stop_ = write_request_ = false;
    }
    void signal_write_request() override {
        std::unique_lock l(mu_);
        write_request_ = true;
        cv_.notify_all();
        settle(l);
    }
    void signal_stop() override {
        std::lock_guard l(mu_);
        stop_ = true;
        cv_.notify_all();
    }
    bool start_read(Device d) override {
        std::lock_guard l(mu_);
        if (!handles_.count(d)) ++io_on_closed;
        if (unplugged_ || !handles_.count(d)) return false;
        read_handle_ = d;
        read_pending_ = true;
        return true;
    }
    bool start_write(Device d, const std::uint8_t* b) override {
        bool opening = false;
        {
            std::lock_guard l(mu_);
            if (!handles_.count(d)) ++io_on_closed;
            if (unplugged_ || fail_writes || !handles_.count(d)) return false;
            opening = b[1] == 1;
            if (opening) {
                ++opening_reports;
                if (responds) reports_.push_back(respond_state);
            } else {
                ++idle_reports;
            }
        }
        if (opening) {
            std::lock_guard l(mu_);
            written_opening_ = opening_reports;
        }
        return true;
    }
    // Runs on the status thread once the opening report is written, at its
    // next wait (where a real device's answer would reach it), with the
    // count of opening reports so far.
    std::function<void(int)> on_opening_report;
    std::function<bool()> thread_alive;  // the status thread still runs
    Wake wait() override {
        int written = 0;
        {
            std::lock_guard l(mu_);
            std::swap(written, written_opening_);
        }
        if (written && on_opening_report) on_opening_report(written);
        std::unique_lock l(mu_);
        if (fail_events) {
            // A wait on a missing event fails at once, every time.
            ++failed_waits;
            l.unlock();
            std::this_thread::yield();
            return Wake::Failed;
        }
        wait_inside_ = true;
        struct Out {
            bool& f;
            ~Out() { f = false; }
        } out{wait_inside_};
        for (;;) {
            if (read_pending_ && !reports_.empty()) {
                read_state_ = reports_.front();
                reports_.pop_front();
                read_pending_ = false;
                idle_ = false;
                return Wake::Read;
            }
            if (read_pending_ && unplugged_) {  // the outstanding read fails
                read_pending_ = false;
                read_failed_ = true;
                idle_ = false;
                return Wake::Read;
            }
            if (write_request_) {
                write_request_ = false;
                idle_ = false;
                return Wake::WriteRequest;
            }
            if (stop_) {
                stop_ = false;
                idle_ = false;
                return Wake::Stop;
            }
            idle_ = true;
            cv_.notify_all();
            cv_.wait(l);
        }
    }

    // The drawer reports a state; returns once the thread has served it.
    void report(std::uint8_t state) {
        std::unique_lock l(mu_);
        reports_.push_back(state);
        idle_ = false;
        cv_.notify_all();
        settle(l);
    }
    // The drawer reports a state; returns at once.
    void report_async(std::uint8_t state) {
        std::lock_guard l(mu_);
        reports_.push_back(state);
        idle_ = false;
        cv_.notify_all();
    }
    void unplug() {
        std::unique_lock l(mu_);
        unplugged_ = true;
        idle_ = false;
        cv_.notify_all();
    }
    void replug() {
        std::lock_guard l(mu_);
        unplugged_ = false;
    }
    // Waits until the status thread sits idle in its wait (bounded).
    bool idle() {
        std::unique_lock l(mu_);
        return cv_.wait_for(l, std::chrono::seconds(5), [&] { return idle_; });
    }

    std::vector<Dev> devices;
    std::size_t drawer = 0;  // which device unplug() removes
    bool list_fails = false, responds = true, fail_writes = false;
    std::uint8_t respond_state = 1;
    bool fail_events = false;
    int closed_under_io = 0, cancelled_reads = 0, event_sets = 0, failed_waits = 0;
    int opens = 0, descriptors = 0, opening_reports = 0, idle_reports = 0;
    // Calls on a handle already closed (or never opened).
    int closes_of_closed = 0, io_on_closed = 0;

private:
    void settle(std::unique_lock<std::mutex>& l) {
        idle_ = false;
        // Until the thread is idle again, or has ended (bounded either way).
        for (int i = 0; i < 5000 && !idle_; ++i) {
            cv_.wait_for(l, std::chrono::milliseconds(1), [&] { return idle_; });
            if (thread_alive && !thread_alive()) return;
        }
    }
    std::mutex mu_;
    std::condition_variable cv_;
    std::map<Device, std::size_t> handles_;
    Device next_ = 0x700;
    std::deque<std::uint8_t> reports_;
    std::uint8_t read_state_ = 0;
    int written_opening_ = 0;  // an opening report whose hook has yet to run
    Device read_handle_ = 0;
    bool read_failed_ = false, wait_inside_ = false;
    bool read_pending_ = false, write_request_ = false, stop_ = false, unplugged_ = false, idle_ = false;
};

}  // namespace zrn::usbdrv::testing
