// Shows the foundation working on Windows: the service settings read back
// through the registry adapter "as text", and trace lines written to the
// day's trace file, whose path it prints.
#include <cstdio>

#include "zrn/device_types.h"
#include "zrn/platform/registry.h"
#include "zrn/trace.h"
#include "zrn/win32/win32_platform.h"

int main() {
    using namespace zrn;
    win32::Win32Registry reg;
    win32::Win32Clock clock;
    win32::Win32Files files;

    platform::ScopedKey key(reg);
    if (reg.create_key(platform::kHklm, kServiceSettingsKey, "", key.out(), nullptr) != platform::kRegOk) {
        std::fprintf(stderr, "cannot create the service settings key\n");
        return 1;
    }
    platform::set_dword(reg, key.get(), "TraceEnabled", 1);
    std::string text;
    platform::query_text(reg, key.get(), "TraceEnabled", 256, &text);
    std::printf("HKLM\\%s\\TraceEnabled reads as \"%s\"\n", std::string(kServiceSettingsKey).c_str(), text.c_str());

    TraceLog log(files, clock);
    log.section_break();
    log.message("ZRNOPOS_Initialization");
    log.separator();
    log.messagef("%s%ld", "< StatusUpdateEvent=", 1L);
    log.separator();
    log.message("ZRNOPOS_Termination");
    std::printf("trace written to %s\n", trace_file_name(clock.local_time()).c_str());
    return 0;
}
