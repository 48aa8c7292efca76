// The numeric and string properties.
#include "service_trace.h"
#include "zrn/opos.h"
#include "zrn/so/service.h"

namespace zrn::so {

std::int32_t ServiceObject::GetPropertyNumber(std::int32_t index) {
    const bool every = every_line();
    auto traced = [&](const char* label, std::int32_t value) {
        module_.trace(every, "%s%ld", label, as_long(value));
        return value;
    };
    switch (index) {
        case PIDX_Claimed:
            set_result(OPOS_SUCCESS, 0);
            return traced("< Claimed=", claimed_ ? 1 : 0);
        case PIDX_DataEventEnabled:
        case PIDX_OutputID:
        case PIDX_AutoDisable:
        case PIDX_DataCount:
        case PIDX_PowerNotify:
        case PIDX_PowerState:
            set_result(OPOS_E_ILLEGAL, -1);
            return OPOS_E_ILLEGAL;
        case PIDX_DeviceEnabled:
            set_result(OPOS_SUCCESS, 0);
            return traced("< DeviceEnabled=", module_.enabled() ? 1 : 0);
        case PIDX_FreezeEvents:
            set_result(OPOS_SUCCESS, 0);
            return traced("< FreezeEvents=", module_.frozen() ? 1 : 0);
        case PIDX_ResultCode:
            return traced("< ResultCode=", rc_);
        case PIDX_ResultCodeExtended:
            return traced("< ResultCodeExtended=", rce_);
        case PIDX_ServiceObjectVersion:
            set_result(OPOS_SUCCESS, 0);
            return traced("< SOVersion=", kServiceObjectVersion);
        case PIDX_State:
            if (module_.offline()) {
                set_result(OPOS_E_NOHARDWARE, 0);
                return traced("< State=", OPOS_S_ERROR);
            }
            set_result(OPOS_SUCCESS, 0);
            return traced("< State=", OPOS_S_IDLE);
        case PIDX_BinaryConversion:
            set_result(OPOS_SUCCESS, 0);
            return binary_conversion_ ? 1 : 0;
        case PIDX_CapPowerReporting:
            set_result(OPOS_SUCCESS, 0);
            return 0;
        case PIDX_DrawerOpened:
            return drawer_opened();
        case PIDX_CapStatus:
            set_result(OPOS_SUCCESS, 0);
            return traced("< CapStatus=", config_.CapStatus ? 1 : 0);
        case PIDX_CapStatusMultiDrawerDetect:
            set_result(OPOS_SUCCESS, 0);
            return traced("< CapStatusMultiDrawerDetect=", config_.CapStatusMultiDrawerDetect ? 1 : 0);
        default:
            return OPOS_E_ILLEGAL;
    }
}

std::int32_t ServiceObject::drawer_opened() {
    const bool every = every_line();
    const bool errors = error_lines();
    std::int32_t value = 0;
    if (!module_.enabled() || module_.claimed_elsewhere()) {
        set_result(module_.claimed_elsewhere() ? OPOS_E_CLAIMED : OPOS_E_DISABLED, 0);
    } else if (module_.offline()) {
        set_result(OPOS_E_NOHARDWARE, 0);
        module_.trace(errors, "%s%ld", "< DrawerOpened_Error: RC=", as_long(rc_));
        module_.trace(errors, "%s%ld", "< DrawerOpened_Error: RCE=", as_long(rce_));
    } else {
        const std::int32_t r = drawer_status_query();
        if (r >= 0) {
            value = r;
            set_result(OPOS_SUCCESS, 0);
            module_.trace(every, "%s%ld", "< DrawerOpened: RC=", 0L);
            module_.trace(every, "%s%ld", "< DrawerOpened: RCE=", 0L);
        } else {
            if (r == -1)
                set_result(OPOS_E_NOHARDWARE, 0);
            else
                set_result(OPOS_E_EXTENDED, extended_from_driver_code(r));
            module_.trace(errors, "%s%ld", "< DrawerOpened_Failure: RC=", as_long(rc_));
            module_.trace(errors, "%s%ld", "< DrawerOpened_Failure: RCE=", as_long(rce_));
        }
    }
    module_.trace(every, "%s%ld", "< DrawerOpened=", as_long(value));
    return value;
}

void ServiceObject::SetPropertyNumber(std::int32_t index, std::int32_t number) {
    set_result(OPOS_E_ILLEGAL, -1);
    switch (index) {
        case PIDX_DeviceEnabled:
            enable(number);
            break;
        case PIDX_FreezeEvents:
            module_.set_frozen(number == 1);
            set_result(OPOS_SUCCESS, 0);
            module_.trace(every_line(), "%s%ld", "> FreezeEvents=", as_long(number));
            break;
        case PIDX_BinaryConversion:
            binary_conversion_ = number == 1;
            set_result(OPOS_SUCCESS, 0);
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
    module_.trace(every_line(), "%s%s", label, value->c_str());
    return true;
}

}  // namespace zrn::so
