#pragma once

#include <cstdint>

namespace zrn {

// OPOS result codes the Service Object reports.
constexpr std::int32_t OPOS_SUCCESS = 0;
constexpr std::int32_t OPOS_E_CLOSED = 101;
constexpr std::int32_t OPOS_E_CLAIMED = 102;
constexpr std::int32_t OPOS_E_NOTCLAIMED = 103;
constexpr std::int32_t OPOS_E_NOSERVICE = 104;
constexpr std::int32_t OPOS_E_DISABLED = 105;
constexpr std::int32_t OPOS_E_ILLEGAL = 106;
constexpr std::int32_t OPOS_E_NOHARDWARE = 107;
constexpr std::int32_t OPOS_E_OFFLINE = 108;
constexpr std::int32_t OPOS_E_NOEXIST = 109;
constexpr std::int32_t OPOS_E_EXISTS = 110;
constexpr std::int32_t OPOS_E_FAILURE = 111;
constexpr std::int32_t OPOS_E_TIMEOUT = 112;
constexpr std::int32_t OPOS_E_BUSY = 113;
constexpr std::int32_t OPOS_E_EXTENDED = 114;

// With OPOS_E_EXTENDED, ResultCodeExtended carries 10001..10003 for the
// driver status codes -2..-4.
constexpr std::int32_t kExtendedBase = 10000;
constexpr std::int32_t extended_from_driver_code(std::int32_t driver_code) {
    return kExtendedBase - 1 - driver_code;
}
static_assert(extended_from_driver_code(-2) == 10001);
static_assert(extended_from_driver_code(-4) == 10003);

// With OPOS_E_FAILURE from ClaimDevice: the claim could not be recorded, so
// it was refused rather than reported without protecting the drawer.
constexpr std::int32_t kExtendedClaimTableFull = 10011;      // ten drawers claimed on this machine
constexpr std::int32_t kExtendedClaimNotRecorded = 10012;   // no claim table or lock to record it in

// Device states reported through the State property.
constexpr std::int32_t OPOS_S_IDLE = 2;
constexpr std::int32_t OPOS_S_ERROR = 4;

// StatusUpdate values.
constexpr std::int32_t CASH_SUE_DRAWERCLOSED = 0;
constexpr std::int32_t CASH_SUE_DRAWEROPEN = 1;

// Property indexes.
constexpr std::int32_t PIDX_Claimed = 1;
constexpr std::int32_t PIDX_DataEventEnabled = 2;
constexpr std::int32_t PIDX_DeviceEnabled = 3;
constexpr std::int32_t PIDX_FreezeEvents = 4;
constexpr std::int32_t PIDX_OutputID = 5;
constexpr std::int32_t PIDX_ResultCode = 6;
constexpr std::int32_t PIDX_ResultCodeExtended = 7;
constexpr std::int32_t PIDX_ServiceObjectVersion = 8;
constexpr std::int32_t PIDX_State = 9;
constexpr std::int32_t PIDX_AutoDisable = 10;
constexpr std::int32_t PIDX_BinaryConversion = 11;
constexpr std::int32_t PIDX_DataCount = 12;
constexpr std::int32_t PIDX_PowerNotify = 13;
constexpr std::int32_t PIDX_PowerState = 14;
constexpr std::int32_t PIDX_CapPowerReporting = 501;
constexpr std::int32_t PIDX_DrawerOpened = 1001;
constexpr std::int32_t PIDX_CapStatus = 1501;
constexpr std::int32_t PIDX_CapStatusMultiDrawerDetect = 1502;
constexpr std::int32_t PIDX_CheckHealthText = 1000001;
constexpr std::int32_t PIDX_DeviceDescription = 1000002;
constexpr std::int32_t PIDX_DeviceName = 1000003;
constexpr std::int32_t PIDX_ServiceObjectDescription = 1000004;

// OPOS 1.7.11, encoded as major * 1000000 + minor * 1000 + build.
constexpr std::int32_t kServiceObjectVersion = 1007011;

}  // namespace zrn
