// Loads the built PortDrawerSO.DLL and fires a serial II drawer on COM1,
// which pty-com has mapped onto a pseudo-terminal; pty-com checks the bytes
// and line settings that arrive. Exit 0 only when every export succeeded.
#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include "proc.h"
#include <cstring>

#include "zrn/callconv.h"
#include "zrn/param_block.h"
#include "zrn/text.h"

using namespace zrn::e2e;

using OpenCom = std::uint8_t(ZRN_STDCALL*)(zrn::DriverParamBlock*, std::int32_t);
using PutCom = std::uint8_t(ZRN_STDCALL*)(zrn::DriverParamBlock*, const char*);
using CloseCom = std::uint8_t(ZRN_STDCALL*)(zrn::DriverParamBlock*);
using GetComStat = std::uint8_t(ZRN_STDCALL*)(zrn::DriverParamBlock*, std::int32_t*);

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    HMODULE lib = LoadLibraryA(argv[1]);
    if (!lib) {
        std::fprintf(stderr, "cannot load %s: %lu\n", argv[1], GetLastError());
        return 3;
    }
    auto open = proc<OpenCom>(lib, "OpenCom");
    auto put = proc<PutCom>(lib, "PutCom");
    auto close = proc<CloseCom>(lib, "CloseCom");
    auto stat = proc<GetComStat>(lib, "GetComStat");
    if (!open || !put || !close || !stat) return 4;
    using Unload = HRESULT(__stdcall*)();
    using Register = HRESULT(__stdcall*)();
    using GetClass = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);
    auto can_unload = proc<Unload>(lib, "DllCanUnloadNow");
    auto reg = proc<Register>(lib, "DllRegisterServer");
    auto get_class = proc<GetClass>(lib, "DllGetClassObject");
    if (!can_unload || !reg || !get_class) return 4;
    void* factory = reinterpret_cast<void*>(1);
    if (reg() != S_OK || get_class(CLSID_NULL, IID_IUnknown, &factory) != CLASS_E_CLASSNOTAVAILABLE || factory) {
        std::fprintf(stderr, "framework entry points misbehave\n");
        return 12;
    }
    if (can_unload() != S_OK) return 13;  // nothing running yet

    zrn::DriverParamBlock b;
    std::memset(&b, 0, sizeof b);
    zrn::copy_field(b.Device.DeviceName, "CD926");
    b.Device.DeviceID = 0;
    b.Device.Port = 1;
    b.Device.BaudRate = 4;  // 4800
    b.Device.DataBitLen = 8;
    b.Device.StopBits = 2;
    b.Device.Parity = 0;
    b.Device.HandShaking = 0;
    b.Device.Status = 0;
    if (!open(&b, 0)) {
        std::fprintf(stderr, "OpenCom failed\n");
        return 5;
    }
    if (b.PortHandle == 0 || b.PortHandle == -1) return 6;
    if (can_unload() != S_FALSE) {
        std::fprintf(stderr, "DllCanUnloadNow allows unloading while the poll thread runs\n");
        return 14;
    }
    const char fire[] = {7, 13, 10, 0};
    if (!put(&b, fire)) {
        std::fprintf(stderr, "PutCom failed\n");
        return 7;
    }
    std::int32_t status = -99;
    if (!stat(&b, &status)) return 8;
    if (!close(&b)) {
        std::fprintf(stderr, "CloseCom failed\n");
        return 9;
    }
    std::printf("OpenCom, PutCom, CloseCom succeeded; last modem word %ld\n", static_cast<long>(status));
    return 0;
}
