#include "so_fixture.h"

#include "device_entries.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "zrn/device_types.h"
#include "zrn/opos.h"

namespace zrn::so::testing {

FakeDrivers* FakeDrivers::current = nullptr;

std::string FakeDrivers::last(const std::string& prefix) const {
    for (auto it = calls.rbegin(); it != calls.rend(); ++it)
        if (it->rfind(prefix, 0) == 0) return *it;
    return "";
}

int FakeDrivers::count(const std::string& prefix) const {
    int n = 0;
    for (const auto& c : calls) n += c.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

std::string hex(const char* text) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        char b[4];
        std::snprintf(b, sizeof b, out.empty() ? "%02x" : " %02x", *p);
        out += b;
    }
    return out;
}

namespace {

FakeDrivers& D() { return *FakeDrivers::current; }
void rec(const std::string& s) {
    std::lock_guard lock(D().mu);
    D().calls.push_back(s);
}
void port_opened(DriverParamBlock* b, std::int32_t handle) {
    std::lock_guard lock(D().mu);
    b->PortHandle = handle;
    if (handle != -1) ++D().ports_open;
}
void port_closed(DriverParamBlock* b) {
    std::lock_guard lock(D().mu);
    if (b->PortHandle != 0 && b->PortHandle != -1) --D().ports_open;
}
std::string block_tag(DriverParamBlock* b) { return std::string(field_text(b->Device.DeviceName)); }

std::int32_t ZRN_STDCALL CVersion(std::int32_t) { return 1; }
std::uint8_t ZRN_STDCALL OpenCom(DriverParamBlock* b, std::int32_t unit) {
    rec("OpenCom " + block_tag(b) + " unit=" + std::to_string(unit));
    if (D().open_com_real_us) std::this_thread::sleep_for(std::chrono::microseconds(D().open_com_real_us));
    port_opened(b, D().open_com || D().open_com_keeps_port ? 0x40 : -1);
    return D().open_com;
}
std::int32_t ZRN_STDCALL CloseCom(DriverParamBlock* b) {
    rec("CloseCom " + block_tag(b));
    port_closed(b);
    return 1;
}
std::uint8_t ZRN_STDCALL PutCom(DriverParamBlock* b, const char* text) {
    {
        std::lock_guard lock(D().mu);
        D().put_com_handle = b->PortHandle;
    }
    rec("PutCom " + hex(text));
    return D().put_com;
}
std::uint8_t ZRN_STDCALL GetComStat(DriverParamBlock*, std::int32_t* status) {
    rec("GetComStat");
    *status = D().com_status;
    return D().get_com_stat;
}
std::uint8_t ZRN_STDCALL OpenLpt(DriverParamBlock* b, std::int32_t unit) {
    rec("OpenLpt unit=" + std::to_string(unit));
    port_opened(b, D().open_lpt ? 0x50 : -1);
    return D().open_lpt;
}
std::int32_t ZRN_STDCALL CloseLpt(DriverParamBlock* b) {
    rec("CloseLpt");
    port_closed(b);
    return 1;
}
std::uint8_t ZRN_STDCALL PutLpt(DriverParamBlock*, const char* text) {
    rec("PutLpt " + hex(text));
    return D().put_lpt;
}
std::int32_t ZRN_STDCALL StartStatusCCapture(std::int32_t on, StatusCaptureCallback cb) {
    std::lock_guard lock(D().mu);
    D().c_capture.push_back({on, cb});
    D().capture_order.push_back("C");
    return 1;
}
std::int32_t ZRN_STDCALL UVersion() { return 1; }
std::int32_t ZRN_STDCALL OpenUPort(std::int32_t unit) {
    rec("OpenUPort unit=" + std::to_string(unit));
    return D().open_uport;
}
std::int32_t ZRN_STDCALL OpenUCashDrawer(std::int32_t unit) {
    rec("OpenUCashDrawer unit=" + std::to_string(unit));
    return D().open_ucash;
}
std::int32_t ZRN_STDCALL UCashDrawerStatus(std::int32_t unit) {
    rec("UCashDrawerStatus unit=" + std::to_string(unit));
    return D().ucash_status;
}
std::int32_t ZRN_STDCALL CloseUPort(std::int32_t unit) {
    rec("CloseUPort unit=" + std::to_string(unit));
    return 1;
}
std::int32_t ZRN_STDCALL StartStatusUCapture(std::int32_t on, StatusCaptureCallback cb) {
    std::lock_guard lock(D().mu);
    D().u_capture.push_back({on, cb});
    D().capture_order.push_back("U");
    return 1;
}

template <typename F>
void* fn(F f) {
    return reinterpret_cast<void*>(f);
}

Process* g_process = nullptr;
void ZRN_STDCALL on_status_capture(const char* name, std::int32_t status) {
    g_process->module->OnStatusCapture(name, status);
}

}  // namespace

FakeLoader::FakeLoader() {
    libraries["C:\\Drivers\\PortDrawerSO.DLL"] = {
        {"CVersion", fn(CVersion)}, {"OpenCom", fn(OpenCom)}, {"CloseCom", fn(CloseCom)},
        {"PutCom", fn(PutCom)},     {"GetComStat", fn(GetComStat)}, {"OpenLpt", fn(OpenLpt)},
        {"CloseLpt", fn(CloseLpt)}, {"PutLpt", fn(PutLpt)},   {"StartStatusCCapture", fn(StartStatusCCapture)}};
    libraries["C:\\Drivers\\USB730SO.DLL"] = {
        {"UVersion", fn(UVersion)},
        {"OpenUPort", fn(OpenUPort)},
        {"OpenUCashDrawer", fn(OpenUCashDrawer)},
        {"UCashDrawerStatus", fn(UCashDrawerStatus)},
        {"CloseUPort", fn(CloseUPort)},
        {"StartStatusUCapture", fn(StartStatusUCapture)}};
    by_handle_.push_back("");
}

DriverLoader::Library FakeLoader::load(const std::string& path) {
    std::lock_guard lock(mu_);
    loads.push_back(path);
    if (!libraries.count(path)) return 0;
    by_handle_.push_back(path);
    return by_handle_.size() - 1;
}

void* FakeLoader::symbol(Library lib, const char* name) {
    std::lock_guard lock(mu_);
    looked_up.push_back(name);
    const auto& syms = libraries[by_handle_.at(lib)];
    auto it = syms.find(name);
    return it == syms.end() ? nullptr : it->second;
}

void FakeLoader::release(Library lib) {
    std::lock_guard lock(mu_);
    released.push_back(by_handle_.at(lib));
}

bool RecordingSink::deliver(ControlObject co, std::string_view method, const EventArg* args, int count) {
    if (unknown.count(std::string(method))) return false;
    SinkCall c{co, std::string(method), std::vector<EventArg>(args, args + count)};
    calls.push_back(c);
    if (on_deliver) on_deliver(calls.back());
    return true;
}

std::vector<std::int32_t> RecordingSink::status_values() const {
    std::vector<std::int32_t> v;
    for (const auto& c : calls)
        if (c.method == "SOStatusUpdate") v.push_back(c.args.at(0).value);
    return v;
}

FakeProcesses::Watch FakeProcesses::process(std::uint32_t pid, std::uint64_t started) {
    std::lock_guard lock(mu_);
    running_[pid] = started;
    return Watch(*this, ClaimHolder{pid, started});
}

void FakeProcesses::end(std::uint32_t pid) {
    std::lock_guard lock(mu_);
    running_.erase(pid);
}

ProcessWatch::Presence FakeProcesses::Watch::presence(std::uint32_t pid, std::uint64_t* started) {
    std::lock_guard lock(system_.mu_);
    if (system_.unknown.count(pid)) return Presence::Unknown;
    auto it = system_.running_.find(pid);
    if (it == system_.running_.end()) return Presence::Gone;
    *started = it->second;
    return Presence::Running;
}

Process::Process(fakes::FakeRegistry& reg, std::uint8_t* claim_block, ClaimLock& claim_lock, ProcessWatch* processes)
    : registry(reg), claims(claim_block, claim_lock, processes) {
    module = std::make_unique<ServiceModule>(
        ModulePorts{registry, loader, clock, threads, sink, beeper, trace, claims, &on_status_capture});
    g_process = this;
}

Process::~Process() {
    threads.run_pending();
    if (g_process == this) g_process = nullptr;
}

std::string Process::trace_text() const { return files.content(trace_file_name(const_cast<fakes::FakeClock&>(clock).local_time())); }

SoTest::SoTest() {
    FakeDrivers::current = &drivers;
    settings("C:\\Drivers", 1);
    p = std::make_unique<Process>(registry, claim_block, claim_lock);
}

SoTest::~SoTest() {
    p.reset();
    FakeDrivers::current = nullptr;
}

void SoTest::settings(const std::string& target_path, std::int32_t trace_enabled) {
    write_settings(registry, target_path, trace_enabled);
}

void SoTest::value(const std::string& key, const std::string& name, const std::string& text) {
    write_value(registry, key, name, text);
}

void SoTest::value(const std::string& key, const std::string& name, std::uint32_t number) {
    write_value(registry, key, name, number);
}

void SoTest::device(const std::string& key, std::int32_t id) { write_device(registry, key, id); }

void SoTest::logical(const std::string& name, const std::string& target) {
    write_logical(registry, name, target);
}

std::unique_ptr<ServiceObject> SoTest::create() { return std::make_unique<ServiceObject>(*p->module); }

std::unique_ptr<ServiceObject> SoTest::ready(const std::string& name) {
    auto so = create();
    EXPECT_EQ(so->OpenService("CashDrawer", name, co), 0);
    EXPECT_EQ(so->ClaimDevice(1000), 0);
    so->SetPropertyNumber(PIDX_DeviceEnabled, 1);
    EXPECT_EQ(so->ResultCode(), 0);
    return so;
}

void SoTest::reopen(ServiceObject& so, const std::string& name) {
    so.OpenService("CashDrawer", name, co);
    so.SetPropertyNumber(PIDX_DeviceEnabled, 1);
}

}  // namespace zrn::so::testing
