// zrncd config, ended by the system after a given number of registry writes,
// as a kill, a deployment tool's timeout or a power cut ends it: no undo, no
// marker removed. For the end-to-end test of the backups that put such a
// change back; never shipped.
//   zrncd_stopping N ARGS...   ARGS: what follows "config"
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "config_main.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    int left = std::atoi(argv[1]);
    const std::vector<std::string> args(argv + 2, argv + argc);
    return zrn::cfg::config_main(args, [&] {
        if (--left == 0) TerminateProcess(GetCurrentProcess(), 99);
    });
}
