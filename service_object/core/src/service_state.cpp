// Open, claim, enable, release and close: the device state machine.
#include "service_trace.h"
#include "zrn/device_types.h"
#include "zrn/opos.h"
#include "zrn/so/service.h"
#include "zrn/text.h"

namespace zrn::so {

std::int32_t ServiceObject::unit() const { return so_unit_index(config_.DeviceName); }

std::int32_t ServiceObject::OpenService(const std::string&, const std::string& device_name, ControlObject co) {
    if (!port_bound_ || !usb_bound_) {
        set_result(OPOS_E_FAILURE, OPOS_E_FAILURE);
        return OPOS_E_NOSERVICE;
    }
    module_.CurrentControlObject.store(co);
    // The table records the device key name, so that status reports and the
    // disable step find the entry also for a logical name.
    const std::string key_name = stored_device_key_name(
        module_.ports().registry, translate_device_name(read_logical_names(module_.ports().registry), device_name));
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
    close_enabled_port();
    open_name_ = key_name;
    co_ = co;
    claimed_ = false;
    module_.ClaimedElsewhere.store(false);
    module_.DeviceEnabled.store(false);
    binary_conversion_ = false;
    module_.FreezeEvents.store(false);
    config_.CapStatus = false;
    rc_ = rce_ = -1;
    direct_io_event_number_ = 1;
    check_health_text_.clear();
    module_.clear_event_queue();

    // Read into copies: a refused entry must not leave half of its settings
    // behind for DirectIO, which needs no successful open.
    DeviceConfig config = config_;
    DriverParamBlock block = block_;
    const EntryRead read = read_device_entry(module_.ports().registry, open_name_, &config, &block);
    if (read == EntryRead::Ok) {
        config_ = config;
        block_ = block;
    }
    if (read != EntryRead::Ok) {
        module_.open_table_free_owned(this);
        if (read == EntryRead::NoKey) {
            set_result(OPOS_E_FAILURE, OPOS_E_FAILURE);
            return OPOS_E_NOEXIST;
        }
        return set_result(OPOS_E_ILLEGAL, 0);  // a name or opening code too long for its field
    }
    if (module_.ports().claims.Contains(open_name_)) module_.ClaimedElsewhere.store(true);
    set_result(OPOS_SUCCESS, 0);
    block_.PortHandle = 0;
    module_.trace(every_line(), "%s%ld", "< OpenService=", 0L);
    return OPOS_SUCCESS;
}

std::int32_t ServiceObject::ClaimDevice(std::int32_t timeout) {
    module_.trace(every_line(), "%s%ld", "> ClaimDevice=", as_long(timeout));
    if (claimed_) return set_result(OPOS_SUCCESS, 0);
    std::int32_t rc;
    // Add is the check and the add in one step under the table's lock.
    if (module_.ports().claims.Add(open_name_) == -1) {
        module_.ClaimedElsewhere.store(true);
        claimed_ = false;
        rc = set_result(OPOS_E_CLAIMED, 0);
    } else {
        claimed_ = true;
        module_.ClaimedElsewhere.store(false);
        rc = set_result(OPOS_SUCCESS, 0);
    }
    module_.trace(every_line(), "%s%ld", "< ClaimDevice=", as_long(rc));
    return rc;
}

bool ServiceObject::enable_sequence() {
    close_enabled_port();
    module_.ports().clock.sleep_ms(250);
    std::int32_t result = 1;
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
        set_result(OPOS_E_FAILURE, 0);
        return false;
    }
    set_result(OPOS_SUCCESS, 0);
    module_.PortOwner.store(this);
    module_.DeviceEnabled.store(true);
    module_.ReportedDrawerState.store(-1);
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

void ServiceObject::close_enabled_port() {
    if (ServiceObject* owner = module_.PortOwner.exchange(nullptr)) owner->close_port();
}

void ServiceObject::disable_sequence() {
    // The port is the enabling object's, which need not be this one.
    close_enabled_port();
    module_.open_table_free_owned(this);
    module_.DeviceEnabled.store(false);
}

void ServiceObject::enable(std::int32_t number) {
    if (number == 1) {
        bool already = module_.DeviceEnabled.load();
        if (!already) {
            if (!claimed_ && !module_.ports().claims.Contains(open_name_)) module_.ClaimedElsewhere.store(false);
            already = module_.DeviceEnabled.load();
        }
        if (!already) {
            if (module_.ClaimedElsewhere.load()) {
                rc_ = OPOS_E_CLAIMED;
            } else if (!enable_sequence()) {
                module_.DeviceEnabled.store(false);
                rc_ = OPOS_E_FAILURE;
            }
            rce_ = 0;
        } else {
            set_result(module_.ClaimedElsewhere.load() ? OPOS_E_CLAIMED : OPOS_SUCCESS, 0);
        }
    } else {
        if (module_.DeviceEnabled.load()) disable_sequence();
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
        module_.ClaimedElsewhere.store(false);
        release_done_ = true;
        rc = set_result(OPOS_SUCCESS, 0);
    }
    module_.trace(every_line(), "%s%ld", "< ReleaseDevice=", as_long(rc));
    return rc;
}

std::int32_t ServiceObject::CloseService() {
    module_.trace(every_line(), "> CloseService");
    if (module_.DeviceEnabled.load()) disable_sequence();
    // Also release a claim taken again after an earlier release.
    if (!release_done_ || claimed_) ReleaseDevice();
    module_.DeviceEnabled.store(false);
    claimed_ = false;
    module_.open_table_free_owned(this);
    // The Control Object's pointer is not used after the close.
    ControlObject mine = co_;
    module_.CurrentControlObject.compare_exchange_strong(mine, nullptr);
    co_ = nullptr;
    set_result(OPOS_SUCCESS, 0);
    module_.trace(every_line(), "%s%ld", "< CloseService=", 0L);
    return OPOS_SUCCESS;
}

}  // namespace zrn::so
