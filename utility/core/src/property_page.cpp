// The information page.
#include "zrn/utility/dialogs.h"

#include "zrn/trace.h"

namespace zrn::utility {

PropertyFields read_property_fields(config::DeviceStore& store) {
    PropertyFields f;
    config::ControlObjectInfo co;
    store.read_control_object_info(&co);
    f.co_description = co.description;
    f.co_version = co.version;
    f.co_device_class = co.device_class;
    const config::ServiceObjectInfo so = config::DeviceStore::service_object_info();
    f.so_description = so.description;
    f.so_version = so.version;
    f.so_release = so.standard;
    f.trace = trace_level_text(store.read_service_number("TraceEnabled"));
    f.trace_kept = trace_keep_text(store.read_service_number("TraceKeepDays"));
    return f;
}

}  // namespace zrn::utility
