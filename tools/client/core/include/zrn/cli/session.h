#pragma once

// A zrncd run: the steps against one Service Object, with every decision a
// Control Object makes (finding the entry, the version check, the codes of a
// call made before any open). The Windows program adapts a COM object to
// the port below and prints the reports.
#include <cstdint>
#include <string>

#include "zrn/cli/cli.h"
#include "zrn/platform/clock.h"
#include "zrn/platform/registry.h"

namespace zrn::cli {

// The Service Object as a Control Object calls it.
class ServiceObjectPort {
public:
    virtual ~ServiceObjectPort() = default;
    // Creates the object by program identifier and looks up its methods.
    // Empty on success, else what failed.
    virtual std::string create(const std::string& prog_id) = 0;
    virtual bool created() const = 0;
    // Lets go of the object (no call into it).
    virtual void release_object() = 0;

    virtual std::int32_t open_service(const std::string& device_key) = 0;
    virtual std::int32_t claim(std::int32_t timeout) = 0;
    virtual std::int32_t release_device() = 0;
    virtual std::int32_t close_service() = 0;
    virtual std::int32_t open_drawer() = 0;
    virtual std::int32_t wait_for_drawer_close(std::int32_t beep_timeout, std::int32_t frequency,
                                               std::int32_t duration, std::int32_t delay) = 0;
    virtual std::int32_t check_health(std::int32_t level) = 0;
    virtual std::int32_t direct_io(std::int32_t command, std::int32_t* data, std::string* text) = 0;
    // Property access; *ok is false when the call itself failed.
    virtual std::int32_t get_number(std::int32_t index, bool* ok) = 0;
    virtual void set_number(std::int32_t index, std::int32_t value) = 0;
    virtual std::string get_string(std::int32_t index, bool* ok) = 0;
    virtual std::int32_t result_code() = 0;
    virtual std::int32_t result_code_extended() = 0;
};

class Session {
public:
    Session(platform::Registry& reg, ServiceObjectPort& so, platform::Clock& clock)
        : reg_(reg), so_(so), clock_(clock) {}
    // Runs one step; the report's "ms" is the step's duration.
    StepReport run(const Step& step);
    // Closes an open device, as a Control Object does before it lets go, so
    // the Service Object stops calling back.
    void let_go();

private:
    void open(const std::string& name, StepReport* r);
    void call(const Step& step, StepReport* r);
    void caps(StepReport* r);
    void result(StepReport* r);
    void result(StepReport* r, std::int32_t rc);

    platform::Registry& reg_;
    ServiceObjectPort& so_;
    platform::Clock& clock_;
    std::string device_;
};

}  // namespace zrn::cli
