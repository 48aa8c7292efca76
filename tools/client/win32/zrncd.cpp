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
#include "doctor_win32.h"
#include "opos_client.h"
#include "zrn/cli/cli.h"
#include "zrn/cli/session.h"
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

// The Service Object through its dispatch interface, with this client's
// IDispatch for its events.
class ComServiceObject final : public cli::ServiceObjectPort {
public:
    explicit ComServiceObject(client::EventReceiver& co) : co_(co) {}

    std::string create(const std::string& prog_id) override {
        const HRESULT hr = so_.create(client::widen(prog_id));
        if (FAILED(hr)) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(hr));
            return std::string("the Service Object cannot be created: ") + buf;
        }
        if (!so_.look_up_methods()) return "the Service Object has no method " + client::narrow(so_.missing());
        return {};
    }
    bool created() const override { return so_.object() != nullptr; }
    void release_object() override { so_.reset(); }
    std::int32_t open_service(const std::string& key) override {
        return so_.open(L"CashDrawer", client::widen(key), &co_);
    }
    std::int32_t claim(std::int32_t timeout) override { return so_.claim(timeout); }
    std::int32_t release_device() override { return so_.release(); }
    std::int32_t close_service() override { return so_.close(); }
    std::int32_t open_drawer() override { return so_.open_drawer(); }
    std::int32_t wait_for_drawer_close(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) override {
        return so_.wait_for_drawer_close(a, b, c, d);
    }
    std::int32_t check_health(std::int32_t level) override { return so_.check_health(level); }
    std::int32_t direct_io(std::int32_t command, std::int32_t* data, std::string* text) override {
        std::wstring wide = client::widen(*text);
        const std::int32_t rc = so_.direct_io(command, data, &wide);
        *text = client::narrow(wide);
        return rc;
    }
    std::int32_t get_number(std::int32_t index, bool* ok) override {
        const std::int32_t v = so_.get_number(index);
        *ok = SUCCEEDED(so_.last_hresult());
        return v;
    }
    void set_number(std::int32_t index, std::int32_t value) override { so_.set_number(index, value); }
    std::string get_string(std::int32_t index, bool* ok) override {
        const std::string v = client::narrow(so_.get_string(index));
        *ok = SUCCEEDED(so_.last_hresult());
        return v;
    }
    std::int32_t result_code() override { return so_.result_code(); }
    std::int32_t result_code_extended() override { return so_.result_code_extended(); }

private:
    client::EventReceiver& co_;
    client::ServiceClient so_;
};

// The Win32 clock, except that its sleeps pump this thread's messages: the
// Service Object's events wait for them, as they wait for an application's
// message loop.
class PumpingClock final : public platform::Clock {
public:
    void sleep_ms(std::uint32_t ms) override { client::pump_messages(ms); }
    platform::LocalTime local_time() override { return clock_.local_time(); }
    std::uint64_t monotonic_ms() override { return clock_.monotonic_ms(); }

private:
    win32::Win32Clock clock_;
};

class Runner {
public:
    explicit Runner(bool json) : json_(json), so_(co_), session_(registry_, so_, clock_) {
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
        session_.let_go();
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
        const cli::StepReport r = session_.run(step);
        print_line(cli::format_step(r, json_));
        return r.ok;
    }

private:
    bool json_;
    win32::Win32Registry registry_;
    PumpingClock clock_;
    client::EventReceiver co_;
    ComServiceObject so_;
    cli::Session session_;
};

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    switch (cli::tool_of(std::vector<std::string>(argv + 1, argv + argc), &args)) {
        case cli::Tool::Doctor:
            return run_doctor(args);
        case cli::Tool::Config:
            return cfg::config_main(args);
        case cli::Tool::Steps:
            break;
    }
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
