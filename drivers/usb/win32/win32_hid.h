#pragma once

#include <windows.h>

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
    void create_events() override;
    void reset_stop_and_write_request() override;
    void signal_write_request() override;
    void signal_stop() override;
    bool start_read(Device d, std::uint8_t* buffer3) override;
    bool start_write(Device d, const std::uint8_t* buffer3) override;
    Wake wait() override;

private:
    void close_events();
    HANDLE read_done_ = nullptr, write_request_ = nullptr, stop_ = nullptr, write_done_ = nullptr;
    OVERLAPPED read_ov_{}, write_ov_{};
    std::uint8_t write_buffer_[3] = {};  // must outlive the overlapped write
};

}  // namespace zrn::usbdrv
