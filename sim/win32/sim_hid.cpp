#include "sim_hid.h"

#include <mutex>

#include "zrn/usbdrv/usb_driver.h"

namespace zrn::sim {

namespace {
constexpr usbdrv::HidPort::Device kDrawerHandle = 0x6100;
constexpr const char* kDrawerPath = "\\\\?\\hid#zrn_sim_drawer#1";
}  // namespace

void usb_report(SimState* state, SimLock& lock) {
    {
        std::lock_guard guard(lock);
        count_usb_report(state);
    }
    signal_usb_report();
}

void signal_usb_report() {
    HANDLE e = CreateEventA(nullptr, FALSE, FALSE, kSimUsbEventName);
    if (e) {
        SetEvent(e);
        CloseHandle(e);
    }
}

SimHid::SimHid(SimState* state, SimLock& lock) : s_(state), lock_(lock) {
    report_ = CreateEventA(nullptr, FALSE, FALSE, kSimUsbEventName);
}

SimHid::~SimHid() {
    for (HANDLE h : {report_, write_request_, stop_})
        if (h) CloseHandle(h);
}

bool SimHid::present() {
    std::lock_guard guard(lock_);
    return s_ && s_->usb.present != 0;
}

bool SimHid::list_interfaces(std::vector<std::string>* paths) {
    if (!s_) return false;
    if (present()) paths->push_back(kDrawerPath);
    return true;
}

usbdrv::HidPort::Device SimHid::open(const std::string& path) {
    if (path != kDrawerPath || !present()) return 0;
    std::lock_guard guard(lock_);
    ++s_->usb.opens;
    return kDrawerHandle;
}

bool SimHid::attributes(Device d, std::uint16_t* vendor, std::uint16_t* product) {
    if (d != kDrawerHandle) return false;
    *vendor = usbdrv::DrawerVendorId;
    *product = usbdrv::DrawerProductId;
    return true;
}

bool SimHid::fetch_descriptor(Device d) { return d == kDrawerHandle; }
bool SimHid::close(Device d) { return d == kDrawerHandle; }

bool SimHid::create_events() {
    // Made once; a later thread only sets them to their initial state.
    for (HANDLE* h : {&write_request_, &stop_}) {
        if (!*h) *h = CreateEventA(nullptr, FALSE, TRUE, nullptr);
        if (*h) SetEvent(*h);
    }
    read_failed_ = false;
    // The drawer reports its state as soon as it is read.
    std::lock_guard guard(lock_);
    seen_seq_ = s_->usb.seq - 1;
    return write_request_ && stop_ && report_;
}

bool SimHid::finish_read(Device, std::uint8_t* report3) {
    const bool ok = !read_failed_;
    read_failed_ = false;
    if (ok) {
        report3[0] = 0;
        report3[1] = read_state_;
        report3[2] = 0;
    }
    return ok;
}

void SimHid::cancel_io(Device) { read_pending_ = false; }

void SimHid::reset_stop_and_write_request() {
    ResetEvent(write_request_);
    ResetEvent(stop_);
}

void SimHid::signal_write_request() {
    if (write_request_) SetEvent(write_request_);
}

void SimHid::signal_stop() {
    if (stop_) SetEvent(stop_);
}

bool SimHid::start_read(Device d) {
    if (d != kDrawerHandle || !present()) return false;
    read_pending_ = true;
    return true;
}

bool SimHid::start_write(Device d, const std::uint8_t* report3) {
    if (d != kDrawerHandle || !present()) return false;
    bool opens = false;
    {
        std::lock_guard guard(lock_);
        if (report3[1] == 1) {
            ++s_->usb.opening_reports;
            if (!s_->usb.ignore_fires) {
                s_->usb.drawer_state = 1;
                opens = true;
            }
        } else {
            ++s_->usb.idle_reports;
        }
    }
    if (opens) usb_report(s_, lock_);
    return true;
}

usbdrv::HidPort::Wake SimHid::wait() {
    for (;;) {
        if (read_pending_) {
            std::lock_guard guard(lock_);
            if (!s_->usb.present) {  // unplugged: the outstanding read fails
                read_pending_ = false;
                read_failed_ = true;
                return Wake::Read;
            }
            if (s_->usb.seq != seen_seq_) {
                seen_seq_ = s_->usb.seq;
                read_state_ = static_cast<std::uint8_t>(s_->usb.drawer_state);
                read_pending_ = false;
                return Wake::Read;
            }
        }
        HANDLE events[3] = {report_, write_request_, stop_};
        // The time-out only covers a report signalled between the check and
        // the wait by another process; reports normally wake the wait.
        switch (WaitForMultipleObjects(3, events, FALSE, 200)) {
            case WAIT_OBJECT_0:
            case WAIT_TIMEOUT:
                continue;
            case WAIT_OBJECT_0 + 1:
                return Wake::WriteRequest;
            case WAIT_OBJECT_0 + 2:
                return Wake::Stop;
            default:
                return Wake::Failed;
        }
    }
}

}  // namespace zrn::sim
