// Writes a cash drawer configuration for the demo and the utility's showcase
// through the registry format library, as the utility would write it:
//
//   sample_config settings TARGETPATH TRACEENABLED
//   sample_config device KEY [Name=Number | Name="Text"] ...   (from the type's defaults)
//   sample_config name LOGICALNAME KEY
//   sample_config clear                                         (every device entry and name)
//
// Several commands may follow each other on one line. Exit 2 on bad input,
// 1 when the registry refused a write.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "zrn/device_config.h"
#include "zrn/device_types.h"
#include "zrn/text.h"
#include "zrn/win32/win32_platform.h"

using namespace zrn;

namespace {

int bad(const std::string& what) {
    std::fprintf(stderr, "sample_config: %s\n", what.c_str());
    return 2;
}

// Name=Value onto the entry; false for an unknown name or a bad number.
bool set_field(config::DeviceEntry* e, const std::string& name, const std::string& value) {
    struct Number {
        const char* name;
        std::int32_t config::DeviceEntry::*field;
    };
    static const Number numbers[] = {{"Port", &config::DeviceEntry::Port},
                                     {"BaudRate", &config::DeviceEntry::BaudRate},
                                     {"DataBitLen", &config::DeviceEntry::DataBitLen},
                                     {"StopBits", &config::DeviceEntry::StopBits},
                                     {"Parity", &config::DeviceEntry::Parity},
                                     {"HandShaking", &config::DeviceEntry::HandShaking},
                                     {"Status", &config::DeviceEntry::Status},
                                     {"DrawerNo", &config::DeviceEntry::DrawerNo}};
    for (const Number& n : numbers)
        if (name == n.name) return parse_int32(value, &(e->*n.field));
    if (name == "FirstOC") e->FirstOC = value;
    else if (name == "SecondOC") e->SecondOC = value;
    else if (name == "DeviceDesc") e->DeviceDesc = value;
    else return false;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    win32::Win32Registry reg;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return bad("no command (settings, device, name, clear)");
    std::size_t i = 0;
    while (i < args.size()) {
        const std::string command = args[i++];
        if (command == "clear") {
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, std::string(kDeviceClassKey).c_str());
        } else if (command == "settings") {
            if (i + 2 > args.size()) return bad("settings needs TARGETPATH and TRACEENABLED");
            config::ServiceSettings s;
            s.TargetPath = args[i++];
            if (!parse_int32(args[i++], &s.TraceEnabled)) return bad("TRACEENABLED is no number");
            if (!config::write_service_settings(reg, s)) return 1;
        } else if (command == "device") {
            if (i >= args.size()) return bad("device needs a KEY");
            const std::string key = args[i++];
            const DeviceType* type = device_type_of(key);
            if (type == nullptr) return bad("no device type for key " + key);
            config::DeviceEntry e = config::default_entry(key, *type);
            for (; i < args.size() && args[i].find('=') != std::string::npos; ++i) {
                const auto eq = args[i].find('=');
                if (!set_field(&e, args[i].substr(0, eq), args[i].substr(eq + 1)))
                    return bad("bad setting " + args[i]);
            }
            if (!config::write_device_entry(reg, e)) return 1;
        } else if (command == "name") {
            if (i + 2 > args.size()) return bad("name needs LOGICALNAME and KEY");
            const std::string name = args[i++];
            const std::string key = args[i++];
            if (!config::write_logical_name(reg, name, key)) return 1;
        } else {
            return bad("unknown command " + command);
        }
    }
    return 0;
}
