#pragma once

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "zrn/fakes/fake_clock.h"
#include "zrn/fakes/fake_files.h"
#include "zrn/fakes/fake_registry.h"
#include "zrn/fakes/fake_threads.h"
#include "zrn/so/service.h"

namespace zrn::so::testing {

// Both driver libraries as plain functions recording their calls. One
// instance is current at a time (the functions cannot capture).
struct FakeDrivers {
    std::mutex mu;                   // objects on several threads call the drivers
    std::vector<std::string> calls;  // "OpenCom unit=1", "PutCom 07 0d 0a", ...
    int ports_open = 0;              // opened by OpenCom / OpenLpt and not closed yet
    bool open_com_keeps_port = false;  // a failing OpenCom has opened the port (settings refused)
    int open_com_real_us = 0;          // OpenCom takes this long in real time (threads meet there)
    std::int64_t put_com_handle = -1;  // the port handle the last PutCom was given
    std::uint8_t open_com = 1, put_com = 1, get_com_stat = 1, open_lpt = 1, put_lpt = 1;
    std::int32_t com_status = 16;
    std::int32_t open_uport = 1, open_ucash = 1, ucash_status = 2;
    std::vector<std::pair<std::int32_t, StatusCaptureCallback>> c_capture, u_capture;
    std::vector<std::string> capture_order;
    static FakeDrivers* current;
    std::string last(const std::string& prefix) const;
    int count(const std::string& prefix) const;
};

class FakeLoader final : public DriverLoader {
public:
    FakeLoader();
    Library load(const std::string& path) override;
    void* symbol(Library lib, const char* name) override;
    void release(Library lib) override;

    std::map<std::string, std::map<std::string, void*>> libraries;  // by path
    std::vector<std::string> loads, released;
    std::vector<std::string> looked_up;  // names asked for, in order

private:
    std::mutex mu_;
    std::vector<std::string> by_handle_;
};

struct SinkCall {
    ControlObject co;
    std::string method;
    std::vector<EventArg> args;  // last first
};

class RecordingSink final : public EventSink {
public:
    bool deliver(ControlObject co, std::string_view method, const EventArg* args, int count) override;
    std::vector<SinkCall> calls;
    std::set<std::string> unknown;  // names this Control Object does not know
    std::function<void(const SinkCall&)> on_deliver;
    std::vector<std::int32_t> status_values() const;
};

class RecordingBeeper final : public Beeper {
public:
    void beep(std::int32_t f, std::int32_t d) override {
        beeps.push_back({f, d});
        if (on_beep) on_beep();
    }
    std::vector<std::pair<std::int32_t, std::int32_t>> beeps;
    std::function<void()> on_beep;
};

// The processes of a machine as the claim table asks after them: each has
// an id and a start time; an ended one is gone, an id in `unknown` cannot be
// asked about.
class FakeProcesses {
public:
    class Watch final : public ProcessWatch {
    public:
        Watch(FakeProcesses& system, ClaimHolder me) : system_(system), me_(me) {}
        ClaimHolder self() override { return me_; }
        Presence presence(std::uint32_t pid, std::uint64_t* started) override;

    private:
        FakeProcesses& system_;
        ClaimHolder me_;
    };
    Watch process(std::uint32_t pid, std::uint64_t started);
    void end(std::uint32_t pid);
    std::set<std::uint32_t> unknown;

private:
    std::mutex mu_;
    std::map<std::uint32_t, std::uint64_t> running_;
};

// One process: its module, ports and fakes. Two processes can share one
// claim block.
struct Process {
    explicit Process(fakes::FakeRegistry& reg, std::uint8_t* claim_block, ClaimLock& claim_lock,
                     ProcessWatch* processes = nullptr);
    ~Process();
    std::string trace_text() const;

    fakes::FakeRegistry& registry;
    FakeLoader loader;
    fakes::FakeClock clock;
    fakes::FakeThreads threads;
    RecordingSink sink;
    RecordingBeeper beeper;
    fakes::FakeFiles files;
    TraceLog trace{files, clock};
    ClaimTable claims;
    std::unique_ptr<ServiceModule> module;
};

class SoTest : public ::testing::Test {
protected:
    SoTest();
    ~SoTest() override;

    void settings(const std::string& target_path, std::int32_t trace_enabled);
    // Writes a device entry with the utility's defaults for its type.
    void device(const std::string& key, std::int32_t device_id);
    void value(const std::string& key, const std::string& name, const std::string& text);
    void value(const std::string& key, const std::string& name, std::uint32_t number);
    void logical(const std::string& name, const std::string& target);
    std::unique_ptr<ServiceObject> create();
    // Open, claim and enable; asserts each step succeeded.
    std::unique_ptr<ServiceObject> ready(const std::string& device_name);
    // Opens the device again over the open one, which rereads its entry, and
    // enables it; the claim stays.
    void reopen(ServiceObject& so, const std::string& device_name);

    fakes::FakeRegistry registry;
    std::uint8_t claim_block[kClaimTableSize] = {};
    InProcessClaimLock claim_lock;
    FakeDrivers drivers;
    std::unique_ptr<Process> p;
    ControlObject co = reinterpret_cast<ControlObject>(0x1234);
};

std::string hex(const char* text);

}  // namespace zrn::so::testing
