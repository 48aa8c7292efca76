// zrncd end to end under Wine: its JSON lines against the registered
// Service Object and the simulated drivers, failing steps included.
#include <string>
#include <vector>

#include "so_env.h"

using namespace zrn;
using namespace zrn::e2e;

namespace {

const std::string kClient = client::windows_path(ZRN_CLIENT_EXE);

// A run of the client, its stdout read line by line as it comes.
class ClientRun {
public:
    explicit ClientRun(const std::string& args) {
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        HANDLE write = nullptr;
        if (!CreatePipe(&read_, &write, &sa, 0)) return;
        SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = write;
        si.hStdError = write;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        std::string cmd = "\"" + kClient + "\" " + args;
        PROCESS_INFORMATION pi{};
        if (CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
            CloseHandle(pi.hThread);
            process_ = pi.hProcess;
        }
        CloseHandle(write);
    }
    ~ClientRun() {
        if (read_) CloseHandle(read_);
        if (process_) {
            if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) TerminateProcess(process_, 99);
            CloseHandle(process_);
        }
    }
    // The next line, false at the end of the output.
    bool next(std::string* line) {
        for (;;) {
            const std::size_t nl = pending_.find('\n');
            if (nl != std::string::npos) {
                *line = pending_.substr(0, nl);
                if (!line->empty() && line->back() == '\r') line->pop_back();
                pending_.erase(0, nl + 1);
                lines_.push_back(*line);
                return true;
            }
            char buf[4096];
            DWORD got = 0;
            if (!read_ || !ReadFile(read_, buf, sizeof buf, &got, nullptr) || got == 0) {
                if (pending_.empty()) return false;
                *line = pending_;
                pending_.clear();
                lines_.push_back(*line);
                return true;
            }
            pending_.append(buf, got);
        }
    }
    // Reads to the end; the exit code (-1 when it did not end in time).
    int finish() {
        std::string line;
        while (next(&line)) {
        }
        DWORD code = static_cast<DWORD>(-1);
        if (!process_ || WaitForSingleObject(process_, 60000) != WAIT_OBJECT_0 || !GetExitCodeProcess(process_, &code))
            return -1;
        return static_cast<int>(code);
    }
    const std::vector<std::string>& lines() const { return lines_; }
    std::string all() const {
        std::string s;
        for (const auto& l : lines_) s += l + "\n";
        return s;
    }

private:
    HANDLE read_ = nullptr;
    HANDLE process_ = nullptr;
    std::string pending_;
    std::vector<std::string> lines_;
};

bool has(const std::string& line, const std::string& part) { return line.find(part) != std::string::npos; }

// The JSON line of a step, or "".
std::string step_line(const ClientRun& run, const std::string& step) {
    for (const auto& l : run.lines())
        if (has(l, "{\"step\":\"" + step + "\"")) return l;
    return {};
}

class ClientE2E : public ::testing::Test {
protected:
    void SetUp() override {
        settings(1);
        write_devices();
        reset_hardware();
    }
};

TEST_F(ClientE2E, FiresWatchesAndClosesWithJsonLines) {
    ClientRun run("--json open FrontDrawer claim enable fire watch 1500 status disable release close");
    std::string line;
    bool fired = false;
    while (run.next(&line)) {
        if (!fired && has(line, "{\"step\":\"fire\"")) {
            fired = true;
            set_modem(1, 0);  // the drawer springs open while the client watches
        }
    }
    EXPECT_TRUE(fired) << run.all();
    EXPECT_EQ(run.finish(), 0) << run.all();
    const std::string open = step_line(run, "open");
    EXPECT_TRUE(has(open, "\"device\":\"CD926\"")) << "the logical name resolved: " << open;
    EXPECT_TRUE(has(open, "\"ProgID\":\"ZRNOPOSCD.SO\"")) << open;
    for (const char* step : {"open", "claim", "enable", "fire", "status", "disable", "release", "close"}) {
        const std::string l = step_line(run, step);
        EXPECT_TRUE(has(l, "\"ok\":true,\"rc\":0,\"rc_name\":\"OPOS_SUCCESS\",\"rce\":0")) << step << ": " << l;
    }
    EXPECT_TRUE(has(step_line(run, "status"), "\"DrawerOpened\":1")) << run.all();
    bool event = false;
    for (const auto& l : run.lines()) event = event || has(l, "{\"event\":\"StatusUpdate\"") && has(l, "\"status\":1");
    EXPECT_TRUE(event) << run.all();
    EXPECT_EQ(written(hw()->com[0]), std::string("\x07\r\n"));
}

TEST_F(ClientE2E, FailingStepsCarryTheirResultCodes) {
    {
        ClientRun run("--json open CD999 claim");
        EXPECT_EQ(run.finish(), 1);
        ASSERT_EQ(run.lines().size(), 1u) << "stops at the failing step: " << run.all();
        EXPECT_TRUE(has(run.lines()[0], "\"ok\":false,\"rc\":109,\"rc_name\":\"OPOS_E_NOEXIST\"")) << run.all();
    }
    {
        // Claimed by this process: the client is refused.
        client::EventReceiver co;
        client::ServiceClient holder;
        ASSERT_EQ(open_device(holder, &co, "CD615"), 0);
        ASSERT_EQ(holder.claim(0), 0);
        ClientRun run("--json --keep-going open CD615 claim enable close");
        EXPECT_EQ(run.finish(), 1);
        EXPECT_TRUE(has(step_line(run, "open"), "\"rc\":0")) << run.all();
        EXPECT_TRUE(has(step_line(run, "claim"), "\"ok\":false,\"rc\":102,\"rc_name\":\"OPOS_E_CLAIMED\"")) << run.all();
        EXPECT_TRUE(has(step_line(run, "enable"), "\"rc\":102")) << run.all();
        EXPECT_TRUE(has(step_line(run, "close"), "\"rc\":0")) << "keep-going ran the rest: " << run.all();
        EXPECT_EQ(holder.close(), 0);
    }
    {
        ClientRun run("--json fire");
        EXPECT_EQ(run.finish(), 1);
        EXPECT_TRUE(has(step_line(run, "fire"), "\"rc\":101,\"rc_name\":\"OPOS_E_CLOSED\"")) << run.all();
    }
    {
        ClientRun run("open CD926 shoot");
        EXPECT_EQ(run.finish(), 2);
        EXPECT_TRUE(has(run.all(), "unknown step 'shoot'")) << run.all();
    }
}

TEST_F(ClientE2E, ListsDevicesAndLogicalNames) {
    ClientRun run("--json list");
    EXPECT_EQ(run.finish(), 0);
    const std::string all = run.all();
    EXPECT_TRUE(has(all, "{\"device\":\"CD926\",\"prog_id\":\"ZRNOPOSCD.SO\",\"device_id\":0,\"port\":\"COM1\"")) << all;
    EXPECT_TRUE(has(all, "{\"device\":\"CD730\",\"prog_id\":\"ZRNOPOSCD.SO\",\"device_id\":3,\"port\":\"USB\"")) << all;
    EXPECT_TRUE(has(all, "{\"logical_name\":\"FrontDrawer\",\"device\":\"CD926\"}")) << all;
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ComEnvironment);
    return RUN_ALL_TESTS();
}
