#include "zrn/cli/session.h"

#include "zrn/opos.h"

namespace zrn::cli {

StepReport Session::run(const Step& step) {
    StepReport r;
    r.step = verb_name(step.verb);
    r.device = device_;
    const std::uint64_t start = clock_.monotonic_ms();
    if (step.verb == Verb::Open) {
        open(step.text, &r);
    } else if (step.verb == Verb::Sleep || step.verb == Verb::Watch) {
        clock_.sleep_ms(static_cast<std::uint32_t>(step.numbers[0] < 0 ? 0 : step.numbers[0]));
    } else if (!so_.created()) {
        // As a Control Object answers a call before any open.
        r.rc = OPOS_E_CLOSED;
        r.add("error", std::string("no device is open"));
    } else {
        call(step, &r);
    }
    r.ok = r.rc == OPOS_SUCCESS;
    r.add("ms", static_cast<std::int64_t>(clock_.monotonic_ms() - start));
    return r;
}

void Session::let_go() {
    if (!device_.empty() && so_.created()) so_.close_service();
    so_.release_object();
    device_.clear();
}

void Session::open(const std::string& name, StepReport* r) {
    let_go();
    r->device = name;
    const Resolved found = resolve(reg_, name);
    if (!found.found) {
        r->rc = OPOS_E_NOEXIST;
        r->add("error", "no device entry " + found.key);
        return;
    }
    r->add("DeviceKey", found.key);
    r->add("ProgID", found.prog_id);
    if (const std::string error = so_.create(found.prog_id); !error.empty()) {
        r->rc = OPOS_E_NOSERVICE;
        r->add("error", error);
        so_.release_object();
        return;
    }
    r->rc = so_.open_service(found.key);
    r->rce = so_.result_code_extended();
    if (r->rc != OPOS_SUCCESS) {
        // A Control Object only lets go of a Service Object whose open failed.
        so_.release_object();
        return;
    }
    bool ok = true;
    const std::int32_t version = so_.get_number(PIDX_ServiceObjectVersion, &ok);
    r->add("ServiceObjectVersion", version);
    // Major version 1: the release of the standard this client speaks.
    if (!ok || version / 1000000 != 1) {
        r->rc = OPOS_E_NOSERVICE;
        r->add("error", std::string("unsupported Service Object version"));
        so_.close_service();
        so_.release_object();
        return;
    }
    device_ = found.key;
    r->device = device_;
}

void Session::result(StepReport* r) {
    r->rc = so_.result_code();
    r->rce = so_.result_code_extended();
}

void Session::result(StepReport* r, std::int32_t rc) {
    result(r);
    r->rc = rc;
}

void Session::call(const Step& step, StepReport* r) {
    const auto& n = step.numbers;
    bool ok = true;
    switch (step.verb) {
        case Verb::Claim: result(r, so_.claim(n[0])); break;
        case Verb::Enable:
        case Verb::Disable:
            so_.set_number(PIDX_DeviceEnabled, step.verb == Verb::Enable ? 1 : 0);
            result(r);
            break;
        case Verb::Freeze:
        case Verb::Unfreeze:
            so_.set_number(PIDX_FreezeEvents, step.verb == Verb::Freeze ? 1 : 0);
            result(r);
            break;
        case Verb::Fire: result(r, so_.open_drawer()); break;
        case Verb::Status: {
            const std::int32_t opened = so_.get_number(PIDX_DrawerOpened, &ok);
            result(r);
            r->add("DrawerOpened", opened);
            break;
        }
        case Verb::Caps: caps(r); break;
        case Verb::Wait: result(r, so_.wait_for_drawer_close(n[0], n[1], n[2], n[3])); break;
        case Verb::Health:
            result(r, so_.check_health(n[0]));
            r->add("CheckHealthText", so_.get_string(PIDX_CheckHealthText, &ok));
            break;
        case Verb::DirectIO: {
            std::int32_t data = n[1];
            std::string text = step.text;
            result(r, so_.direct_io(n[0], &data, &text));
            r->add("Data", data);
            r->add("Text", text);
            break;
        }
        case Verb::Release: result(r, so_.release_device()); break;
        case Verb::Close:
            result(r, so_.close_service());
            device_.clear();
            so_.release_object();
            break;
        case Verb::Open:
        case Verb::Watch:
        case Verb::Sleep: break;  // run() handles them
    }
}

void Session::caps(StepReport* r) {
    const struct {
        const char* name;
        std::int32_t index;
    } numbers[] = {{"CapStatus", PIDX_CapStatus},
                   {"CapStatusMultiDrawerDetect", PIDX_CapStatusMultiDrawerDetect},
                   {"CapPowerReporting", PIDX_CapPowerReporting},
                   {"ServiceObjectVersion", PIDX_ServiceObjectVersion},
                   {"Claimed", PIDX_Claimed},
                   {"DeviceEnabled", PIDX_DeviceEnabled},
                   {"State", PIDX_State}};
    bool read = true;
    for (const auto& p : numbers) {
        bool ok = true;
        const std::int32_t value = so_.get_number(p.index, &ok);
        read = read && ok;
        r->add(p.name, value);
    }
    const struct {
        const char* name;
        std::int32_t index;
    } strings[] = {{"DeviceName", PIDX_DeviceName},
                   {"DeviceDescription", PIDX_DeviceDescription},
                   {"ServiceObjectDescription", PIDX_ServiceObjectDescription}};
    for (const auto& p : strings) {
        bool ok = true;
        r->add(p.name, so_.get_string(p.index, &ok));
        read = read && ok;
    }
    r->rce = so_.result_code_extended();
    r->rc = read ? OPOS_SUCCESS : OPOS_E_NOSERVICE;
    if (!read) r->add("error", std::string("a property could not be read"));
}

}  // namespace zrn::cli
