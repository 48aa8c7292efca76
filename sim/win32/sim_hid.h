#pragma once

#include <windows.h>

#include "zrn/sim/sim_state.h"
#include "zrn/usbdrv/hid_port.h"

namespace zrn::sim {

// The USB driver's HID layer over the simulated drawer of the shared block.
// The drawer's reports wake the status thread through a named event, so a
// separate program changing the block is seen at once.
class SimHid final : public usbdrv::HidPort {
public:
    SimHid(SimState* state, SimLock& lock);
    ~SimHid() override;
    bool list_interfaces(std::vector<std::string>* paths) override;
    Device open(const std::string& path) override;
    bool attributes(Device d, std::uint16_t* vendor, std::uint16_t* product) override;
    bool fetch_descriptor(Device d) override;
    bool close(Device d) override;
    bool create_events() override;
    void reset_stop_and_write_request() override;
    void signal_write_request() override;
    void signal_stop() override;
    bool start_read(Device d) override;
    bool start_write(Device d, const std::uint8_t* report3) override;
    Wake wait() override;
    bool finish_read(Device d, std::uint8_t* report3) override;
    void cancel_io(Device d) override;

private:
    bool present();
    SimState* s_;
    SimLock& lock_;
    HANDLE report_ = nullptr, write_request_ = nullptr, stop_ = nullptr;
    std::uint8_t read_state_ = 0;
    bool read_pending_ = false, read_failed_ = false;
    std::uint32_t seen_seq_ = 0;
};

// Tells the drivers of every process that the USB drawer sent a report.
void usb_report(SimState* state, SimLock& lock);
// Only wakes the drivers' status threads, for a report already counted
// (count_usb_report) under the caller's lock.
void signal_usb_report();

}  // namespace zrn::sim
