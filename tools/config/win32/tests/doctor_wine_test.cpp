// `zrncd doctor` under Wine in a prefix of its own: the Service Object
// registered with regsvr32, TargetPath at the built drivers, a healthy
// configuration; then the prefix broken on purpose, one fault at a time.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client_run.h"
#include "opos_client.h"
#include "zrn/cfg/snapshot.h"
#include "zrn/device_config.h"
#include "zrn/device_types.h"
#include "zrn/json.h"
#include "zrn/win32/win32_platform.h"

using namespace zrn;

namespace {

const std::string kClient = client::windows_path(ZRN_CLIENT_EXE);
const std::string kDist = client::windows_path(ZRN_DIST);
const std::string kLonely = "C:\\doctor-port-driver-only";
const char* const kClsid = "{AC43260D-DC30-4858-B7DC-0B4BE815D34B}";

struct Output {
    int code = -1;
    std::string out;
};

Output doctor(const std::string& args = "") {
    e2e::ClientRun run(kClient, "doctor " + args);
    Output r;
    r.code = run.finish();
    r.out = run.output_text();
    return r;
}

bool has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// The table line of a failed check of that view holding the text.
bool reports(const Output& r, const std::string& view, const std::string& check, const std::string& text) {
    std::size_t pos = 0;
    while (pos < r.out.size()) {
        const std::size_t nl = r.out.find('\n', pos);
        const std::string line = r.out.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos);
        if (line.rfind(view, 0) == 0 && has(line, " " + check + " ") && has(line, " fail ") && has(line, text))
            return true;
        if (nl == std::string::npos) break;
        pos = nl + 1;
    }
    return false;
}

void delete_tree(platform::Registry& reg, const std::string& path) {
    cfg::delete_tree(reg, platform::kHklm, path);
}

config::DeviceEntry entry(const std::string& key, std::int32_t port) {
    config::DeviceEntry e = config::default_entry(key, *device_type_of(key));
    e.Port = port;
    return e;
}

void healthy(platform::Registry& reg) {
    delete_tree(reg, std::string(kDeviceClassKey));
    ASSERT_TRUE(config::write_service_settings(reg, {kDist, 0}));
    for (const auto& e : {entry("CD926", 1), entry("CD347", 2), entry("CD347-2", 2), entry("CD615", 1),
                          entry("CD730", 0)})
        ASSERT_TRUE(config::write_device_entry(reg, e));
    ASSERT_TRUE(config::write_logical_name(reg, "FrontDrawer", "CD926"));
}

class DoctorWine : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The prefix outlives a run: nothing of ours stays in the 32-bit
        // view, whatever an earlier run or a person left there.
        win32::Win32Registry r32{win32::RegistryView::Bits32};
        delete_tree(r32, "SOFTWARE\\Classes\\ZRNOPOSCD.SO");
        delete_tree(r32, "SOFTWARE\\Classes\\CLSID\\" + std::string(kClsid));
        // The build's own regsvr32 registers into the 64-bit view.
        e2e::ClientRun reg("C:\\windows\\system32\\regsvr32.exe", "/s \"" + kDist + "\\ZRNOPOSCD.dll\"");
        ASSERT_EQ(reg.finish(), 0) << reg.output_text();
    }
    void SetUp() override {
        delete_tree(r32_, "SOFTWARE\\OLEforRetail");
        healthy(r64_);
    }
    win32::Win32Registry r32_{win32::RegistryView::Bits32};
    win32::Win32Registry r64_{win32::RegistryView::Bits64};
};

TEST_F(DoctorWine, AHealthyPrefixPassesAndEachFaultIsReported) {
    Output r = doctor();
    ASSERT_EQ(r.code, 0) << r.out;
    EXPECT_TRUE(has(r.out, "healthy")) << r.out;
    EXPECT_TRUE(has(r.out, "32   installed")) << "the 32-bit view holds nothing: skipped\n" << r.out;
    for (const char* check : {"service-object", "type-library", "target-path", "driver", "entry", "logical-name",
                              "ports"})
        EXPECT_TRUE(has(r.out, std::string("64   ") + check)) << check << "\n" << r.out;
    EXPECT_TRUE(has(r.out, "USB730SO.DLL: amd64, all 6 exports, loads")) << r.out;
    EXPECT_TRUE(has(r.out, "CD347 and CD347-2 share COM2 as units 1 and 2 of one line")) << r.out;

    // Driver missing: TargetPath at a folder holding only the port driver.
    CreateDirectoryA(kLonely.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA((kDist + "\\PortDrawerSO.DLL").c_str(), (kLonely + "\\PortDrawerSO.DLL").c_str(), FALSE));
    ASSERT_TRUE(config::write_service_settings(r64_, {kLonely, 0}));
    r = doctor();
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_TRUE(reports(r, "64", "driver", "USB730SO.DLL is missing from " + kLonely)) << r.out;
    EXPECT_TRUE(has(r.out, "copy USB730SO.DLL into " + kLonely)) << r.out;
    ASSERT_TRUE(config::write_service_settings(r64_, {kDist, 0}));

    // Entry incomplete.
    {
        platform::ScopedKey key(r64_);
        ASSERT_EQ(r64_.open_key(platform::kHklm, std::string(kDeviceClassKey) + "\\CD926", true, key.out()),
                  platform::kRegOk);
        ASSERT_EQ(r64_.delete_value(key.get(), "BaudRate"), platform::kRegOk);
    }
    r = doctor();
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_TRUE(reports(r, "64", "entry", "CD926 is incomplete: it lacks BaudRate")) << r.out;
    EXPECT_TRUE(has(r.out, "zrncd config --view 64 change CD926 BaudRate=5")) << r.out;
    healthy(r64_);

    // Dangling logical name.
    ASSERT_TRUE(config::write_logical_name(r64_, "Ghost", "CD926-4"));
    r = doctor();
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_TRUE(reports(r, "64", "logical-name", "Ghost points at CD926-4, which has no entry")) << r.out;
    healthy(r64_);

    // Views out of step: the 32-bit view has a drawer of its own and the
    // Service Object's program identifier, so it counts as installed.
    {
        platform::ScopedKey key(r32_);
        ASSERT_EQ(r32_.create_key(platform::kHklm, "SOFTWARE\\Classes\\ZRNOPOSCD.SO\\CLSID", "", key.out(), nullptr),
                  platform::kRegOk);
        ASSERT_EQ(platform::set_sz(r32_, key.get(), "", kClsid), platform::kRegOk);
    }
    ASSERT_TRUE(config::write_device_entry(r32_, entry("CD615", 2)));
    r = doctor();
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_TRUE(reports(r, "-", "views", "CD926 is only in the 64-bit view")) << r.out;
    EXPECT_TRUE(has(r.out, "zrncd config --view 64 sync")) << r.out;
    // Only the 64-bit view: nothing to compare, and it is healthy.
    r = doctor("--view 64");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_FALSE(has(r.out, "views")) << r.out;
}

TEST_F(DoctorWine, JsonLinesParseAndBadArgumentsExitWithTwo) {
    Output r = doctor("--json");
    EXPECT_EQ(r.code, 0) << r.out;
    std::size_t lines = 0, pos = 0;
    while (pos < r.out.size()) {
        std::size_t nl = r.out.find('\n', pos);
        if (nl == std::string::npos) nl = r.out.size();
        json::Value v;
        std::string error;
        ASSERT_TRUE(json::parse(r.out.substr(pos, nl - pos), &v, &error)) << error << "\n" << r.out;
        ASSERT_TRUE(v.is_object()) << r.out;
        for (const char* m : {"view", "check", "status", "text", "advice"})
            EXPECT_TRUE(v.find(m) && v.find(m)->is_string()) << m << "\n" << r.out;
        ++lines;
        pos = nl + 1;
    }
    EXPECT_GE(lines, 10u) << r.out;

    r = doctor("--view 16");
    EXPECT_EQ(r.code, 2) << r.out;
    EXPECT_TRUE(has(r.out, "--view takes 32 or 64")) << r.out;
    EXPECT_TRUE(has(r.out, "usage: zrncd doctor")) << r.out;
}

}  // namespace
