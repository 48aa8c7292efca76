// Fires a serial II drawer through the whole stack on the real Win32 port:
// the registered Service Object, the shipped PortDrawerSO.DLL, and COM1
// mapped onto a pseudo-terminal whose other side the harness reads.
#include <cstdio>

#include "proc.h"
#include "so_env.h"

using namespace zrn;
using namespace zrn::e2e;

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 3;
    settings(1, client::windows_path(ZRN_DIST_DIR));
    so::testing::write_device(registry(), "CD926", kDeviceIdSerialII, 1);
    int failed = 0;
    {
        client::EventReceiver co;
        client::ServiceClient c;
        const auto result = ready(c, &co, "CD926");
        E2E_CHECK(static_cast<bool>(result), result ? "open, claim, enable on COM1" : result.message());
        E2E_CHECK(c.open_drawer() == 0, "OpenDrawer through PutCom");
        c.set_number(PIDX_DeviceEnabled, 0);
        E2E_CHECK(c.result_code() == 0, "disable");
        E2E_CHECK(c.close() == 0, "close");
        failed = failures();
    }
    CoUninitialize();
    std::printf("%d failed\n", failed);
    return failed == 0 ? 0 : 1;
}
