#include "zrn/so/config.h"

#include "zrn/device_types.h"
#include "zrn/text.h"

namespace zrn::so {

config::EntryRead read_device_entry(platform::Registry& reg, const std::string& device_key, config::DeviceConfig* c,
                            DriverParamBlock* b) {
    const config::EntryRead read = config::read_device_entry(reg, device_key, c);
    if (read == config::EntryRead::NoKey) return read;

    // The block mirrors what was read for this DeviceID; fields not read keep
    // their previous contents.
    DeviceRecord& d = b->Device;
    d.DeviceID = c->DeviceID;
    if (c->DeviceID == kDeviceIdSerialII || c->DeviceID == kDeviceIdSmartSerial) {
        d.Port = c->Port;
        d.BaudRate = c->BaudRate;
        d.DataBitLen = c->DataBitLen;
        d.StopBits = c->StopBits;
        d.HandShaking = c->HandShaking;
        d.Parity = c->Parity;
        copy_field(d.FirstOC, c->FirstOC);
    }
    if (c->DeviceID == kDeviceIdSmartSerial || c->DeviceID == kDeviceIdParallel) {
        copy_field(d.SecondOC, c->SecondOC);
        d.DrawerNo = c->DrawerNo;
    }
    if (c->DeviceID == kDeviceIdParallel) {
        d.Port = c->Port;
        copy_field(d.FirstOC, c->FirstOC);
    }
    d.Status = c->Status;
    copy_field(d.DeviceDesc, c->DeviceDesc);
    copy_field(d.DeviceName, c->DeviceName);
    return read;
}

}  // namespace zrn::so
