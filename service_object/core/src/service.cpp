#include "zrn/so/service.h"

#include "zrn/device_types.h"
#include "zrn/opos.h"
#include "zrn/text.h"

namespace zrn::so {

namespace {
long L(std::int32_t v) { return static_cast<long>(v); }
}  // namespace

// --- creation and destruction ------------------------------------------------

ServiceObject::ServiceObject(ServiceModule& module) : m_(module) { bind(); }

ServiceObject::~ServiceObject() {
    // An object released while enabled takes its open port with it.
    ServiceObject* mine = this;
    if (m_.PortOwner.compare_exchange_strong(mine, nullptr)) {
        close_port();
        m_.DeviceEnabled.store(false);
    }
    if (claimed_) m_.ports().claims.Remove(open_name_);
    m_.open_table_free_owned(this);
    // Events still on their way must not reach a Control Object that has let
    // go of this object (and may be gone itself).
    ControlObject co = co_;
    if (co) m_.CurrentControlObject.compare_exchange_strong(co, nullptr);
    m_.trace(m_.trace_switch().errors(), "ZRNOPOS_Termination");
}

void ServiceObject::read_settings() {
    settings_.TraceEnabled = m_.TraceEnabled.load();
    read_service_settings(m_.ports().registry, &settings_);
    m_.TraceEnabled.store(settings_.TraceEnabled);
}

void ServiceObject::bind() {
    // Creating any object resets the device state of the whole process; a
    // port an earlier enable opened is closed, not left open for good.
    close_enabled_port();
    m_.DeviceEnabled.store(false);
    m_.FreezeEvents.store(false);
    m_.ClaimedElsewhere.store(false);
    m_.clear_event_queue();
    m_.UsbDrawerStatus.store(0);
    m_.DeviceOffline.store(0);

    read_settings();
    if (m_.trace_switch().errors()) {
        m_.ports().trace.section_break();
        m_.trace(true, "ZRNOPOS_Initialization");
    }
    if (!bind_port_driver()) return;
    port_bound_ = true;
    m_.trace(m_.trace_switch().all(), "ZRNOPOS_PortDrawerSO.DLL: Loaded");

    read_settings();
    if (!bind_usb_driver()) return;
    usb_bound_ = true;
    m_.trace(m_.trace_switch().all(), "ZRNOPOS_USB730SO.DLL: Loaded");

    const StatusCaptureCallback cb = m_.ports().callback;
    m_.StartStatusUCapture.load()(1, cb);
    m_.StartStatusCCapture.load()(1, cb);
}

namespace {

// Loads TargetPath + file and looks every name up, in order. On success the
// library stays loaded for good; at the first missing name it is released.
bool load_library(DriverLoader& loader, const std::string& target_path, const char* file, const char* const* names,
                  int count, void** out) {
    const std::string path = target_path + "\\" + file;
    // A path too long for the library-path field is refused, not truncated.
    if (path.size() > kTargetPathMax) return false;
    const DriverLoader::Library lib = loader.load(path);
    if (!lib) return false;
    for (int i = 0; i < count; ++i) {
        out[i] = loader.symbol(lib, names[i]);
        if (!out[i]) {
            loader.release(lib);
            return false;
        }
    }
    return true;
}

}  // namespace

bool ServiceObject::bind_port_driver() {
    static const char* const kNames[9] = {"CVersion", "OpenCom",  "CloseCom", "PutCom",             "GetComStat",
                                          "OpenLpt",  "CloseLpt", "PutLpt",   "StartStatusCCapture"};
    void* f[9];
    if (!load_library(m_.ports().loader, settings_.TargetPath, "PortDrawerSO.DLL", kNames, 9, f)) return false;
    ep_.CVersion = reinterpret_cast<FnCVersion>(f[0]);
    ep_.OpenCom = reinterpret_cast<FnOpenCom>(f[1]);
    ep_.CloseCom = reinterpret_cast<FnCloseCom>(f[2]);
    ep_.PutCom = reinterpret_cast<FnPutCom>(f[3]);
    ep_.GetComStat = reinterpret_cast<FnGetComStat>(f[4]);
    ep_.OpenLpt = reinterpret_cast<FnOpenLpt>(f[5]);
    ep_.CloseLpt = reinterpret_cast<FnCloseLpt>(f[6]);
    ep_.PutLpt = reinterpret_cast<FnPutLpt>(f[7]);
    m_.StartStatusCCapture.store(reinterpret_cast<FnStartStatusCapture>(f[8]));
    return true;
}

bool ServiceObject::bind_usb_driver() {
    static const char* const kNames[6] = {"UVersion",   "OpenUPort", "OpenUCashDrawer", "UCashDrawerStatus",
                                          "CloseUPort", "StartStatusUCapture"};
    void* f[6];
    if (!load_library(m_.ports().loader, settings_.TargetPath, "USB730SO.DLL", kNames, 6, f)) return false;
    ep_.UVersion = reinterpret_cast<FnUVersion>(f[0]);
    ep_.OpenUPort = reinterpret_cast<FnUnitCall>(f[1]);
    ep_.OpenUCashDrawer = reinterpret_cast<FnUnitCall>(f[2]);
    ep_.UCashDrawerStatus = reinterpret_cast<FnUnitCall>(f[3]);
    ep_.CloseUPort = reinterpret_cast<FnUnitCall>(f[4]);
    m_.StartStatusUCapture.store(reinterpret_cast<FnStartStatusCapture>(f[5]));
    return true;
}

std::int32_t ServiceObject::unit() const { return so_unit_index(config_.DeviceName); }

// --- open, claim, enable, release, close --------------------------------------

std::int32_t ServiceObject::OpenService(const std::string&, const std::string& device_name, ControlObject co) {
    if (!port_bound_ || !usb_bound_) {
        set(OPOS_E_FAILURE, OPOS_E_FAILURE);
        return OPOS_E_NOSERVICE;
    }
    m_.CurrentControlObject.store(co);
    // The table records the device key name, so that status reports and the
    // disable step find the entry also for a logical name.
    const std::string key_name = stored_device_key_name(
        m_.ports().registry, translate_device_name(read_logical_names(m_.ports().registry), device_name));
    // A name with a zero in it would be cut short in the claim table and by
    // the drivers, and its claim could never be removed again. An empty name
    // or one with a backslash would open the device class key itself or a
    // key below an entry, under a name no driver reports.
    if (key_name.empty() || key_name.find_first_of(std::string("\0\\", 2)) != std::string::npos) {
        set(OPOS_E_FAILURE, OPOS_E_FAILURE);
        return OPOS_E_NOEXIST;
    }
    if (key_name.size() > kOpenNameMax) {
        // No device key of the system is that long, and a shortened name
        // would open another device.
        set(OPOS_E_FAILURE, OPOS_E_FAILURE);
        return OPOS_E_NOEXIST;
    }
    if (!m_.open_table_add(key_name, co, this)) return set(OPOS_E_ILLEGAL, OPOS_E_ILLEGAL);
    m_.trace(m_.trace_switch().all(), "%s%s", "> OpenService=", device_name.c_str());

    // A claim still held from an earlier open would otherwise stay in the
    // table for good once Claimed is reset below.
    if (claimed_) m_.ports().claims.Remove(open_name_);
    close_enabled_port();
    open_name_ = key_name;
    co_ = co;
    claimed_ = false;
    m_.ClaimedElsewhere.store(false);
    m_.DeviceEnabled.store(false);
    binary_conversion_ = false;
    m_.FreezeEvents.store(false);
    config_.CapStatus = false;
    rc_ = rce_ = -1;
    direct_io_event_number_ = 1;
    check_health_text_.clear();
    m_.clear_event_queue();

    // Read into copies: a refused entry must not leave half of its settings
    // behind for DirectIO, which needs no successful open.
    DeviceConfig config = config_;
    DriverParamBlock block = block_;
    const EntryRead read = read_device_entry(m_.ports().registry, open_name_, &config, &block);
    if (read == EntryRead::Ok) {
        config_ = config;
        block_ = block;
    }
    if (read != EntryRead::Ok) {
        m_.open_table_free_owned(this);
        if (read == EntryRead::NoKey) {
            set(OPOS_E_FAILURE, OPOS_E_FAILURE);
            return OPOS_E_NOEXIST;
        }
        return set(OPOS_E_ILLEGAL, 0);  // a name or opening code too long for its field
    }
    if (m_.ports().claims.Contains(open_name_)) m_.ClaimedElsewhere.store(true);
    set(OPOS_SUCCESS, 0);
    block_.PortHandle = 0;
    m_.trace(m_.trace_switch().all(), "%s%ld", "< OpenService=", 0L);
    return OPOS_SUCCESS;
}

std::int32_t ServiceObject::ClaimDevice(std::int32_t timeout) {
    m_.trace(m_.trace_switch().all(), "%s%ld", "> ClaimDevice=", L(timeout));
    if (claimed_) return set(OPOS_SUCCESS, 0);
    std::int32_t rc;
    // Add is the check and the add in one step under the table's lock.
    if (m_.ports().claims.Add(open_name_) == -1) {
        m_.ClaimedElsewhere.store(true);
        claimed_ = false;
        rc = set(OPOS_E_CLAIMED, 0);
    } else {
        claimed_ = true;
        m_.ClaimedElsewhere.store(false);
        rc = set(OPOS_SUCCESS, 0);
    }
    m_.trace(m_.trace_switch().all(), "%s%ld", "< ClaimDevice=", L(rc));
    return rc;
}

bool ServiceObject::enable_sequence() {
    close_enabled_port();
    m_.ports().clock.sleep_ms(250);
    std::int32_t result = 1;
    switch (config_.DeviceID) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial:
            result = ep_.OpenCom(&block_, unit());
            break;
        case kDeviceIdParallel:
            result = ep_.OpenLpt(&block_, unit());
            break;
        case kDeviceIdUsb:
            usb_unit_ = unit();
            result = ep_.OpenUPort(usb_unit_);
            break;
        default:
            break;
    }
    if (result == 0) {
        set(OPOS_E_FAILURE, 0);
        return false;
    }
    set(OPOS_SUCCESS, 0);
    m_.PortOwner.store(this);
    m_.DeviceEnabled.store(true);
    m_.ReportedDrawerState.store(-1);
    // Disabling frees this object's entry; a re-enable without a new open
    // records it again so status reports still reach the Control Object.
    if (!m_.open_table_has_owned(this) && !open_name_.empty()) m_.open_table_add(open_name_, co_, this);
    return true;
}

void ServiceObject::close_port() {
    switch (config_.DeviceID) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial:
            if (block_.PortHandle != -1) ep_.CloseCom(&block_);
            break;
        case kDeviceIdParallel:
            if (block_.PortHandle != -1) ep_.CloseLpt(&block_);
            break;
        case kDeviceIdUsb:
            ep_.CloseUPort(usb_unit_);
            break;
        default:
            break;
    }
    // The handle is closed: the block must not offer it to a later write,
    // where it may by then name another object of the process.
    if (config_.DeviceID != kDeviceIdUsb) block_.PortHandle = 0;
}

void ServiceObject::close_enabled_port() {
    if (ServiceObject* owner = m_.PortOwner.exchange(nullptr)) owner->close_port();
}

void ServiceObject::disable_sequence() {
    // The port is the enabling object's, which need not be this one.
    close_enabled_port();
    m_.open_table_free_owned(this);
    m_.DeviceEnabled.store(false);
}

void ServiceObject::enable(std::int32_t number) {
    if (number == 1) {
        bool already = m_.DeviceEnabled.load();
        if (!already) {
            if (!claimed_ && !m_.ports().claims.Contains(open_name_)) m_.ClaimedElsewhere.store(false);
            already = m_.DeviceEnabled.load();
        }
        if (!already) {
            if (m_.ClaimedElsewhere.load()) {
                rc_ = OPOS_E_CLAIMED;
            } else if (!enable_sequence()) {
                m_.DeviceEnabled.store(false);
                rc_ = OPOS_E_FAILURE;
            }
            rce_ = 0;
        } else {
            set(m_.ClaimedElsewhere.load() ? OPOS_E_CLAIMED : OPOS_SUCCESS, 0);
        }
    } else {
        if (m_.DeviceEnabled.load()) disable_sequence();
        set(OPOS_SUCCESS, 0);
    }
    m_.trace(m_.trace_switch().all(), "%s%ld", "> DeviceEnabled=", L(number));
}

std::int32_t ServiceObject::ReleaseDevice() {
    m_.trace(m_.trace_switch().all(), "> ReleaseDevice");
    std::int32_t rc;
    if (!claimed_) {
        rc = set(OPOS_E_ILLEGAL, 0);
    } else {
        m_.ports().claims.Remove(open_name_);
        claimed_ = false;
        m_.ClaimedElsewhere.store(false);
        release_done_ = true;
        rc = set(OPOS_SUCCESS, 0);
    }
    m_.trace(m_.trace_switch().all(), "%s%ld", "< ReleaseDevice=", L(rc));
    return rc;
}

std::int32_t ServiceObject::CloseService() {
    m_.trace(m_.trace_switch().all(), "> CloseService");
    if (m_.DeviceEnabled.load()) disable_sequence();
    // Also release a claim taken again after an earlier release.
    if (!release_done_ || claimed_) ReleaseDevice();
    m_.DeviceEnabled.store(false);
    claimed_ = false;
    m_.open_table_free_owned(this);
    // The Control Object's pointer is not used after the close.
    ControlObject mine = co_;
    m_.CurrentControlObject.compare_exchange_strong(mine, nullptr);
    co_ = nullptr;
    set(OPOS_SUCCESS, 0);
    m_.trace(m_.trace_switch().all(), "%s%ld", "< CloseService=", 0L);
    return OPOS_SUCCESS;
}

// --- properties ------------------------------------------------------------------

std::int32_t ServiceObject::GetPropertyNumber(std::int32_t index) {
    const bool all = m_.trace_switch().all();
    auto traced = [&](const char* label, std::int32_t value) {
        m_.trace(all, "%s%ld", label, L(value));
        return value;
    };
    switch (index) {
        case PIDX_Claimed:
            set(0, 0);
            return traced("< Claimed=", claimed_ ? 1 : 0);
        case PIDX_DataEventEnabled:
        case PIDX_OutputID:
        case PIDX_AutoDisable:
        case PIDX_DataCount:
        case PIDX_PowerNotify:
        case PIDX_PowerState:
            set(OPOS_E_ILLEGAL, -1);
            return OPOS_E_ILLEGAL;
        case PIDX_DeviceEnabled:
            set(0, 0);
            return traced("< DeviceEnabled=", m_.DeviceEnabled.load() ? 1 : 0);
        case PIDX_FreezeEvents:
            set(0, 0);
            return traced("< FreezeEvents=", m_.FreezeEvents.load() ? 1 : 0);
        case PIDX_ResultCode:
            return traced("< ResultCode=", rc_);
        case PIDX_ResultCodeExtended:
            return traced("< ResultCodeExtended=", rce_);
        case PIDX_ServiceObjectVersion:
            set(0, 0);
            return traced("< SOVersion=", kServiceObjectVersion);
        case PIDX_State:
            if (m_.DeviceOffline.load() == -1) {
                set(OPOS_E_NOHARDWARE, 0);
                return traced("< State=", OPOS_S_ERROR);
            }
            set(0, 0);
            return traced("< State=", OPOS_S_IDLE);
        case PIDX_BinaryConversion:
            set(0, 0);
            return binary_conversion_ ? 1 : 0;
        case PIDX_CapPowerReporting:
            set(0, 0);
            return 0;
        case PIDX_DrawerOpened:
            return drawer_opened();
        case PIDX_CapStatus:
            set(0, 0);
            return traced("< CapStatus=", config_.CapStatus ? 1 : 0);
        case PIDX_CapStatusMultiDrawerDetect:
            set(0, 0);
            return traced("< CapStatusMultiDrawerDetect=", config_.CapStatusMultiDrawerDetect ? 1 : 0);
        default:
            return OPOS_E_ILLEGAL;
    }
}

std::int32_t ServiceObject::drawer_opened() {
    const bool all = m_.trace_switch().all();
    const bool errors = m_.trace_switch().errors();
    std::int32_t value = 0;
    if (!m_.DeviceEnabled.load() || m_.ClaimedElsewhere.load()) {
        set(m_.ClaimedElsewhere.load() ? OPOS_E_CLAIMED : OPOS_E_DISABLED, 0);
    } else if (m_.DeviceOffline.load() == -1) {
        set(OPOS_E_NOHARDWARE, 0);
        m_.trace(errors, "%s%ld", "< DrawerOpened_Error: RC=", L(rc_));
        m_.trace(errors, "%s%ld", "< DrawerOpened_Error: RCE=", L(rce_));
    } else {
        const std::int32_t r = drawer_status_query();
        if (r >= 0) {
            value = r;
            set(0, 0);
            m_.trace(all, "%s%ld", "< DrawerOpened: RC=", 0L);
            m_.trace(all, "%s%ld", "< DrawerOpened: RCE=", 0L);
        } else {
            if (r == -1)
                set(OPOS_E_NOHARDWARE, 0);
            else
                set(OPOS_E_EXTENDED, extended_from_driver_code(r));
            m_.trace(errors, "%s%ld", "< DrawerOpened_Failure: RC=", L(rc_));
            m_.trace(errors, "%s%ld", "< DrawerOpened_Failure: RCE=", L(rce_));
        }
    }
    m_.trace(all, "%s%ld", "< DrawerOpened=", L(value));
    return value;
}

std::int32_t ServiceObject::drawer_status_query() {
    platform::Clock& clock = m_.ports().clock;
    if (config_.DeviceID != kDeviceIdUsb) clock.sleep_ms(200);
    switch (config_.DeviceID) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial: {
            std::int32_t closed;
            switch (config_.Status) {
                case 0: closed = 16; break;
                case 1: closed = 64; break;
                case 2: closed = 80; break;
                case 3: closed = 999; break;
                default: closed = 0; break;
            }
            if (config_.HandShaking == 1 && config_.Status == 1) closed = 240;
            std::int32_t value = 0;
            if (ep_.GetComStat(&block_, &value) != 0) return value == closed ? 0 : 1;
            return value >= -4 && value <= -1 ? value : -1;
        }
        case kDeviceIdParallel:
            return 0;
        case kDeviceIdUsb: {
            clock.sleep_ms(250);
            const std::int32_t closed = config_.Status == 0 ? 2 : 999;
            const std::int32_t value = ep_.UCashDrawerStatus(usb_unit_);
            if (value == 1 || value == 2) return value == closed ? 0 : 1;
            return value >= -4 && value <= -1 ? value : -1;
        }
        default:
            return 0;
    }
}

void ServiceObject::SetPropertyNumber(std::int32_t index, std::int32_t number) {
    set(OPOS_E_ILLEGAL, -1);
    switch (index) {
        case PIDX_DeviceEnabled:
            enable(number);
            break;
        case PIDX_FreezeEvents:
            m_.FreezeEvents.store(number == 1);
            if (number != 1 && m_.queued_events() > 0) m_.flush_events();
            set(0, 0);
            m_.trace(m_.trace_switch().all(), "%s%ld", "> FreezeEvents=", L(number));
            break;
        case PIDX_BinaryConversion:
            binary_conversion_ = number == 1;
            set(0, 0);
            break;
        default:
            break;
    }
}

bool ServiceObject::GetPropertyString(std::int32_t index, std::string* value) {
    const char* label;
    switch (index) {
        case PIDX_CheckHealthText:
            *value = check_health_text_;
            label = "< CheckHealthText=";
            break;
        case PIDX_DeviceDescription:
            *value = config_.DeviceDesc;
            label = "< DeviceDescription=";
            break;
        case PIDX_DeviceName:
            *value = config_.DeviceName;
            label = "< DeviceName=";
            break;
        case PIDX_ServiceObjectDescription:
            *value = kServiceObjectDescription;
            label = "< SODescription=";
            break;
        default:
            return false;
    }
    m_.trace(m_.trace_switch().all(), "%s%s", label, value->c_str());
    return true;
}

// --- drawer operations -------------------------------------------------------------

std::uint8_t ServiceObject::send_lpt(const char* command) {
    const std::uint8_t ok = ep_.PutLpt(&block_, command);
    // The parallel interface is closed and reopened after every command.
    ep_.CloseLpt(&block_);
    m_.ports().clock.sleep_ms(50);
    ep_.OpenLpt(&block_, unit());
    return ok;
}

std::int32_t ServiceObject::OpenDrawer() {
    const bool all = m_.trace_switch().all();
    const bool errors = m_.trace_switch().errors();
    m_.trace(all, "> OpenDrawer");
    if (m_.DeviceOffline.load() == -1) return set(OPOS_E_NOHARDWARE, 0);
    if (!m_.DeviceEnabled.load() || m_.ClaimedElsewhere.load()) {
        const std::int32_t rc = set(m_.ClaimedElsewhere.load() ? OPOS_E_CLAIMED : OPOS_E_DISABLED, 0);
        m_.trace(all, "%s%ld", "< OpenDrawer=", L(rc));
        return rc;
    }
    if (config_.FirstOC.empty() && config_.DeviceID != kDeviceIdUsb) {
        rc_ = OPOS_E_ILLEGAL;
        m_.trace(errors, "%s%ld", "< OpenDrawer_Error: RC=", L(rc_));
        m_.trace(errors, "%s%ld", "< OpenDrawer_Error: RCE=", L(rce_));
        return OPOS_E_ILLEGAL;
    }
    // The command is a zero-terminated string: a code whose byte is 0 ends it.
    std::string cmd;
    cmd.push_back(static_cast<char>(decimal_value(config_.FirstOC) & 0xFF));
    if (!config_.SecondOC.empty()) cmd.push_back(static_cast<char>(decimal_value(config_.SecondOC) & 0xFF));
    if (config_.DeviceID == kDeviceIdSerialII) cmd += "\r\n";

    std::int32_t result = 1;
    switch (config_.DeviceID) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial:
            result = ep_.PutCom(&block_, cmd.c_str());
            break;
        case kDeviceIdParallel:
            result = send_lpt(cmd.c_str());
            break;
        case kDeviceIdUsb:
            result = ep_.OpenUCashDrawer(usb_unit_);
            m_.ports().clock.sleep_ms(200);
            break;
        default:
            break;
    }
    if (result > 0) {
        set(OPOS_SUCCESS, 0);
        m_.trace(all, "%s%ld", "< OpenDrawer=", 0L);
        return OPOS_SUCCESS;
    }
    std::int32_t rc = set(OPOS_E_FAILURE, 0);
    if (config_.DeviceID == kDeviceIdUsb) {
        if (result == -1) {
            rc = set(OPOS_E_NOHARDWARE, 0);
        } else if (result >= -4 && result <= -2) {
            set(OPOS_E_EXTENDED, extended_from_driver_code(result));
            rc = OPOS_E_FAILURE;
        }
    }
    m_.trace(errors, "%s%ld", "< OpenDrawer_Failure: RC=", L(rc_));
    m_.trace(errors, "%s%ld", "< OpenDrawer_Failure: RCE=", L(rce_));
    return rc;
}

bool ServiceObject::drawer_reads_open() {
    switch (config_.DeviceID) {
        case kDeviceIdUsb:
            return m_.UsbDrawerStatus.load() == 1;
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial: {
            // Read as DrawerOpened reads it, from the word the port driver last
            // polled; without a sense line (Status 3) there is nothing to wait for.
            if (config_.Status < 0 || config_.Status > 2) return false;
            const std::int32_t closed = config_.HandShaking == 1 && config_.Status == 1 ? 240
                                        : config_.Status == 0                           ? 16
                                        : config_.Status == 1                           ? 64
                                                                                        : 80;
            std::int32_t value = 0;
            return ep_.GetComStat(&block_, &value) != 0 && value != closed;
        }
        default:
            return false;
    }
}

std::int32_t ServiceObject::WaitForDrawerClose(std::int32_t beep_timeout, std::int32_t beep_frequency,
                                               std::int32_t beep_duration, std::int32_t beep_delay) {
    const bool all = m_.trace_switch().all();
    m_.trace(all, "%s%ld,%ld,%ld,%ld", "> WaitForDrawerClose=", L(beep_timeout), L(beep_frequency), L(beep_duration),
             L(beep_delay));
    if (m_.DeviceOffline.load() == -1) return set(OPOS_E_NOHARDWARE, 0);
    std::int32_t rc;
    if (!m_.DeviceEnabled.load() || m_.ClaimedElsewhere.load()) {
        rc = set(m_.ClaimedElsewhere.load() ? OPOS_E_CLAIMED : OPOS_E_DISABLED, 0);
    } else {
        platform::Clock& clock = m_.ports().clock;
        const std::uint32_t delay = beep_delay > 0 ? static_cast<std::uint32_t>(beep_delay) : 0;
        std::int64_t t = 0;
        rc = OPOS_SUCCESS;
        while (drawer_reads_open()) {
            // A device that goes offline or is disabled meanwhile ends the
            // wait instead of holding the caller for ever.
            if (m_.DeviceOffline.load() == -1) {
                rc = OPOS_E_NOHARDWARE;
                break;
            }
            if (!m_.DeviceEnabled.load()) {
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
            if (t >= beep_timeout) m_.ports().beeper.beep(beep_frequency, beep_duration);
        }
        set(rc, 0);
    }
    m_.trace(all, "%s%ld", "< WaitForDrawerClose=", L(rc));
    return rc;
}

std::int32_t ServiceObject::CheckHealth(std::int32_t level) {
    m_.trace(m_.trace_switch().all(), "%s%ld", "> CheckHealth=", L(level));
    if (level != 1) return set(OPOS_E_ILLEGAL, OPOS_E_ILLEGAL);
    std::int32_t rc;
    if (m_.DeviceOffline.load() == -1) {
        check_health_text_ = "Cash Drawer CHealth INTERNAL: Error";
        rc = set(OPOS_E_NOHARDWARE, 0);
    } else {
        check_health_text_ = "Cash Drawer CHealth INTERNAL: Successful";
        rc = set(OPOS_SUCCESS, 0);
    }
    m_.trace(m_.trace_switch().all(), "%s%ld", "< CheckHealth=", L(rc));
    return rc;
}

std::int32_t ServiceObject::DirectIO(std::int32_t command, std::int32_t*, const std::string* text) {
    m_.trace(m_.trace_switch().all(), "%s%ld", "> DirectIO=", L(command));
    if (m_.DeviceOffline.load() == -1) return set(OPOS_E_NOHARDWARE, 0);
    const std::string cmd = text ? *text : std::string();
    // A longer command would be cut before reaching the hardware.
    if (cmd.size() > kDirectIOTextMax) return set(OPOS_E_ILLEGAL, 0);
    std::int32_t result = 1;
    switch (config_.DeviceID) {
        case kDeviceIdSerialII:
        case kDeviceIdSmartSerial:
            result = ep_.PutCom(&block_, cmd.c_str());
            break;
        case kDeviceIdParallel:
            result = send_lpt(cmd.c_str());
            break;
        case kDeviceIdUsb:
            // Before any enable the unit comes from the device's name.
            result = ep_.OpenUCashDrawer(usb_unit_ >= 0 ? usb_unit_ : unit());
            if (result < 0) result = 0;  // the driver's failure codes are failures too
            break;
        default:
            break;
    }
    if (result == 0) return set(OPOS_E_ILLEGAL, 0);
    m_.raise_direct_io(direct_io_event_number_);
    ++direct_io_event_number_;
    set(OPOS_SUCCESS, 0);
    m_.trace(m_.trace_switch().all(), "%s%ld", "< DirectIO=", 0L);
    return OPOS_SUCCESS;
}

}  // namespace zrn::so
