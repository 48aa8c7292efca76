#pragma once

#include <cstddef>
#include <cstdint>

namespace zrn {

// One device entry's settings, as both the Service Object and the port driver
// see them. Two separately built libraries share this memory, so the field
// order and widths are a binary format: the asserts below pin every offset.
struct DeviceRecord {
    char ProgramId[30];
    char ADKConfig[62];
    std::int32_t BaudRate;
    char BaudRateSel[16];
    std::int32_t DataBitLen;
    char DataBitLenSel[15];
    char DeviceDesc[50];
    char DeviceName[31];
    std::int32_t DeviceID;
    std::int32_t HandShaking;
    char HandShakingSel[15];
    char FirstOC[5];
    char SecondOC[8];
    std::int32_t Parity;
    char ParitySel[16];
    std::int32_t Port;
    char PortSel[16];
    std::int32_t Status;
    char StatusSel[16];
    std::int32_t StopBits;
    char StopBitsSel[16];
    std::int32_t TimeOut;
    char Spare1[90];
    char Spare2[15];
    char ServiceDesc[90];
    char ServiceVersion[15];
    char DrawerNoSel[18];
    std::int32_t DrawerNo;
};

// The record passed by address from the Service Object to the port driver.
// PortHandle is a Windows handle narrowed to 32 bits (handles are defined to
// fit), 0 when no port is open and -1 after a failed open.
struct DriverParamBlock {
    std::int32_t PortHandle;
    DeviceRecord Device;
};

#define ZRN_BLOCK_OFFSET(field) (offsetof(DriverParamBlock, Device) + offsetof(DeviceRecord, field))
static_assert(sizeof(DeviceRecord) == 564);
static_assert(sizeof(DriverParamBlock) == 568);
static_assert(alignof(DriverParamBlock) == 4);
static_assert(offsetof(DriverParamBlock, PortHandle) == 0);
static_assert(ZRN_BLOCK_OFFSET(ProgramId) == 4);
static_assert(ZRN_BLOCK_OFFSET(ADKConfig) == 34);
static_assert(ZRN_BLOCK_OFFSET(BaudRate) == 96);
static_assert(ZRN_BLOCK_OFFSET(BaudRateSel) == 100);
static_assert(ZRN_BLOCK_OFFSET(DataBitLen) == 116);
static_assert(ZRN_BLOCK_OFFSET(DataBitLenSel) == 120);
static_assert(ZRN_BLOCK_OFFSET(DeviceDesc) == 135);
static_assert(ZRN_BLOCK_OFFSET(DeviceName) == 185);
static_assert(ZRN_BLOCK_OFFSET(DeviceID) == 216);
static_assert(ZRN_BLOCK_OFFSET(HandShaking) == 220);
static_assert(ZRN_BLOCK_OFFSET(HandShakingSel) == 224);
static_assert(ZRN_BLOCK_OFFSET(FirstOC) == 239);
static_assert(ZRN_BLOCK_OFFSET(SecondOC) == 244);
static_assert(ZRN_BLOCK_OFFSET(Parity) == 252);
static_assert(ZRN_BLOCK_OFFSET(ParitySel) == 256);
static_assert(ZRN_BLOCK_OFFSET(Port) == 272);
static_assert(ZRN_BLOCK_OFFSET(PortSel) == 276);
static_assert(ZRN_BLOCK_OFFSET(Status) == 292);
static_assert(ZRN_BLOCK_OFFSET(StatusSel) == 296);
static_assert(ZRN_BLOCK_OFFSET(StopBits) == 312);
static_assert(ZRN_BLOCK_OFFSET(StopBitsSel) == 316);
static_assert(ZRN_BLOCK_OFFSET(TimeOut) == 332);
static_assert(ZRN_BLOCK_OFFSET(Spare1) == 336);
static_assert(ZRN_BLOCK_OFFSET(Spare2) == 426);
static_assert(ZRN_BLOCK_OFFSET(ServiceDesc) == 441);
static_assert(ZRN_BLOCK_OFFSET(ServiceVersion) == 531);
static_assert(ZRN_BLOCK_OFFSET(DrawerNoSel) == 546);
static_assert(ZRN_BLOCK_OFFSET(DrawerNo) == 564);
#undef ZRN_BLOCK_OFFSET

}  // namespace zrn
