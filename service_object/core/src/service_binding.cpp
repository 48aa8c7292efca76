// Creating and destroying a Service Object, and binding the two driver
// libraries from TargetPath.
#include <iterator>
#include <span>
#include <type_traits>

#include "zrn/driver_exports.h"
#include "zrn/so/service.h"

namespace zrn::so {

ServiceObject::ServiceObject(ServiceModule& module) : module_(module) { bind(); }

ServiceObject::~ServiceObject() {
    // An object released while enabled takes its open port with it.
    {
        auto port = module_.hold_port();
        ServiceObject*& owner = module_.port_owner(port);
        if (owner == this) {
            close_port();
            owner = nullptr;
            module_.mark_disabled();
        }
    }
    if (claimed_) module_.ports().claims.Remove(open_name_);
    module_.open_table_free_owned(this);
    // Events still on their way must not reach a Control Object that has let
    // go of this object (and may be gone itself).
    module_.retire_control_object(co_);
    module_.trace(error_lines(), "ZRNOPOS_Termination");
}

void ServiceObject::read_settings() {
    settings_.TraceEnabled = module_.trace_switch().value;
    config::read_service_settings(module_.ports().registry, &settings_);
    module_.set_trace_level(settings_.TraceEnabled);
    module_.ports().trace.set_keep_days(config::read_trace_keep_days(module_.ports().registry));
}

void ServiceObject::bind() {
    // Creating any object resets the device state of the whole process; a
    // port an earlier enable opened is closed, not left open for good.
    {
        auto port = module_.hold_port();
        close_enabled_port(port);
        module_.reset_at_creation();
    }

    read_settings();
    if (error_lines()) {
        module_.ports().trace.section_break();
        module_.trace(true, "ZRNOPOS_Initialization");
    }
    if (!bind_port_driver()) return;
    port_bound_ = true;
    module_.trace(every_line(), "ZRNOPOS_PortDrawerSO.DLL: Loaded");

    read_settings();
    if (!bind_usb_driver()) return;
    usb_bound_ = true;
    module_.trace(every_line(), "ZRNOPOS_USB730SO.DLL: Loaded");

    const StatusCaptureCallback cb = module_.ports().callback;
    drivers_.StartStatusUCapture(1, cb);
    drivers_.StartStatusCCapture(1, cb);
}

namespace {

// One driver function: its exported name and where its address goes.
struct Binding {
    const char* name;
    void (*store)(EntryPoints& into, void* address);
};

template <auto Member>
void store_in(EntryPoints& into, void* address) {
    into.*Member = reinterpret_cast<std::remove_reference_t<decltype(into.*Member)>>(address);
}

constexpr Binding kPortBindings[] = {
    {port_export::CVersion, store_in<&EntryPoints::CVersion>},
    {port_export::OpenCom, store_in<&EntryPoints::OpenCom>},
    {port_export::CloseCom, store_in<&EntryPoints::CloseCom>},
    {port_export::PutCom, store_in<&EntryPoints::PutCom>},
    {port_export::GetComStat, store_in<&EntryPoints::GetComStat>},
    {port_export::OpenLpt, store_in<&EntryPoints::OpenLpt>},
    {port_export::CloseLpt, store_in<&EntryPoints::CloseLpt>},
    {port_export::PutLpt, store_in<&EntryPoints::PutLpt>},
    {port_export::StartStatusCCapture, store_in<&EntryPoints::StartStatusCCapture>},
};
static_assert(std::size(kPortBindings) == kPortDriverExports.size());

constexpr Binding kUsbBindings[] = {
    {usb_export::UVersion, store_in<&EntryPoints::UVersion>},
    {usb_export::OpenUPort, store_in<&EntryPoints::OpenUPort>},
    {usb_export::OpenUCashDrawer, store_in<&EntryPoints::OpenUCashDrawer>},
    {usb_export::UCashDrawerStatus, store_in<&EntryPoints::UCashDrawerStatus>},
    {usb_export::CloseUPort, store_in<&EntryPoints::CloseUPort>},
    {usb_export::StartStatusUCapture, store_in<&EntryPoints::StartStatusUCapture>},
};
static_assert(std::size(kUsbBindings) == kUsbDriverExports.size());

// Loads TargetPath + file and looks every name up, in order. On success the
// library stays loaded for good and *into holds the addresses; at the first
// missing name it is released and *into is left as it was.
bool bind_library(DriverLoader& loader, const std::string& target_path, const char* file,
                  std::span<const Binding> bindings, EntryPoints* into) {
    const std::string path = target_path + "\\" + file;
    // A path too long for the library-path field is refused, not truncated.
    if (path.size() > config::kTargetPathMax) return false;
    const DriverLoader::Library lib = loader.load(path);
    if (!lib) return false;
    EntryPoints bound = *into;
    for (const Binding& b : bindings) {
        void* address = loader.symbol(lib, b.name);
        if (!address) {
            loader.release(lib);
            return false;
        }
        b.store(bound, address);
    }
    *into = bound;
    return true;
}

}  // namespace

bool ServiceObject::bind_port_driver() {
    return bind_library(module_.ports().loader, settings_.TargetPath, kPortDriverFile, kPortBindings, &drivers_);
}

bool ServiceObject::bind_usb_driver() {
    return bind_library(module_.ports().loader, settings_.TargetPath, kUsbDriverFile, kUsbBindings, &drivers_);
}

}  // namespace zrn::so
