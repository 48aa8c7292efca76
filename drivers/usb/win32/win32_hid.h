#pragma once

#include <windows.h>

#include <atomic>

#include "zrn/usbdrv/hid_port.h"

namespace zrn::usbdrv {

// HID interfaces through the device-setup and HID API, with overlapped
// 3-byte report reads and writes.
class Win32Hid final : public HidPort {
public:
    // How long a cancelled read or write may take to give its buffer back
    // before it is left to the system.
    static constexpr DWORD kIoEndWaitMs = 1000;

    // One overlapped operation and its buffer, both the system's while it
    // is outstanding.
    struct IoSlot {
        OVERLAPPED ov{};
        std::uint8_t data[3] = {};
        bool pending = false;
    };

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
    bool start_read(Device d) override;
    bool start_write(Device d, const std::uint8_t* report3) override;
    Wake wait() override;
    bool finish_read(Device d, std::uint8_t* report3) override;
    void cancel_io(Device d) override;
    // Operations whose buffers were left to the system (they did not end in time).
    int abandoned() const { return abandoned_.load(); }

private:
    // Ends slot's outstanding operation (cancelled first when asked),
    // waiting at most kIoEndWaitMs; a slot still outstanding then is
    // replaced, never reused.
    void end_io(HANDLE h, std::atomic<IoSlot*>& slot, bool cancel);

    // Made once by the status thread and never replaced, so a caller that
    // signals one never meets a closed or half-made handle.
    std::atomic<HANDLE> read_done_{nullptr}, write_request_{nullptr}, stop_{nullptr}, write_done_{nullptr};
    // The rest belongs to the status thread (or to a closer once it ended).
    std::atomic<IoSlot*> read_{new IoSlot}, write_{new IoSlot};
    std::atomic<int> abandoned_{0};
};

}  // namespace zrn::usbdrv
