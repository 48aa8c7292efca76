// zrncd end to end under Wine: its JSON lines against the registered
// Service Object and the simulated drivers, failing steps included.
#include <string>
#include <vector>

#include "client_run.h"
#include "hid_drawer.h"
#include "so_env.h"

using namespace zrn;
using namespace zrn::e2e;

namespace {

const std::string kClient = client::windows_path(ZRN_CLIENT_EXE);

struct ClientRun : e2e::ClientRun {
    explicit ClientRun(const std::string& args) : e2e::ClientRun(kClient, args) {}
};

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
    EXPECT_TRUE(fired) << run.output_text();
    EXPECT_EQ(run.finish(), 0) << run.output_text();
    const std::string open = step_line(run, "open");
    EXPECT_TRUE(has(open, "\"device\":\"CD926\"")) << "the logical name resolved: " << open;
    EXPECT_TRUE(has(open, "\"ProgID\":\"ZRNOPOSCD.SO\"")) << open;
    for (const char* step : {"open", "claim", "enable", "fire", "status", "disable", "release", "close"}) {
        const std::string l = step_line(run, step);
        EXPECT_TRUE(has(l, "\"ok\":true,\"rc\":0,\"rc_name\":\"OPOS_SUCCESS\",\"rce\":0")) << step << ": " << l;
    }
    EXPECT_TRUE(has(step_line(run, "status"), "\"DrawerOpened\":1")) << run.output_text();
    bool event = false;
    for (const auto& l : run.lines()) event = event || (has(l, "{\"event\":\"StatusUpdate\"") && has(l, "\"status\":1"));
    EXPECT_TRUE(event) << run.output_text();
    EXPECT_EQ(written(hw()->com[0]), std::string("\x07\r\n"));
}

TEST_F(ClientE2E, FailingStepsCarryTheirResultCodes) {
    {
        ClientRun run("--json open CD999 claim");
        EXPECT_EQ(run.finish(), 1);
        ASSERT_EQ(run.lines().size(), 1u) << "stops at the failing step: " << run.output_text();
        EXPECT_TRUE(has(run.lines()[0], "\"ok\":false,\"rc\":109,\"rc_name\":\"OPOS_E_NOEXIST\"")) << run.output_text();
    }
    {
        // Claimed by this process: the client is refused.
        client::EventReceiver co;
        client::ServiceClient holder;
        ASSERT_EQ(open_device(holder, &co, "CD615"), 0);
        ASSERT_EQ(holder.claim(0), 0);
        ClientRun run("--json --keep-going open CD615 claim enable close");
        EXPECT_EQ(run.finish(), 1);
        EXPECT_TRUE(has(step_line(run, "open"), "\"rc\":0")) << run.output_text();
        EXPECT_TRUE(has(step_line(run, "claim"), "\"ok\":false,\"rc\":102,\"rc_name\":\"OPOS_E_CLAIMED\"")) << run.output_text();
        EXPECT_TRUE(has(step_line(run, "enable"), "\"rc\":102")) << run.output_text();
        EXPECT_TRUE(has(step_line(run, "close"), "\"rc\":0")) << "keep-going ran the rest: " << run.output_text();
        EXPECT_EQ(holder.close(), 0);
    }
    {
        ClientRun run("--json fire");
        EXPECT_EQ(run.finish(), 1);
        EXPECT_TRUE(has(step_line(run, "fire"), "\"rc\":101,\"rc_name\":\"OPOS_E_CLOSED\"")) << run.output_text();
    }
    {
        ClientRun run("open CD926 shoot");
        EXPECT_EQ(run.finish(), 2);
        EXPECT_TRUE(has(run.output_text(), "unknown step 'shoot'")) << run.output_text();
    }
}

TEST_F(ClientE2E, ListsDevicesAndLogicalNames) {
    ClientRun run("--json list");
    EXPECT_EQ(run.finish(), 0);
    const std::string all = run.output_text();
    EXPECT_TRUE(has(all, "{\"device\":\"CD926\",\"prog_id\":\"ZRNOPOSCD.SO\",\"device_id\":0,\"port\":\"COM1\"")) << all;
    EXPECT_TRUE(has(all, "{\"device\":\"CD730\",\"prog_id\":\"ZRNOPOSCD.SO\",\"device_id\":3,\"port\":\"USB\"")) << all;
    EXPECT_TRUE(has(all, "{\"logical_name\":\"FrontDrawer\",\"device\":\"CD926\"}")) << all;
}

// As a POS uses it, with the shipped drivers behind TargetPath and a HID
// drawer of the test VM (the *OnHidDrawer* cases run there, under
// tests/hid/hid_drawer.py): fired, seen open, pushed shut while watched.
TEST(ClientE2EOnHidDrawer, FiresTheUsbDrawerAndWatchesItClose) {
    HidDrawers hid;
    ASSERT_TRUE(hid.ok()) << "no HID drawer: run as tests/hid/hid_drawer.py -- TEST, in the test VM";
    ScopedUsbSettings scoped(UsbSettings{});
    settings(1, client::windows_path(ZRN_DIST_DIR));
    write_devices();
    ASSERT_TRUE(hid.add("d")) << hid.last();
    ASSERT_TRUE(hid.shown({"d"}));
    ClientRun run("--json open CD730 claim enable fire status watch " + std::to_string(10000 * ZRN_TIME_FACTOR) +
                  " status close");
    std::string line;
    int statuses = 0;
    bool shut = false;
    while (run.next(&line)) {
        if (has(line, "{\"step\":\"status\"") && ++statuses == 1) shut = hid.cmd("state d 2");
    }
    EXPECT_TRUE(shut) << hid.last() << "\n" << run.output_text();
    EXPECT_EQ(run.finish(), 0) << run.output_text();
    for (const char* step : {"open", "claim", "enable", "fire", "close"})
        EXPECT_TRUE(has(step_line(run, step), "\"rc\":0")) << step << ": " << run.output_text();
    std::vector<std::string> status_lines, events;
    for (const auto& l : run.lines()) {
        if (has(l, "{\"step\":\"status\"")) status_lines.push_back(l);
        if (has(l, "{\"event\":\"StatusUpdate\"")) events.push_back(l);
    }
    ASSERT_EQ(status_lines.size(), 2u) << run.output_text();
    EXPECT_TRUE(has(status_lines[0], "\"DrawerOpened\":1")) << run.output_text();
    EXPECT_TRUE(has(status_lines[1], "\"DrawerOpened\":0")) << run.output_text();
    ASSERT_EQ(events.size(), 2u) << run.output_text();
    EXPECT_TRUE(has(events[0], "\"status\":1")) << run.output_text();
    EXPECT_TRUE(has(events[1], "\"status\":0")) << run.output_text();
    EXPECT_TRUE(hid.received("d", {kIdleReport, kOpeningReport}));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ComEnvironment);
    return RUN_ALL_TESTS();
}
