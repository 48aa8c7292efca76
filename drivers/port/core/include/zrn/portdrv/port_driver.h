#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "zrn/modem_status.h"
#include "zrn/param_block.h"
#include "zrn/platform/clock.h"
#include "zrn/platform/threads.h"
#include "zrn/portdrv/serial_port.h"
#include "zrn/status_capture.h"

namespace zrn::portdrv {

constexpr int kUnits = 10;
constexpr std::int32_t kVersion = 3210;
constexpr int kPutComChecks = 10;
constexpr int kCloseComChecks = 50;
// A write held by flow control or a stalled line gives up after this long,
// so no caller waits for ever with the poll thread paused.
constexpr std::uint32_t kWriteBoundMs = 500;
// Before a unit's first poll: unlike any word a port shows, so the first
// word polled is always reported.
constexpr std::uint32_t kNoWordSeen = 0xFF;

// What a modem-status word says of the drawer, for a unit's Status and
// HandShaking: 0 closed, 1 open, -1 nothing to report.
int drawer_state_of_word(std::uint32_t word, std::int32_t status, std::int32_t handshaking);
// "CD926", "CD926-2".. for the serial-II family; "CD347".. for smart serial.
std::string status_name(bool smart, int unit);

// The port driver's module-wide state and its exports' behaviour.
class PortDriver {
public:
    PortDriver(SerialPorts& ports, platform::Clock& clock, platform::Threads& threads);
    ~PortDriver();  // stops the poll thread (the DLL never destroys its driver)

    std::uint8_t OpenCom(DriverParamBlock* block, std::int32_t unit);
    std::uint8_t CloseCom(DriverParamBlock* block);
    std::uint8_t PutCom(DriverParamBlock* block, const char* text);
    std::uint8_t GetComStat(DriverParamBlock* block, std::int32_t* status);
    std::uint8_t OpenLpt(DriverParamBlock* block, std::int32_t unit);
    std::uint8_t CloseLpt(DriverParamBlock* block);
    std::uint8_t PutLpt(DriverParamBlock* block, const char* text);
    std::int32_t StartStatusCCapture(std::int32_t enable, StatusCaptureCallback callback) {
        return capture_.start(enable, callback);
    }
    std::int32_t CVersion(std::int32_t) { return kVersion; }

    // One sweep of the poll thread over both families (tests drive it).
    void sweep();
    bool poll_thread_started() const { return thread_started_.load(); }
    bool poll_thread_running() const { return thread_running_.load(); }
    PortHandle shared_com(int port) const { return shared_com_[port - 1].load(); }
    PortHandle shared_lpt(int port) const { return shared_lpt_[port - 1].load(); }
    PortHandle slot_handle(bool smart, int unit) const { return family(smart)[unit].handle.load(); }

private:
    struct Slot {
        std::atomic<PortHandle> handle{0};
        std::atomic<std::uint32_t> current{0};    // the word GetComStat reads
        std::atomic<std::uint32_t> last_seen{kNoWordSeen};  // what a change is reported against
        std::atomic<std::int32_t> status{0};
        std::atomic<std::int32_t> handshaking{0};
    };
    Slot* family(bool smart) { return smart ? smart_ : serial2_; }
    const Slot* family(bool smart) const { return smart ? smart_ : serial2_; }
    void register_unit(bool smart, std::int32_t unit, PortHandle h, const DriverParamBlock& b);
    void release_unit(bool smart, int unit);
    bool any_unit() const;
    PortHandle own_lpt(const DriverParamBlock& b) const;  // 0: not the port's open handle
    bool pause(int checks);
    void lift_pause();
    bool pause_point();  // the poll thread's side; true when it paused
    void poll_loop();
    void wake();

    SerialPorts& ports_;
    platform::Clock& clock_;
    platform::Threads& threads_;
    Slot serial2_[kUnits];
    Slot smart_[kUnits];
    std::atomic<PortHandle> shared_com_[4] = {};
    std::atomic<PortHandle> shared_lpt_[2] = {};
    std::atomic<bool> thread_started_{false};
    std::atomic<bool> thread_running_{false};
    std::atomic<std::uint32_t> pause_request_{0};  // the waiting request's number; 0 none
    std::atomic<bool> resume_permission_{true};
    std::atomic<std::uint32_t> pause_ack_{0};  // the request acknowledged; 0 none
    std::uint32_t request_count_ = 0;          // under caller_mu_
    std::atomic<bool> stop_{false};
    // Whether the driver still exists when its poll thread first runs.
    struct Life {
        std::mutex mu;
        bool alive = true, entered = false;
    };
    std::shared_ptr<Life> life_ = std::make_shared<Life>();
    std::mutex caller_mu_;  // one pausing caller at a time
    StatusCapture capture_;
    std::mutex idle_mu_;
    std::condition_variable idle_cv_;
};

}  // namespace zrn::portdrv
