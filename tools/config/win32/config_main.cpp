// The Windows side of `zrncd config`: the registry view asked for, the file
// or standard stream of an export or import, and the USB configuration
// file's folder. Everything else is decided in the core.
#include "config_main.h"

#include <windows.h>

#include <cstdio>

#include "zrn/cfg/commands.h"
#include "zrn/platform/noting_registry.h"
#include "zrn/win32/config_lock.h"
#include "zrn/win32/last_error.h"
#include "zrn/win32/win32_platform.h"

namespace zrn::cfg {

namespace {

// A configuration document is a few kilobytes; anything far larger is no
// configuration and is not read whole into memory.
constexpr std::size_t kMaxDocument = 4 * 1024 * 1024;

bool read_all(std::FILE* f, std::string* out) {
    char buf[65536];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        out->append(buf, n);
        if (out->size() > kMaxDocument) return false;
    }
    return !std::ferror(f);
}

std::string view_name(int bits) { return "the " + std::to_string(bits) + "-bit view"; }

}  // namespace

int config_main(const std::vector<std::string>& args, const std::function<void()>& after_write) {
    Command cmd;
    const std::string error = parse_config(args, &cmd);
    if (!error.empty()) {
        std::fprintf(stderr, "zrncd: %s\n%s", error.c_str(), config_usage().c_str());
        return kExitRefused;
    }
    const int own = sizeof(void*) == 8 ? 64 : 32;
    const bool both = win32::windows_is_64bit();
    if (cmd.view == 64 && !both) {
        std::fprintf(stderr, "zrncd: this Windows is 32-bit and has no 64-bit registry view\n");
        return kExitRefused;
    }
    const int bits = cmd.view == 0 ? (both ? own : 32) : cmd.view;
    const int other_bits = bits == 64 ? 32 : 64;
    win32::Win32Registry own_view(bits == 64 ? win32::RegistryView::Bits64 : win32::RegistryView::Bits32);
    win32::Win32Registry other_view(other_bits == 64 ? win32::RegistryView::Bits64 : win32::RegistryView::Bits32);
    platform::AfterWriteRegistry reg(own_view, after_write);
    platform::AfterWriteRegistry other(other_view, after_write);
    win32::Win32Files files;
    win32::Win32ConfigLock lock;
    Views views{reg, view_name(bits), both ? &other : nullptr, view_name(other_bits), std::to_string(bits),
                std::to_string(other_bits)};

    std::string input;
    if (cmd.verb == Verb::Import && !cmd.help) {
        std::FILE* f = cmd.file == "-" ? stdin : std::fopen(cmd.file.c_str(), "rb");
        if (!f) {
            const std::string why = win32::error_text(GetLastError());
            std::fprintf(stderr, "zrncd: %s cannot be opened: %s; nothing written\n", cmd.file.c_str(), why.c_str());
            return kExitRefused;
        }
        const bool read = read_all(f, &input);
        if (f != stdin) std::fclose(f);
        if (!read) {
            std::fprintf(stderr, "zrncd: %s cannot be read, or is no configuration (over 4 MB); nothing written\n",
                         cmd.file.c_str());
            return kExitRefused;
        }
    }

    const Outcome o = run_config(cmd, views, files, lock, input);
    std::fputs(o.err.c_str(), stderr);
    if (cmd.verb == Verb::Export && !cmd.help && cmd.file != "-") {
        std::FILE* f = std::fopen(cmd.file.c_str(), "wb");
        const std::string why = f ? std::string() : ": " + win32::error_text(GetLastError());
        const bool written = f && std::fwrite(o.out.data(), 1, o.out.size(), f) == o.out.size();
        const bool closed = f && std::fclose(f) == 0;
        if (!written || !closed) {
            std::fprintf(stderr, "zrncd: %s cannot be written%s\n", cmd.file.c_str(), why.c_str());
            return kExitFailed;
        }
        std::printf("exported %s to %s\n", views.name.c_str(), cmd.file.c_str());
        return o.exit_code;
    }
    std::fputs(o.out.c_str(), stdout);
    return o.exit_code;
}

}  // namespace zrn::cfg
