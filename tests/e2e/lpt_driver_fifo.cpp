// Loads the built PortDrawerSO.DLL and fires a parallel drawer on LPT1,
// which pty-com has mapped onto a fifo, the way the Service Object does:
// PutLpt, CloseLpt, OpenLpt again. pty-com checks the bytes.
#include <windows.h>

#include <cstdio>

#include "proc.h"
#include <cstring>

#include "zrn/callconv.h"
#include "zrn/param_block.h"
#include "zrn/text.h"

using namespace zrn::e2e;

using OpenLpt = std::uint8_t(ZRN_STDCALL*)(zrn::DriverParamBlock*, std::int32_t);
using PutLpt = std::uint8_t(ZRN_STDCALL*)(zrn::DriverParamBlock*, const char*);
using CloseLpt = std::uint8_t(ZRN_STDCALL*)(zrn::DriverParamBlock*);

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    HMODULE lib = LoadLibraryA(argv[1]);
    if (!lib) return 3;
    auto open = proc<OpenLpt>(lib, "OpenLpt");
    auto put = proc<PutLpt>(lib, "PutLpt");
    auto close = proc<CloseLpt>(lib, "CloseLpt");
    if (!open || !put || !close) return 4;
    zrn::DriverParamBlock a, b;
    std::memset(&a, 0, sizeof a);
    zrn::copy_field(a.Device.DeviceName, "CD615");
    a.Device.DeviceID = 2;
    a.Device.Port = 1;
    b = a;
    zrn::copy_field(b.Device.DeviceName, "CD615-2");
    if (!open(&a, 0) || !open(&b, 1)) {
        std::fprintf(stderr, "OpenLpt failed: %lu\n", GetLastError());
        return 5;
    }
    if (a.PortHandle != b.PortHandle) return 6;  // one handle per port
    if (!put(&a, "\x1b\x70")) return 7;
    if (!close(&a)) return 8;
    if (!open(&a, 0)) return 9;  // reopened, as after every command
    if (!put(&a, "\x1b")) return 10;
    if (!close(&a)) return 11;
    std::printf("OpenLpt, PutLpt, CloseLpt succeeded\n");
    return 0;
}
