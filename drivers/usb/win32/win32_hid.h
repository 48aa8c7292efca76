#pragma once

#include <windows.h>

#include <atomic>

#include "zrn/usbdrv/hid_port.h"

namespace zrn::usbdrv {

// HID interfaces through the device-setup and HID API, with overlapped
// 3-byte report reads and writes.
class Win32Hid final : public HidPort {
public:
    ~Win32Hid() override;
    bool list_interfaces(std::vector<std::string>* paths) override;
    Device open(const std::string& path) override;
    bool attributes(Device d, std::uint16_t* vendor, std::uint16_t* product) override;
    bool fetch_descriptor(Device d) override;
    bool close(Device d) override;
    bool create_events() override;
    void reset_stop_and_write_request() override;
    void signal_write_request() override;
    void signal_stop() override;
    bool start_read(Device d, std::uint8_t* buffer3) override;
    bool start_write(Device d, const std::uint8_t* buffer3) override;
    Wake wait() override;
    bool finish_read(Device d) override;
    void cancel_io(Device d) override;

private:
    // Made once by the status thread and never replaced, so a caller that
    // signals one never meets a closed or half-made handle.
    std::atomic<HANDLE> read_done_{nullptr}, write_request_{nullptr}, stop_{nullptr}, write_done_{nullptr};
    // The rest belongs to the status thread (or to a closer once it ended).
    OVERLAPPED read_ov_{}, write_ov_{};
    bool read_pending_ = false, write_pending_ = false;
    std::uint8_t write_buffer_[3] = {};  // must outlive the overlapped write
};

}  // namespace zrn::usbdrv
