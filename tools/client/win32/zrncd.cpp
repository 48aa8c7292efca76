// zrncd: the technician's OPOS cash drawer client. It finds the device in
// the registry and creates the Service Object the entry names, exactly as
// a Control Object does, then runs the steps given on the command line.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "config_main.h"
#include "opos_client.h"
#include "zrn/cli/cli.h"
#include "zrn/opos.h"
#include "zrn/win32/win32_platform.h"

using namespace zrn;

namespace {

std::mutex g_out;  // events print from the Service Object's threads

void print_line(const std::string& line) {
    std::lock_guard lock(g_out);
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string now_text() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return buf;
}

class Runner {
public:
    explicit Runner(bool json) : json_(json) {
        co_.set_handler([this](const client::Event& e) {
            cli::EventReport r;
            r.kind = e.kind == client::Event::StatusUpdate ? "StatusUpdate" : "DirectIO";
            r.value = e.value;
            r.data = e.data;
            r.text = e.text;
            r.time = now_text();
            r.thread = e.thread;
            print_line(cli::format_event(r, json_));
        });
    }
    ~Runner() {
        let_go();
        // Event threads of the Service Object may still be delivering to this
        // object's IDispatch; they hold a module lock while they run.
        using CanUnload = HRESULT(__stdcall*)();
        if (HMODULE so = GetModuleHandleA("ZRNOPOSCD.dll")) {
            auto can_unload = reinterpret_cast<CanUnload>(reinterpret_cast<void*>(GetProcAddress(so, "DllCanUnloadNow")));
            for (int i = 0; can_unload && can_unload() != S_OK && i < 500; ++i) Sleep(10);
        }
        co_.set_handler(nullptr);
    }

    bool run(const cli::Step& step) {
        cli::StepReport r;
        r.step = step.verb;
        r.device = device_;
        const ULONGLONG start = GetTickCount64();
        if (step.verb == "open")
            open(step.text, &r);
        else if (step.verb == "sleep" || step.verb == "watch")
            Sleep(static_cast<DWORD>(step.numbers[0] < 0 ? 0 : step.numbers[0]));
        else if (!so_.object())
            closed(&r);
        else
            call(step, &r);
        r.ok = r.rc == OPOS_SUCCESS;
        r.add("ms", static_cast<std::int64_t>(GetTickCount64() - start));
        print_line(cli::format_step(r, json_));
        return r.ok;
    }

private:
    // As a Control Object answers a call before any open.
    static void closed(cli::StepReport* r) {
        r->rc = 101;
        r->add("error", std::string("no device is open"));
    }

    // Closes an open device, as a Control Object does before it lets go, so
    // the Service Object stops using this client's IDispatch.
    void let_go() {
        if (!device_.empty() && so_.object()) so_.close();
        so_.reset();
        device_.clear();
    }

    void open(const std::string& name, cli::StepReport* r) {
        let_go();
        r->device = name;
        const cli::Resolved found = cli::resolve(registry_, name);
        if (!found.found) {
            r->rc = OPOS_E_NOEXIST;
            r->add("error", "no device entry " + found.key);
            return;
        }
        r->add("DeviceKey", found.key);
        r->add("ProgID", found.prog_id);
        const HRESULT hr = so_.create(client::widen(found.prog_id));
        if (FAILED(hr)) {
            r->rc = OPOS_E_NOSERVICE;
            char buf[16];
            std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
            r->add("error", std::string("the Service Object cannot be created: ") + buf);
            return;
        }
        if (!so_.look_up_methods()) {
            r->rc = OPOS_E_NOSERVICE;
            r->add("error", "the Service Object has no method " + client::narrow(so_.missing()));
            so_.reset();
            return;
        }
        r->rc = so_.open(L"CashDrawer", client::widen(found.key), &co_);
        r->rce = so_.result_code_extended();
        if (r->rc != OPOS_SUCCESS) {
            // A Control Object only lets go of a Service Object whose open failed.
            so_.reset();
            return;
        }
        const std::int32_t version = so_.get_number(PIDX_ServiceObjectVersion);
        r->add("ServiceObjectVersion", version);
        if (version / 1000000 != 1) {
            r->rc = OPOS_E_NOSERVICE;
            r->add("error", std::string("unsupported Service Object version"));
            so_.close();
            so_.reset();
            return;
        }
        device_ = found.key;
        r->device = device_;
    }

    void result(cli::StepReport* r) {
        r->rc = so_.result_code();
        r->rce = so_.result_code_extended();
    }
    void result(cli::StepReport* r, std::int32_t rc) {
        result(r);
        r->rc = rc;
    }

    void call(const cli::Step& step, cli::StepReport* r) {
        const auto& n = step.numbers;
        if (step.verb == "claim") {
            result(r, so_.claim(n[0]));
        } else if (step.verb == "enable" || step.verb == "disable") {
            so_.set_number(PIDX_DeviceEnabled, step.verb == "enable" ? 1 : 0);
            result(r);
        } else if (step.verb == "freeze" || step.verb == "unfreeze") {
            so_.set_number(PIDX_FreezeEvents, step.verb == "freeze" ? 1 : 0);
            result(r);
        } else if (step.verb == "fire") {
            result(r, so_.open_drawer());
        } else if (step.verb == "status") {
            const std::int32_t opened = so_.get_number(PIDX_DrawerOpened);
            result(r);
            r->add("DrawerOpened", opened);
        } else if (step.verb == "caps") {
            caps(r);
        } else if (step.verb == "wait") {
            result(r, so_.wait_for_drawer_close(n[0], n[1], n[2], n[3]));
        } else if (step.verb == "health") {
            result(r, so_.check_health(n[0]));
            r->add("CheckHealthText", client::narrow(so_.get_string(PIDX_CheckHealthText)));
        } else if (step.verb == "directio") {
            std::int32_t data = n[1];
            std::wstring text = client::widen(step.text);
            result(r, so_.direct_io(n[0], &data, &text));
            r->add("Data", data);
            r->add("Text", client::narrow(text));
        } else if (step.verb == "release") {
            result(r, so_.release());
        } else if (step.verb == "close") {
            result(r, so_.close());
            device_.clear();
            so_.reset();
        }
    }

    void caps(cli::StepReport* r) {
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
            const std::int32_t value = so_.get_number(p.index);
            read = read && SUCCEEDED(so_.last_hresult());
            r->add(p.name, value);
        }
        const struct {
            const char* name;
            std::int32_t index;
        } strings[] = {{"DeviceName", PIDX_DeviceName},
                       {"DeviceDescription", PIDX_DeviceDescription},
                       {"ServiceObjectDescription", PIDX_ServiceObjectDescription}};
        for (const auto& p : strings) {
            r->add(p.name, client::narrow(so_.get_string(p.index)));
            read = read && SUCCEEDED(so_.last_hresult());
        }
        r->rce = so_.result_code_extended();
        r->rc = read ? OPOS_SUCCESS : OPOS_E_NOSERVICE;
        if (!read) r->add("error", std::string("a property could not be read"));
    }

    bool json_;
    win32::Win32Registry registry_;
    client::EventReceiver co_;
    client::ServiceClient so_;
    std::string device_;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "config") return cfg::config_main({args.begin() + 1, args.end()});
    cli::Options options;
    const std::string error = cli::parse(args, &options);
    if (!error.empty()) {
        std::fprintf(stderr, "zrncd: %s\n%s", error.c_str(), cli::usage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(cli::usage().c_str(), stdout);
        return 0;
    }
    if (options.list) {
        win32::Win32Registry registry;
        std::vector<cli::DeviceListing> devices;
        std::vector<cli::LogicalListing> names;
        cli::list_devices(registry, &devices, &names);
        std::fputs(cli::format_listing(devices, names, options.json).c_str(), stdout);
        return 0;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        std::fprintf(stderr, "zrncd: COM cannot be initialised\n");
        return 1;
    }
    bool all_ok = true;
    {
        Runner runner(options.json);
        for (const auto& step : options.steps) {
            if (!runner.run(step)) {
                all_ok = false;
                if (!options.keep_going) break;
            }
        }
    }
    CoUninitialize();
    return all_ok ? 0 : 1;
}
