// zrncd config under Wine, against the real registry in both views: what a
// rollout script does on a till. The test puts both views back as they were.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "client_run.h"
#include "opos_client.h"
#include "zrn/cfg/backup.h"
#include "zrn/cfg/commands.h"
#include "zrn/cfg/document.h"
#include "zrn/cfg/snapshot.h"
#include "zrn/device_config.h"
#include "zrn/device_types.h"
#include "zrn/json.h"
#include "zrn/win32/config_lock.h"
#include "zrn/win32/last_error.h"
#include "zrn/win32/win32_platform.h"

using namespace zrn;

namespace {

const std::string kClient = client::windows_path(ZRN_CLIENT_EXE);
const std::string kStopping = client::windows_path(ZRN_STOPPING_EXE);

struct Outcome {
    int code;
    std::string output;
};

Outcome zrncd(const std::string& args) {
    e2e::ClientRun run(kClient, "config " + args);
    const int code = run.finish();
    return {code, run.output_text()};
}

std::string temp_file(const char* name) {
    char dir[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + name;
}

std::string file_text(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class ConfigE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(saved64.capture(view64, kDeviceClassKey));
        ASSERT_TRUE(saved64.capture(view64, kServiceSettingsKey));
        ASSERT_TRUE(saved32.capture(view32, kDeviceClassKey));
        ASSERT_TRUE(saved32.capture(view32, kServiceSettingsKey));
        for (platform::Registry* r : {&view64, &view32}) {
            ASSERT_TRUE(cfg::delete_tree(*r, platform::kHklm, kDeviceClassKey));
            platform::ScopedKey k(*r);
            ASSERT_EQ(r->create_key(platform::kHklm, kDeviceClassKey, "", k.out(), nullptr), platform::kRegOk);
        }
    }
    void TearDown() override {
        EXPECT_TRUE(saved64.restore(view64));
        EXPECT_TRUE(saved32.restore(view32));
    }

    std::string value(platform::Registry& r, const std::string& key, const std::string& name) {
        platform::ScopedKey k(r);
        const std::string path = std::string(kDeviceClassKey) + (key.empty() ? "" : "\\" + key);
        if (r.open_key(platform::kHklm, path, false, k.out()) != platform::kRegOk) return "(no key)";
        std::string text = "(none)";
        config::read_text(r, k.get(), name, &text);
        return text;
    }

    win32::Win32Registry view64{win32::RegistryView::Bits64};
    win32::Win32Registry view32{win32::RegistryView::Bits32};
    cfg::Snapshot saved64, saved32;
};

TEST_F(ConfigE2E, AddChangeAndRemoveWriteTheRealRegistry) {
    Outcome r = zrncd("--view 64 add CD926 Port=COM2 --name FrontDrawer");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(value(view64, "CD926", "Port"), "2");
    EXPECT_EQ(value(view64, "CD926", "DeviceName"), "CD926");
    EXPECT_EQ(value(view64, "", "FrontDrawer"), "CD926");
    EXPECT_EQ(value(view32, "CD926", "Port"), "(no key)") << "the other view is left alone";

    r = zrncd("--view 64 add CD926 Port=COM3 BaudRate=19200");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("added CD926-2:"), std::string::npos) << r.output;
    EXPECT_EQ(value(view64, "CD926-2", "BaudRate"), "6");

    r = zrncd("--view 64 add CD347 Port=2");
    EXPECT_EQ(r.code, 2) << r.output;
    EXPECT_NE(r.output.find("already assigned to port 'COM2'"), std::string::npos) << r.output;
    EXPECT_EQ(value(view64, "CD347", "Port"), "(no key)");

    r = zrncd("--view 64 change CD926-2 Port=COM4 Parity=Odd");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(value(view64, "CD926-2", "Port"), "4");
    EXPECT_EQ(value(view64, "CD926-2", "Parity"), "1");

    r = zrncd("--view 64 change CD926-2 FirstOC=300");
    EXPECT_EQ(r.code, 2) << r.output;
    EXPECT_EQ(value(view64, "CD926-2", "FirstOC"), "7");

    r = zrncd("--view 64 remove CD926");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_EQ(value(view64, "CD926", "Port"), "(no key)");
    EXPECT_EQ(value(view64, "", "FrontDrawer"), "(none)");
    EXPECT_EQ(value(view64, "CD926-2", "Port"), "4");
}

TEST_F(ConfigE2E, ExportThenImportOnAClearedRegistryGivesItBackAndABadFileChangesNothing) {
    ASSERT_EQ(zrncd("--view 64 add CD347 Port=3 --name Front --name Till7").code, 0);
    ASSERT_EQ(zrncd("--view 64 add CD615 Port=LPT2 FirstOC=27").code, 0);
    const std::string file = temp_file("zrn-config-e2e.json");
    Outcome r = zrncd("--view 64 export \"" + file + "\"");
    ASSERT_EQ(r.code, 0) << r.output;
    const std::string exported = file_text(file);
    EXPECT_NE(exported.find("\"schema\": \"zrn-opos-cashdrawer-configuration\""), std::string::npos) << exported;
    const cfg::Configuration before = cfg::read_configuration(view64);

    ASSERT_TRUE(cfg::delete_tree(view64, platform::kHklm, kDeviceClassKey));
    r = zrncd("--view 64 import \"" + file + "\"");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_TRUE(cfg::differences(before, "before", cfg::read_configuration(view64), "after").empty());
    EXPECT_EQ(value(view64, "", "Till7"), "CD347");
    r = zrncd("--view 64 export \"" + file + "\"");
    EXPECT_EQ(file_text(file), exported);

    const std::string bad = temp_file("zrn-config-e2e-bad.json");
    {
        std::ofstream f(bad, std::ios::binary);
        f << R"({"schema":"zrn-opos-cashdrawer-configuration","version":1,"devices":[{"key":"CD926","Port":"COM9"}]})";
    }
    r = zrncd("--view 64 import \"" + bad + "\"");
    EXPECT_EQ(r.code, 2) << r.output;
    EXPECT_NE(r.output.find("devices[0].Port: 'COM9' is not allowed"), std::string::npos) << r.output;
    EXPECT_TRUE(cfg::differences(before, "before", cfg::read_configuration(view64), "after").empty());

    // A file that is not there, and a folder that is not there: the system says why.
    r = zrncd("--view 64 import \"" + bad + ".missing\"");
    EXPECT_EQ(r.code, 2) << r.output;
    EXPECT_NE(r.output.find("cannot be opened: " + win32::error_text(ERROR_FILE_NOT_FOUND) + "; nothing written"),
              std::string::npos)
        << r.output;
    r = zrncd("--view 64 export \"" + bad + ".missing\\x.json\"");
    EXPECT_NE(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("cannot be written: " + win32::error_text(ERROR_PATH_NOT_FOUND)), std::string::npos)
        << r.output;
    EXPECT_TRUE(cfg::differences(before, "before", cfg::read_configuration(view64), "after").empty());
    DeleteFileA(file.c_str());
    DeleteFileA(bad.c_str());
}

TEST_F(ConfigE2E, SyncCopiesOneViewToTheOtherAndKeepsItsDriverFolder) {
    ASSERT_TRUE(config::write_service_settings(view32, {"C:\\x86 drivers", 0}));
    ASSERT_EQ(zrncd("--view 64 add CD347 Port=2 --name Front").code, 0);
    ASSERT_EQ(zrncd("--view 32 add CD615").code, 0);
    Outcome r = zrncd("--view 64 sync");
    ASSERT_EQ(r.code, 0) << r.output;
    EXPECT_NE(r.output.find("copied from the 64-bit view to the 32-bit view: 1 devices, 1 logical names"),
              std::string::npos)
        << r.output;
    EXPECT_TRUE(cfg::differences(cfg::read_configuration(view64), "64", cfg::read_configuration(view32), "32").empty());
    EXPECT_EQ(value(view32, "CD615", "Port"), "(no key)");
    EXPECT_EQ(value(view32, "", "Front"), "CD347");
    config::ServiceSettings s;
    config::read_service_settings(view32, &s);
    EXPECT_EQ(s.TargetPath, "C:\\x86 drivers");
    r = zrncd("--view 32 list");
    EXPECT_NE(r.output.find("CD347  Model 347A Smart SerialLINE(r) Interface"), std::string::npos) << r.output;

    // Options may stand before the tool's word, as for the drawer steps.
    e2e::ClientRun listed(kClient, "--json --view 32 config list");
    EXPECT_EQ(listed.finish(), 0) << listed.output_text();
    json::Value doc;
    std::string error;
    ASSERT_TRUE(json::parse(listed.output_text(), &doc, &error)) << error << "\n" << listed.output_text();
    cfg::Configuration listed_conf;
    std::vector<std::string> errors;
    ASSERT_TRUE(cfg::from_json(doc, &listed_conf, &errors)) << listed.output_text();
    EXPECT_TRUE(cfg::differences(listed_conf, "listed", cfg::read_configuration(view32), "32").empty());
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// An import the system ends after its first, second ... write: the next
// zrncd config, or zrncd doctor, puts the view back from the backup.
TEST_F(ConfigE2E, AnImportKilledPartWayIsPutBackByTheNextCommand) {
    ASSERT_EQ(zrncd("--view 64 add CD347 Port=2 --name Front --name Till7").code, 0);
    ASSERT_EQ(zrncd("--view 64 add CD615 Port=LPT2").code, 0);
    const cfg::Configuration before = cfg::read_configuration(view64);
    const std::string file = temp_file("zrn-config-stopped.json");
    {
        std::ofstream f(file, std::ios::binary);
        f << R"({"schema":"zrn-opos-cashdrawer-configuration","version":1,"devices":[{"key":"CD926-2","Port":"COM3"},
               {"key":"CD347","Port":4}],"logicalNames":[{"name":"Back","device":"CD926-2"}]})";
    }
    const std::string marker = cfg::marker_path("64");
    for (const int writes : {1, 2, 3, 8, 20}) {
        e2e::ClientRun stopped(kStopping, std::to_string(writes) + " --view 64 import \"" + file + "\"");
        ASSERT_EQ(stopped.finish(), 99) << writes << "\n" << stopped.output_text();
        ASSERT_TRUE(exists(marker)) << writes;
        ASSERT_FALSE(cfg::differences(before, "before", cfg::read_configuration(view64), "now").empty()) << writes;
        const Outcome r = zrncd("--view 64 list");
        EXPECT_EQ(r.code, 0) << r.output;
        EXPECT_NE(r.output.find("was stopped part-way; the configuration it had before was put back"),
                  std::string::npos)
            << writes << "\n" << r.output;
        EXPECT_TRUE(cfg::differences(before, "before", cfg::read_configuration(view64), "after").empty()) << writes;
        EXPECT_FALSE(exists(marker)) << writes;
    }

    // zrncd doctor: with --no-restore it names the command; without, it puts
    // the view back itself.
    e2e::ClientRun stopped(kStopping, "5 --view 64 import \"" + file + "\"");
    ASSERT_EQ(stopped.finish(), 99);
    e2e::ClientRun told(kClient, "doctor --view 64 --no-restore");
    told.finish();
    EXPECT_NE(told.output_text().find("'zrncd config --view 64 restore'"), std::string::npos) << told.output_text();
    EXPECT_TRUE(exists(marker));
    e2e::ClientRun doctor(kClient, "doctor --view 64");
    doctor.finish();
    EXPECT_NE(doctor.output_text().find("interrupted-change"), std::string::npos) << doctor.output_text();
    EXPECT_TRUE(cfg::differences(before, "before", cfg::read_configuration(view64), "after").empty());
    EXPECT_FALSE(exists(marker));
    DeleteFileA(file.c_str());
}

// QVTUtility holds the configuration lock (here: this test): zrncd waits for
// it, and when it is not let go in time names who holds it.
TEST_F(ConfigE2E, ZrncdWaitsForTheConfigurationLockAndNamesItsHolder) {
    win32::Win32ConfigLock utility;
    std::string holder;
    ASSERT_EQ(utility.acquire(0, "QVTUtility", &holder), platform::ConfigLock::Status::Acquired) << holder;
    const Outcome r = zrncd("--view 64 add CD926");
    EXPECT_EQ(r.code, 1) << r.output;
    EXPECT_NE(r.output.find("is being changed by QVTUtility (process " + std::to_string(GetCurrentProcessId())),
              std::string::npos)
        << r.output;
    EXPECT_EQ(value(view64, "CD926", "Port"), "(no key)");
    utility.release();
    EXPECT_EQ(zrncd("--view 64 add CD926").code, 0);
}

}  // namespace
