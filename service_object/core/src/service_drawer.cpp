// The drawer operations: opening it, reading and waiting for its state,
// the health check and DirectIO.
#include "service_trace.h"
#include "zrn/device_types.h"
#include "zrn/modem_status.h"
#include "zrn/opos.h"
#include "zrn/so/service.h"
#include "zrn/text.h"

namespace zrn::so {

std::int32_t ServiceObject::drawer_status_query() {
    platform::Clock& clock = module_.ports().clock;
    if (config_.DeviceID != kDeviceIdUsb) clock.sleep_ms(200);
    switch (config_.DeviceID) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial: {
            const std::int32_t closed = closed_modem_word(config_.Status, config_.HandShaking);
            std::int32_t value = 0;
            std::uint8_t ok;
            {
                auto port = module_.hold_port();
                ok = drivers_.GetComStat(&block_, &value);
            }
            if (ok != 0) return value == closed ? 0 : 1;
            return value >= -4 && value <= -1 ? value : -1;
        }
        case kDeviceIdParallel:
            return 0;
        case kDeviceIdUsb: {
            clock.sleep_ms(250);
            const std::int32_t closed = config_.Status == 0 ? 2 : 999;
            std::int32_t value;
            {
                auto port = module_.hold_port();
                value = drivers_.UCashDrawerStatus(usb_unit_);
            }
            if (value == 1 || value == 2) return value == closed ? 0 : 1;
            return value >= -4 && value <= -1 ? value : -1;
        }
        default:
            return 0;
    }
}

std::uint8_t ServiceObject::send_lpt(const ServiceModule::PortGuard& port, const char* command) {
    const std::uint8_t ok = drivers_.PutLpt(&block_, command);
    // The parallel interface is closed and reopened after every command, if
    // this object had it open: reopening a port nobody enabled would keep it
    // open for good, with no owner to close it.
    if (module_.port_owner(port) != this) return ok;
    drivers_.CloseLpt(&block_);
    module_.ports().clock.sleep_ms(50);
    drivers_.OpenLpt(&block_, unit());
    return ok;
}

std::int32_t ServiceObject::write_command(const std::string& command) {
    auto port = module_.hold_port();
    switch (config_.DeviceID) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial:
            return drivers_.PutCom(&block_, command.c_str());
        case kDeviceIdParallel:
            return send_lpt(port, command.c_str());
        default:
            return 1;
    }
}

std::int32_t ServiceObject::OpenDrawer() {
    const bool every = every_line();
    const bool errors = error_lines();
    module_.trace(every, "> OpenDrawer");
    if (module_.offline()) return set_result(OPOS_E_NOHARDWARE, 0);
    if (!module_.enabled() || module_.claimed_elsewhere()) {
        const std::int32_t rc = set_result(module_.claimed_elsewhere() ? OPOS_E_CLAIMED : OPOS_E_DISABLED, 0);
        module_.trace(every, "%s%ld", "< OpenDrawer=", as_long(rc));
        return rc;
    }
    if (config_.FirstOC.empty() && config_.DeviceID != kDeviceIdUsb) {
        rc_ = OPOS_E_ILLEGAL;
        module_.trace(errors, "%s%ld", "< OpenDrawer_Error: RC=", as_long(rc_));
        module_.trace(errors, "%s%ld", "< OpenDrawer_Error: RCE=", as_long(rce_));
        return OPOS_E_ILLEGAL;
    }
    // The command is a zero-terminated string: a code whose byte is 0 ends it.
    std::string cmd;
    cmd.push_back(static_cast<char>(decimal_value(config_.FirstOC) & 0xFF));
    if (!config_.SecondOC.empty()) cmd.push_back(static_cast<char>(decimal_value(config_.SecondOC) & 0xFF));
    if (config_.DeviceID == kDeviceIdSerialII) cmd += "\r\n";

    std::int32_t result;
    if (config_.DeviceID == kDeviceIdUsb) {
        {
            auto port = module_.hold_port();
            result = drivers_.OpenUCashDrawer(usb_unit_);
        }
        module_.ports().clock.sleep_ms(200);
    } else {
        result = write_command(cmd);
    }
    if (result > 0) {
        set_result(OPOS_SUCCESS, 0);
        module_.trace(every, "%s%ld", "< OpenDrawer=", 0L);
        return OPOS_SUCCESS;
    }
    std::int32_t rc = set_result(OPOS_E_FAILURE, 0);
    if (config_.DeviceID == kDeviceIdUsb) {
        if (result == -1) {
            rc = set_result(OPOS_E_NOHARDWARE, 0);
        } else if (result >= -4 && result <= -2) {
            set_result(OPOS_E_EXTENDED, extended_from_driver_code(result));
            rc = OPOS_E_FAILURE;
        }
    }
    module_.trace(errors, "%s%ld", "< OpenDrawer_Failure: RC=", as_long(rc_));
    module_.trace(errors, "%s%ld", "< OpenDrawer_Failure: RCE=", as_long(rce_));
    return rc;
}

bool ServiceObject::drawer_reads_open() {
    switch (config_.DeviceID) {
        case kDeviceIdUsb:
            return module_.usb_drawer_status() == 1;
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial: {
            // Read as DrawerOpened reads it, from the word the port driver last
            // polled; without a sense line (Status 3) there is nothing to wait for.
            if (config_.Status < 0 || config_.Status > 2) return false;
            const std::int32_t closed = closed_modem_word(config_.Status, config_.HandShaking);
            std::int32_t value = 0;
            auto port = module_.hold_port();
            return drivers_.GetComStat(&block_, &value) != 0 && value != closed;
        }
        default:
            return false;
    }
}

std::int32_t ServiceObject::WaitForDrawerClose(std::int32_t beep_timeout, std::int32_t beep_frequency,
                                               std::int32_t beep_duration, std::int32_t beep_delay) {
    const bool every = every_line();
    module_.trace(every, "%s%ld,%ld,%ld,%ld", "> WaitForDrawerClose=", as_long(beep_timeout), as_long(beep_frequency), as_long(beep_duration),
             as_long(beep_delay));
    if (module_.offline()) return set_result(OPOS_E_NOHARDWARE, 0);
    std::int32_t rc;
    if (!module_.enabled() || module_.claimed_elsewhere()) {
        rc = set_result(module_.claimed_elsewhere() ? OPOS_E_CLAIMED : OPOS_E_DISABLED, 0);
    } else {
        platform::Clock& clock = module_.ports().clock;
        const std::uint32_t delay = beep_delay > 0 ? static_cast<std::uint32_t>(beep_delay) : 0;
        std::int64_t t = 0;
        rc = OPOS_SUCCESS;
        while (drawer_reads_open()) {
            // A device that goes offline or is disabled meanwhile ends the
            // wait instead of holding the caller for ever.
            if (module_.offline()) {
                rc = OPOS_E_NOHARDWARE;
                break;
            }
            if (!module_.enabled()) {
                rc = OPOS_E_DISABLED;
                break;
            }
            if (t < beep_timeout) {
                clock.sleep_ms(200);
                t += 500;
            } else {
                clock.sleep_ms(delay);
            }
            clock.sleep_ms(250);
            t += 1;
            if (t >= beep_timeout) module_.ports().beeper.beep(beep_frequency, beep_duration);
        }
        set_result(rc, 0);
    }
    module_.trace(every, "%s%ld", "< WaitForDrawerClose=", as_long(rc));
    return rc;
}

std::int32_t ServiceObject::CheckHealth(std::int32_t level) {
    module_.trace(every_line(), "%s%ld", "> CheckHealth=", as_long(level));
    if (level != 1) return set_result(OPOS_E_ILLEGAL, OPOS_E_ILLEGAL);
    std::int32_t rc;
    if (module_.offline()) {
        check_health_text_ = "Cash Drawer CHealth INTERNAL: Error";
        rc = set_result(OPOS_E_NOHARDWARE, 0);
    } else {
        check_health_text_ = "Cash Drawer CHealth INTERNAL: Successful";
        rc = set_result(OPOS_SUCCESS, 0);
    }
    module_.trace(every_line(), "%s%ld", "< CheckHealth=", as_long(rc));
    return rc;
}

std::int32_t ServiceObject::DirectIO(std::int32_t command, std::int32_t*, const std::string* text) {
    module_.trace(every_line(), "%s%ld", "> DirectIO=", as_long(command));
    if (module_.offline()) return set_result(OPOS_E_NOHARDWARE, 0);
    const std::string cmd = text ? *text : std::string();
    // A longer command would be cut before reaching the hardware.
    if (cmd.size() > kDirectIOTextMax) return set_result(OPOS_E_ILLEGAL, 0);
    std::int32_t result;
    if (config_.DeviceID == kDeviceIdUsb) {
        // Before any enable the unit comes from the device's name.
        auto port = module_.hold_port();
        result = drivers_.OpenUCashDrawer(usb_unit_ >= 0 ? usb_unit_ : unit());
        if (result < 0) result = 0;  // the driver's failure codes are failures too
    } else {
        result = write_command(cmd);
    }
    if (result == 0) return set_result(OPOS_E_ILLEGAL, 0);
    module_.raise_direct_io(direct_io_event_number_, co_);
    ++direct_io_event_number_;
    set_result(OPOS_SUCCESS, 0);
    module_.trace(every_line(), "%s%ld", "< DirectIO=", 0L);
    return OPOS_SUCCESS;
}

}  // namespace zrn::so
