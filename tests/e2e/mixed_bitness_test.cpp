// A 32-bit and a 64-bit point-of-sale application on one 64-bit machine:
// this program (32-bit, in WoW64) and the 64-bit zrncd, each with the
// Service Object and simulated drivers of its own build, registered in its
// own registry view. They must share one claim table and one trace file, and
// each must read only its own view.
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "client_run.h"
#include "so_env.h"

using namespace zrn;
using namespace zrn::e2e;

namespace {

const std::string kOwnClient = client::windows_path(ZRN_CLIENT_EXE);
const std::string kOtherClient = client::windows_path(ZRN_OTHER_DIST "/tools/zrncd.exe");
const std::string kOtherSim = client::windows_path(ZRN_OTHER_DIST "/sim");

win32::Win32Registry& other_view() {
    static win32::Win32Registry r(sizeof(void*) == 4 ? win32::RegistryView::Bits64 : win32::RegistryView::Bits32);
    return r;
}

std::int32_t rc_of(const std::string& line) {
    static const std::regex rc("\"rc\":(-?[0-9]+)");
    std::smatch m;
    return std::regex_search(line, m, rc) ? std::stoi(m[1]) : -9999;
}

class MixedBitness : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sizeof(void*), 4u) << "this test is the 32-bit side";
        ASSERT_NE(GetFileAttributesA(kOtherClient.c_str()), INVALID_FILE_ATTRIBUTES)
            << kOtherClient << " is missing: build the win64 preset first";
        settings(1);
        write_devices();
        so::testing::write_settings(other_view(), kOtherSim, 1);
        so::testing::write_device(other_view(), "CD926", kDeviceIdSerialII, 1);
        so::testing::write_device(other_view(), "CD615", kDeviceIdParallel, 1);
        reset_hardware();
    }
};

TEST_F(MixedBitness, AClaimHeldByOneBuildRefusesTheOther) {
    // 32-bit holds, 64-bit is refused; after the release the 64-bit claims.
    {
        client::EventReceiver co;
        client::ServiceClient holder;
        ASSERT_EQ(open_device(holder, &co, "CD926"), 0);
        ASSERT_EQ(holder.claim(0), 0);
        ClientRun refused(kOtherClient, "--json --keep-going open CD926 claim enable close");
        EXPECT_EQ(refused.finish(), 1) << refused.output_text();
        EXPECT_EQ(rc_of(step_line(refused, "open")), 0) << refused.output_text();
        EXPECT_EQ(rc_of(step_line(refused, "claim")), OPOS_E_CLAIMED) << refused.output_text();
        EXPECT_EQ(rc_of(step_line(refused, "enable")), OPOS_E_CLAIMED) << refused.output_text();
        EXPECT_EQ(holder.release(), 0);
        ClientRun after(kOtherClient, "--json open CD926 claim release close");
        EXPECT_EQ(after.finish(), 0) << after.output_text();
        EXPECT_EQ(holder.close(), 0);
    }
    // 64-bit holds (until its sleep ends), 32-bit is refused while it does.
    // This side is opened first, so only its claim and enable fall inside
    // the holder's sleep.
    {
        client::EventReceiver co;
        client::ServiceClient refused;
        ASSERT_EQ(open_device(refused, &co, "CD926"), 0);
        ClientRun holder(kOtherClient, "--json open CD926 claim sleep 8000 release close");
        std::string line;
        bool claimed = false;
        while (!claimed && holder.next(&line)) claimed = has(line, "{\"step\":\"claim\"");
        ASSERT_TRUE(claimed) << holder.output_text();
        ASSERT_EQ(rc_of(line), 0) << holder.output_text();
        EXPECT_EQ(refused.claim(0), OPOS_E_CLAIMED);
        refused.set_number(PIDX_DeviceEnabled, 1);
        EXPECT_EQ(refused.result_code(), OPOS_E_CLAIMED);
        EXPECT_EQ(holder.finish(), 0) << holder.output_text();
        EXPECT_EQ(refused.claim(1000), 0) << "free again once the 64-bit client released it";
        EXPECT_EQ(refused.close(), 0);
    }
}

TEST_F(MixedBitness, EachBuildReadsItsOwnRegistryView) {
    so::testing::write_logical(registry(), "ViewProbe", "CD926");
    so::testing::write_logical(other_view(), "ViewProbe", "CD615");
    ClientRun own(kOwnClient, "--json open ViewProbe close");
    ClientRun other(kOtherClient, "--json open ViewProbe close");
    EXPECT_EQ(own.finish(), 0) << own.output_text();
    EXPECT_EQ(other.finish(), 0) << other.output_text();
    EXPECT_TRUE(has(step_line(own, "open"), "\"device\":\"CD926\"")) << own.output_text();
    EXPECT_EQ(rc_of(step_line(own, "open")), 0) << own.output_text();
    EXPECT_TRUE(has(step_line(other, "open"), "\"device\":\"CD615\"")) << other.output_text();
    // Each Service Object loaded the drivers its own view's TargetPath names;
    // a driver of the other bitness would not have loaded (104).
    EXPECT_EQ(rc_of(step_line(other, "open")), 0) << other.output_text();
}

// Both builds trace into the same day's file at the same time: every line
// whole, and none lost.
TEST_F(MixedBitness, BothBuildsShareOneTraceFileLineByLine) {
    const std::size_t before = trace_text().size();
    constexpr int kCycles = 6;
    std::string steps = "--json";
    for (int i = 0; i < kCycles; ++i) steps += " open CD926 claim release close";
    ClientRun other(kOtherClient, steps);
    std::thread own([] {
        for (int i = 0; i < kCycles; ++i) {
            client::EventReceiver co;
            client::ServiceClient c;
            if (open_device(c, &co, "CD615") != 0) return;
            c.claim(0);
            c.release();
            c.close();
        }
    });
    EXPECT_EQ(other.finish(), 0) << other.output_text();
    own.join();

    const std::string text = trace_text();
    ASSERT_GT(text.size(), before);
    std::istringstream in(text.substr(before));
    static const std::regex stamped(R"(\[\d\d/\d\d-\d\d:\d\d:\d\d\] [^\[]*)");
    int open64 = 0, open32 = 0, lines = 0;
    for (std::string line; std::getline(in, line);) {
        ASSERT_FALSE(line.empty() || line.back() != '\r') << "every line ends in CR LF: " << line;
        line.pop_back();
        ++lines;
        if (line.empty() || line == "- - - - - -" || line == std::string(49, '_') ||
            line == std::string(kTraceBanner))
            continue;
        EXPECT_TRUE(std::regex_match(line, stamped)) << "a whole line, nothing interleaved: " << line;
        open64 += line.find("> OpenService=CD926") != std::string::npos;
        open32 += line.find("> OpenService=CD615") != std::string::npos;
    }
    EXPECT_EQ(open64, kCycles) << "64-bit lines lost";
    EXPECT_EQ(open32, kCycles) << "32-bit lines lost";
    EXPECT_GT(lines, 8 * kCycles);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new ComEnvironment);
    return RUN_ALL_TESTS();
}
