// Open, claim, enable, release and close: the device state machine.
#include "service_trace.h"
#include "zrn/device_types.h"
#include "zrn/opos.h"
#include "zrn/so/service.h"
#include "zrn/text.h"

namespace zrn::so {

std::int32_t ServiceObject::unit() const { return so_unit_index(config_.DeviceName); }

void ServiceObject::adopt_control_object(ControlObject co) {
    if (co == co_) return;
    module_.retire_control_object(co_);
    co_ = co;
    module_.attach_control_object(co);
}

std::int32_t ServiceObject::OpenService(const std::string&, const std::string& device_name, ControlObject co) {
    if (!port_bound_ || !usb_bound_) {
        set_result(OPOS_E_FAILURE, OPOS_E_FAILURE);
        return OPOS_E_NOSERVICE;
    }
    adopt_control_object(co);
    // The table records the device key name, so that status reports and the
    // disable step find the entry also for a logical name.
    platform::Registry& reg = module_.ports().registry;
    const std::string asked = config::translate_device_name(config::read_logical_names(reg), device_name);
    const std::string key_name = config::stored_key_name(reg, asked).value_or(asked);
    // A name with a zero in it would be cut short in the claim table and by
    // the drivers, and its claim could never be removed again. An empty name
    // or one with a backslash would open the device class key itself or a
    // key below an entry, under a name no driver reports.
    if (key_name.empty() || key_name.find_first_of(std::string("\0\\", 2)) != std::string::npos) {
        set_result(OPOS_E_FAILURE, OPOS_E_FAILURE);
        return OPOS_E_NOEXIST;
    }
    if (key_name.size() > kOpenNameMax) {
        // No device key of the system is that long, and a shortened name
        // would open another device.
        set_result(OPOS_E_FAILURE, OPOS_E_FAILURE);
        return OPOS_E_NOEXIST;
    }
    if (!module_.open_table_add(key_name, co, this)) return set_result(OPOS_E_ILLEGAL, OPOS_E_ILLEGAL);
    module_.trace(every_line(), "%s%s", "> OpenService=", device_name.c_str());

    // A claim still held from an earlier open would otherwise stay in the
    // table for good once Claimed is reset below.
    if (claimed_) module_.ports().claims.Remove(open_name_);
    auto port = module_.hold_port();
    close_enabled_port(port);
    open_name_ = key_name;
    claimed_ = false;
    binary_conversion_ = false;
    module_.reset_at_open();
    config_.CapStatus = false;
    rc_ = rce_ = -1;
    direct_io_event_number_ = 1;
    check_health_text_.clear();

    // Read into copies: a refused entry must not leave half of its settings
    // behind for DirectIO, which needs no successful open.
    config::DeviceConfig config = config_;
    DriverParamBlock block = block_;
    const config::EntryRead read = read_device_entry(module_.ports().registry, open_name_, &config, &block);
    if (read == config::EntryRead::Ok) {
        config_ = config;
        block_ = block;
        block_.PortHandle = 0;
    }
    port.unlock();
    if (read != config::EntryRead::Ok) {
        module_.open_table_free_owned(this);
        if (read == config::EntryRead::NoKey) {
            set_result(OPOS_E_FAILURE, OPOS_E_FAILURE);
            return OPOS_E_NOEXIST;
        }
        return set_result(OPOS_E_ILLEGAL, 0);  // a name or opening code too long for its field
    }
    if (module_.ports().claims.Contains(open_name_)) module_.set_claimed_elsewhere(true);
    set_result(OPOS_SUCCESS, 0);
    module_.trace(every_line(), "%s%ld", "< OpenService=", 0L);
    return OPOS_SUCCESS;
}

std::int32_t ServiceObject::ClaimDevice(std::int32_t timeout) {
    module_.trace(every_line(), "%s%ld", "> ClaimDevice=", as_long(timeout));
    if (claimed_) return set_result(OPOS_SUCCESS, 0);
    std::int32_t rc;
    // Add is the check and the add in one step under the table's lock. A
    // claim it did not record is refused: reported as held, it would not
    // keep another process from the drawer.
    switch (module_.ports().claims.Add(open_name_)) {
        case ClaimAdd::Added:
            claimed_ = true;
            module_.set_claimed_elsewhere(false);
            rc = set_result(OPOS_SUCCESS, 0);
            break;
        case ClaimAdd::Present:
            module_.set_claimed_elsewhere(true);
            claimed_ = false;
            rc = set_result(OPOS_E_CLAIMED, 0);
            break;
        case ClaimAdd::LockBusy:
            rc = set_result(OPOS_E_CLAIMED, 0);
            break;
        case ClaimAdd::Full:
            rc = set_result(OPOS_E_FAILURE, kExtendedClaimTableFull);
            break;
        default:
            rc = set_result(OPOS_E_FAILURE, kExtendedClaimNotRecorded);
            break;
    }
    module_.trace(every_line(), "%s%ld", "< ClaimDevice=", as_long(rc));
    return rc;
}

bool ServiceObject::enable_sequence() {
    module_.ports().clock.sleep_ms(250);
    std::int32_t result = 1;
    {
        // Of two objects enabling at once, the later one closes the port the
        // earlier one opened rather than forget it.
        auto port = module_.hold_port();
        close_enabled_port(port);
        switch (config_.DeviceID) {
            case kDeviceIdSerialII:
            case kDeviceIdSmartSerial:
                result = drivers_.OpenCom(&block_, unit());
                break;
            case kDeviceIdParallel:
                result = drivers_.OpenLpt(&block_, unit());
                break;
            case kDeviceIdUsb:
                usb_unit_ = unit();
                result = drivers_.OpenUPort(usb_unit_);
                break;
            default:
                break;
        }
        if (result == 0) {
            // A port opened before the driver gave up (the line settings
            // refused) would stay open with no owner: every later enable of
            // the drawer would fail, or take the port as it stands.
            if (config_.DeviceID != kDeviceIdUsb && block_.PortHandle != 0 && block_.PortHandle != -1) close_port();
            set_result(OPOS_E_FAILURE, 0);
            return false;
        }
        module_.port_owner(port) = this;
        // With the port held: another thread's disable, which closes this
        // port, must not come between the two and leave the process enabled
        // with no port open.
        module_.mark_enabled();
    }
    set_result(OPOS_SUCCESS, 0);
    // Disabling frees this object's entry; a re-enable without a new open
    // records it again so status reports still reach the Control Object.
    if (!module_.open_table_has_owned(this) && !open_name_.empty()) module_.open_table_add(open_name_, co_, this);
    return true;
}

void ServiceObject::close_port() {
    switch (config_.DeviceID) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial:
            if (block_.PortHandle != -1) drivers_.CloseCom(&block_);
            break;
        case kDeviceIdParallel:
            if (block_.PortHandle != -1) drivers_.CloseLpt(&block_);
            break;
        case kDeviceIdUsb:
            drivers_.CloseUPort(usb_unit_);
            break;
        default:
            break;
    }
    // The handle is closed: the block must not offer it to a later write,
    // where it may by then name another object of the process.
    if (config_.DeviceID != kDeviceIdUsb) block_.PortHandle = 0;
}

void ServiceObject::close_enabled_port(const ServiceModule::PortGuard& port) {
    ServiceObject*& owner = module_.port_owner(port);
    if (owner) owner->close_port();
    owner = nullptr;
}

void ServiceObject::disable_sequence() {
    // The port is the enabling object's, which need not be this one.
    {
        auto port = module_.hold_port();
        close_enabled_port(port);
        module_.mark_disabled();
    }
    module_.open_table_free_owned(this);
}

void ServiceObject::enable(std::int32_t number) {
    if (number == 1) {
        bool already = module_.enabled();
        if (!already) {
            if (!claimed_ && !module_.ports().claims.Contains(open_name_)) module_.set_claimed_elsewhere(false);
            already = module_.enabled();
        }
        if (!already) {
            if (module_.claimed_elsewhere()) {
                rc_ = OPOS_E_CLAIMED;
            } else if (!enable_sequence()) {
                module_.mark_disabled();
                rc_ = OPOS_E_FAILURE;
            }
            rce_ = 0;
        } else {
            set_result(module_.claimed_elsewhere() ? OPOS_E_CLAIMED : OPOS_SUCCESS, 0);
        }
    } else {
        if (module_.enabled()) disable_sequence();
        set_result(OPOS_SUCCESS, 0);
    }
    module_.trace(every_line(), "%s%ld", "> DeviceEnabled=", as_long(number));
}

std::int32_t ServiceObject::ReleaseDevice() {
    module_.trace(every_line(), "> ReleaseDevice");
    std::int32_t rc;
    if (!claimed_) {
        rc = set_result(OPOS_E_ILLEGAL, 0);
    } else {
        module_.ports().claims.Remove(open_name_);
        claimed_ = false;
        module_.set_claimed_elsewhere(false);
        release_done_ = true;
        rc = set_result(OPOS_SUCCESS, 0);
    }
    module_.trace(every_line(), "%s%ld", "< ReleaseDevice=", as_long(rc));
    return rc;
}

std::int32_t ServiceObject::CloseService() {
    module_.trace(every_line(), "> CloseService");
    if (module_.enabled()) disable_sequence();
    // Also release a claim taken again after an earlier release.
    if (!release_done_ || claimed_) ReleaseDevice();
    module_.mark_disabled();
    claimed_ = false;
    module_.open_table_free_owned(this);
    // The Control Object's pointer is not used after the close.
    module_.retire_control_object(co_);
    co_ = nullptr;
    set_result(OPOS_SUCCESS, 0);
    module_.trace(every_line(), "%s%ld", "< CloseService=", 0L);
    return OPOS_SUCCESS;
}

}  // namespace zrn::so
