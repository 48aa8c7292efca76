#pragma once

#include <cstdint>
#include <string>

namespace zrn::utility {

// The OPOS CashDrawer Control Object, as the health check calls it.
class ControlObject {
public:
    virtual ~ControlObject() = default;
    virtual std::int32_t Open(const std::string& device_name) = 0;
    virtual std::int32_t ClaimDevice(std::int32_t timeout) = 0;
    virtual std::int32_t Close() = 0;
    virtual bool GetDeviceEnabled() = 0;
    virtual void SetDeviceEnabled(bool enabled) = 0;
    virtual std::int32_t GetResultCode() = 0;
    virtual bool GetCapStatus() = 0;
    virtual bool GetDrawerOpened() = 0;
    virtual std::int32_t OpenDrawer() = 0;
};

}  // namespace zrn::utility
