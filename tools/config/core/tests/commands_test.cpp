#include "zrn/cfg/commands.h"

#include <gtest/gtest.h>

#include "config_fixture.h"

#include <functional>
#include <utility>
#include <tuple>

#include "zrn/cfg/document.h"
#include "zrn/cfg/install.h"
#include "zrn/cfg/snapshot.h"
#include "zrn/device_config.h"
#include "zrn/device_types.h"
#include "zrn/cfg/backup.h"
#include "zrn/fakes/fake_config_lock.h"
#include "zrn/json.h"
#include "zrn/fakes/fake_files.h"
#include "zrn/fakes/faulty_registry.h"
#include "zrn/fakes/forwarding_files.h"
#include "zrn/platform/noting_registry.h"
#include "zrn/text.h"
#include "zrn/config/usb_config.h"

namespace zrn::cfg {
namespace {

using platform::kHklm;
using platform::kRegOk;
using platform::ScopedKey;
using testing::ConfigTest;
using testing::everything;

TEST_F(ConfigTest, CommandLinesAreReadOrRefusedWithAReason) {
    Command c;
    EXPECT_EQ(parse_config({"--view", "32", "add", "CD926", "Port=COM2", "--name", "Front", "--force"}, &c), "");
    EXPECT_EQ(c.verb, Verb::Add);
    EXPECT_EQ(c.view, 32);
    EXPECT_TRUE(c.force);
    EXPECT_EQ(c.target, "CD926");
    EXPECT_EQ(c.settings, (std::vector<std::pair<std::string, std::string>>{{"Port", "COM2"}}));
    EXPECT_EQ(c.names, std::vector<std::string>{"Front"});
    EXPECT_EQ(parse_config({"names", "remove", "CD926", "A", "B=C"}, &c), "");
    EXPECT_EQ(c.verb, Verb::NamesRemove);
    EXPECT_EQ(c.names, (std::vector<std::string>{"A", "B=C"}));
    EXPECT_EQ(parse_config({"export"}, &c), "");
    EXPECT_EQ(c.file, "-");
    EXPECT_EQ(parse_config({"import", "-"}, &c), "");
    EXPECT_EQ(c.file, "-");

    const std::pair<std::vector<std::string>, std::string> bad[] = {
        {{}, "no verb given"},
        {{"frob"}, "unknown verb 'frob'"},
        {{"--view", "16", "list"}, "'--view' takes 32 or 64, not '16'"},
        {{"list", "--view"}, "'--view' needs a value"},
        {{"--colour", "list"}, "unknown option '--colour'"},
        {{"add"}, "'add' needs a type"},
        {{"change", "CD926"}, "'change' needs at least one NAME=VALUE"},
        {{"change", "CD926", "Port"}, "'Port' is no setting; write NAME=VALUE"},
        {{"change", "CD926", "=3"}, "'=3' is no setting; write NAME=VALUE"},
        {{"remove", "CD926", "CD347"}, "'remove' takes one device key"},
        {{"names", "add", "CD926"}, "write 'names add KEY LDN...' or 'names remove KEY LDN...'"},
        {{"list", "x"}, "'list' takes no further words"},
        {{"import"}, "'import' needs a file (\"-\": standard input)"},
        {{"remove", "CD926", "--name", "x"}, "'--name' belongs to 'add'"},
    };
    for (const auto& [args, message] : bad) EXPECT_EQ(parse_config(args, &c), message);
}

TEST_F(ConfigTest, AddFollowsTheStoresIndexRulesAndWritesDefaultsWithTheSettingsGiven) {
    Outcome o = run({"add", "cd926", "Port=COM3", "BaudRate=19200", "Parity=odd", "--name", "Front"});
    EXPECT_EQ(o.exit_code, kExitDone) << o.err;
    EXPECT_EQ(o.out,
              "added CD926: Port=COM3 BaudRate=19200 DataBitLen=8 StopBits=1 Parity=Odd HandShaking=None Status=CTS "
              "FirstOC=7; logical names Front\n");
    EXPECT_EQ(value("CD926", "Port"), "3");
    EXPECT_EQ(value("CD926", "BaudRate"), "6");
    EXPECT_EQ(value("CD926", "BaudRateSel"), "1,2,3,4,5,6");
    EXPECT_EQ(value("CD926", "DeviceName"), "CD926");
    EXPECT_EQ(value("", "Front"), "CD926");

    EXPECT_EQ(run({"add", "CD926", "Port=4"}).out.substr(0, 14), "added CD926-2:");
    EXPECT_EQ(run({"add", "CD926", "Port=2"}).out.substr(0, 14), "added CD926-3:");
    ASSERT_EQ(run({"remove", "CD926"}).exit_code, kExitDone);
    // A removed index is not reused while a higher one exists.
    EXPECT_EQ(run({"add", "CD926", "Port=1"}).out.substr(0, 14), "added CD926-4:");

    for (int i = 5; i <= 9; ++i) ASSERT_EQ(run({"add", "CD926", "--force"}).exit_code, kExitDone);
    const std::string before = everything(reg);
    o = run({"add", "CD926", "--force"});
    EXPECT_EQ(o.exit_code, kExitRefused);
    EXPECT_EQ(o.err, "zrncd: the device index limit is reached: CD926-9 exists; remove it before another CD926 can "
                     "be added\n");
    EXPECT_EQ(everything(reg), before);

    o = run({"add", "CD730"});
    EXPECT_EQ(o.exit_code, kExitRefused);
    EXPECT_NE(o.err.find("single instance"), std::string::npos);
    EXPECT_EQ(everything(reg), before);
}

TEST_F(ConfigTest, BadSettingsAndTakenNamesAreAllNamedAndNothingIsWritten) {
    ASSERT_EQ(run({"add", "CD347", "Port=2", "--name", "Front"}).exit_code, kExitDone);
    const std::string before = everything(reg);
    const Outcome o = run({"add", "CD615", "Port=COM1", "BaudRate=9600", "FirstOC=256", "SecondOC=x", "DrawerNo=3",
                           "Status=1", "--name", "front", "--name", " ", "--name", "Back", "--name", "BACK"});
    EXPECT_EQ(o.exit_code, kExitRefused);
    EXPECT_EQ(o.err,
              "zrncd: Port: 'COM1' is not allowed; use LPT1, LPT2 (or the codes 1 2)\n"
              "zrncd: CD615 has no setting 'BaudRate'; it has Port, FirstOC, SecondOC, DrawerNo\n"
              "zrncd: FirstOC: '256' is no opening code; give a decimal character code from 0 to 255\n"
              "zrncd: SecondOC: 'x' is no opening code; give a decimal character code from 0 to 255 (or nothing)\n"
              "zrncd: DrawerNo: '3' is not allowed; use one of the codes 1 2\n"
              "zrncd: CD615 has no setting 'Status'; it has Port, FirstOC, SecondOC, DrawerNo\n"
              "zrncd: the logical name 'front' already exists; use a different name\n"
              "zrncd: ' ' is no logical name: 1 to 127 characters\n"
              "zrncd: the logical name 'BACK' is given twice\n");
    EXPECT_EQ(everything(reg), before);
    EXPECT_EQ(run({"add", "CD999"}).err, "zrncd: 'CD999' is no device type; use CD926, CD347 or CD615\n");
    EXPECT_EQ(run({"add", "CD926-2"}).exit_code, kExitRefused);
    EXPECT_EQ(everything(reg), before);
}

TEST_F(ConfigTest, APortInUseNeedsForceAsTheSettingsPagesAsk) {
    ASSERT_EQ(run({"add", "CD926", "Port=COM2"}).exit_code, kExitDone);
    ASSERT_EQ(run({"add", "CD615", "Port=LPT2"}).exit_code, kExitDone);
    const std::string before = everything(reg);
    Outcome o = run({"add", "CD347", "Port=2"});
    EXPECT_EQ(o.exit_code, kExitRefused);
    EXPECT_EQ(o.err,
              "zrncd: warning: the cash drawer device 'CD926' is already assigned to port 'COM2'\n"
              "zrncd: nothing written; if this is intended, give --force\n");
    EXPECT_EQ(everything(reg), before);
    // A parallel port is no conflict for a serial device, nor the device for itself.
    EXPECT_EQ(run({"add", "CD347", "Port=1"}).exit_code, kExitDone);
    EXPECT_EQ(run({"change", "CD926", "Port=COM2", "BaudRate=600"}).exit_code, kExitDone);
    EXPECT_EQ(run({"change", "CD347", "Port=COM2"}).exit_code, kExitRefused);
    o = run({"change", "CD347", "Port=COM2", "--force"});
    EXPECT_EQ(o.exit_code, kExitDone);
    EXPECT_EQ(o.out, "changed CD347: Port=COM2\n");
    EXPECT_NE(o.err.find("warning"), std::string::npos);
    EXPECT_EQ(value("CD347", "Port"), "2");
}

TEST_F(ConfigTest, ChangeWritesOnlyWhatIsGivenToAnExistingDevice) {
    ASSERT_EQ(run({"add", "CD347", "--name", "Front"}).exit_code, kExitDone);
    ASSERT_TRUE(config::write_device_entry(reg, config::default_entry("CD730", *device_type_of("CD730"))));
    {
        ScopedKey k(reg);
        ASSERT_EQ(reg.open_key(kHklm, std::string(kDeviceClassKey) + "\\CD347", true, k.out()), kRegOk);
        ASSERT_EQ(reg.delete_value(k.get(), "DrawerNo"), kRegOk);
    }
    Outcome o = run({"change", "cd347", "SecondOC=", "HandShaking=cts/rts", "Status=CTS+RI"});
    EXPECT_EQ(o.exit_code, kExitDone) << o.err;
    EXPECT_EQ(o.out, "changed CD347: SecondOC= HandShaking=CTS/RTS Status=CTS+RI\n");
    EXPECT_EQ((std::vector<std::string>{value("CD347", "SecondOC"), value("CD347", "HandShaking"), value("CD347", "Status"),
                       value("CD347", "DrawerNo")}),
              (std::vector<std::string>{"", "1", "2", "(none)"}));

    EXPECT_EQ(run({"change", "Front", "Port=2"}).err,
              "zrncd: 'Front' is a logical name of CD347; give the device key CD347\n");
    EXPECT_EQ(run({"change", "CD926", "Port=2"}).err,
              "zrncd: there is no device 'CD926' in the 64-bit view (see 'zrncd config list')\n");
    EXPECT_EQ(run({"change", "CD730", "Status=1"}).err, "zrncd: CD730 has no setting 'Status'; its settings are fixed\n");
}

TEST_F(ConfigTest, RemoveTakesTheDeviceEveryNameAndItsUsbSlot) {
    ASSERT_EQ(run({"add", "CD615", "--name", "A", "--name", "B"}).exit_code, kExitDone);
    ASSERT_TRUE(config::write_device_entry(reg, config::default_entry("CD730", *device_type_of("CD730"))));
    ASSERT_TRUE(config::write_logical_name(reg, "CashDrawer", "CD730"));
    ASSERT_TRUE(config::write_logical_name(reg, "Other", "CD347"));
    files.create_directory(std::string(config::kUsbConfigFolder));
    files.put(std::string(config::kUsbConfigPath),
              config::UsbConfig::compose({"USB0", "USB3"}, {"12", "34"}));

    Outcome o = run({"remove", "CD615"});
    EXPECT_EQ(o.exit_code, kExitDone);
    EXPECT_EQ(o.out, "removed CD615 and its logical names A, B\n");
    EXPECT_EQ(value("CD615", "Port"), "(no key)");
    EXPECT_EQ(value("", "A"), "(none)");
    EXPECT_EQ(value("", "B"), "(none)");
    EXPECT_EQ(value("", "Other"), "CD347");

    o = run({"remove", "CD730"});
    EXPECT_EQ(o.out, "removed CD730 and its logical names CashDrawer\n");
    EXPECT_EQ(files.content(std::string(config::kUsbConfigPath)), config::UsbConfig::compose({"USB3"}, {"34"}));
    EXPECT_EQ(run({"remove", "CD730"}).exit_code, kExitRefused);
}

// The USB configuration file is shared with other software: one this program
// cannot rewrite whole is never rewritten, and the caller is told before
// anything changes.
TEST_F(ConfigTest, RemovingTheUsbDeviceNeverWipesAUsbFileItDoesNotUnderstand) {
    const std::string usb_file(config::kUsbConfigPath);
    files.create_directory(std::string(config::kUsbConfigFolder));
    const std::string declared = "<?xml version=\"1.0\"?>" + config::UsbConfig::compose({"USB0", "USB3"}, {"12", "34"});
    files.put(usb_file, declared);
    ASSERT_TRUE(config::write_device_entry(reg, config::default_entry("CD730", *device_type_of("CD730"))));
    ASSERT_TRUE(config::write_logical_name(reg, "CashDrawer", "CD730"));
    const std::string before = everything(reg);

    Outcome o = run({"remove", "CD730"});
    EXPECT_EQ(o.exit_code, kExitRefused);
    EXPECT_EQ(o.err, "zrncd: the USB configuration file " + usb_file +
                         " cannot be rewritten without CD730's slot: it begins with an XML declaration, which this "
                         "program would not write back; nothing written (give --force to remove CD730 and leave the "
                         "file as it is)\n");
    EXPECT_EQ(everything(reg), before);
    EXPECT_EQ(files.content(usb_file), declared);

    // Another program holds it: nothing is changed either.
    files.put(usb_file, config::UsbConfig::compose({"USB0", "USB3"}, {"12", "34"}));
    files.hold(usb_file, true);
    o = run({"remove", "CD730"});
    EXPECT_EQ(o.exit_code, kExitFailed);
    EXPECT_EQ(o.err, "zrncd: the USB configuration file " + usb_file +
                         " cannot be rewritten: another program has it open (Windows error 32); nothing written\n");
    EXPECT_EQ(everything(reg), before);
    files.hold(usb_file, false);

    files.put(usb_file, declared);
    o = run({"remove", "CD730", "--force"});
    EXPECT_EQ(o.exit_code, kExitDone) << o.err;
    EXPECT_EQ(o.err, "zrncd: warning: the USB configuration file " + usb_file +
                         " was left as it is: it begins with an XML declaration, which this program would not write "
                         "back\n");
    EXPECT_EQ(value("CD730", "Port"), "(no key)");
    EXPECT_EQ(files.content(usb_file), declared);
}

TEST_F(ConfigTest, NamesAreAddedAndRemovedOnlyForTheirOwnDevice) {
    ASSERT_EQ(run({"add", "CD926"}).exit_code, kExitDone);
    ASSERT_EQ(run({"add", "CD347", "Port=2", "--name", "Theirs"}).exit_code, kExitDone);
    Outcome o = run({"names", "add", "CD926", "Till1", "Till1A"});
    EXPECT_EQ(o.out, "added to CD926: Till1, Till1A\n");
    EXPECT_EQ(run({"names", "add", "CD926", "theirs"}).exit_code, kExitRefused);
    const std::string before = everything(reg);
    o = run({"names", "remove", "CD926", "Till1", "Theirs"});
    EXPECT_EQ(o.exit_code, kExitRefused);
    EXPECT_EQ(o.err, "zrncd: 'Theirs' is no logical name of CD926 (it has Till1, Till1A)\n");
    EXPECT_EQ(everything(reg), before);
    EXPECT_EQ(run({"names", "remove", "CD926", "Till1"}).out, "removed from CD926: Till1\n");
    EXPECT_EQ(value("", "Till1"), "(none)");
    EXPECT_EQ(value("", "Till1A"), "CD926");

    // Names standing for a device that is gone can still be cleared away.
    ASSERT_TRUE(config::write_logical_name(reg, "Ghost", "CD615-3"));
    o = run({"names", "remove", "CD615-3", "Ghost"});
    EXPECT_EQ(o.exit_code, kExitDone) << o.err;
    EXPECT_EQ(value("", "Ghost"), "(none)");
    EXPECT_EQ(run({"names", "remove", "CD615-3", "Ghost"}).err,
              "zrncd: there is no device 'CD615-3' in the 64-bit view (see 'zrncd config list')\n");
}

TEST_F(ConfigTest, ExportThenImportOnACleanRegistryGivesTheSameConfiguration) {
    ASSERT_EQ(run({"add", "CD926", "Port=3", "FirstOC=27", "--name", "Front"}).exit_code, kExitDone);
    ASSERT_EQ(run({"add", "CD615", "DrawerNo=2"}).exit_code, kExitDone);
    ASSERT_TRUE(config::write_device_entry(reg, config::default_entry("CD730", *device_type_of("CD730"))));
    ASSERT_TRUE(config::write_logical_name(reg, "CashDrawer", "CD730"));
    ASSERT_TRUE(config::write_service_settings(reg, {"C:\\ZRN", 2}));
    {
        ScopedKey k(reg);
        ASSERT_EQ(reg.open_key(kHklm, kServiceSettingsKey, true, k.out()), kRegOk);
        ASSERT_EQ(config::write_number(reg, k.get(), "TraceKeepDays", 14), kRegOk);
    }
    const Outcome exported = run({"export"});
    ASSERT_EQ(exported.exit_code, kExitDone);
    EXPECT_NE(exported.out.find("\"TraceKeepDays\": 14"), std::string::npos) << exported.out;

    fakes::FakeRegistry clean;
    {
        ScopedKey k(clean);
        ASSERT_EQ(clean.create_key(kHklm, "SOFTWARE", "", k.out(), nullptr), kRegOk);
    }
    const Outcome o = run_on(clean, {"import", "reference.json"}, exported.out);
    EXPECT_EQ(o.exit_code, kExitDone) << o.err;
    EXPECT_EQ(o.out, "imported into the 64-bit view: 3 devices, 2 logical names\n");
    EXPECT_EQ(everything(clean), everything(reg));
    EXPECT_EQ(run_on(clean, {"export"}).out, exported.out);
}

TEST_F(ConfigTest, ImportReplacesTheConfigurationButKeepsTheTillsDriverFolder) {
    ASSERT_EQ(run({"add", "CD347", "--name", "Old"}).exit_code, kExitDone);
    ASSERT_TRUE(config::write_service_settings(reg, {"D:\\POS\\ZRN", 0}));
    const std::string doc = R"({"schema":"zrn-opos-cashdrawer-configuration","version":1,
        "service":{"TargetPath":"C:\\Program Files\\ZRN","TraceEnabled":1,"TraceKeepDays":30},
        "devices":[{"key":"CD926-3","Port":"COM4"}],"logicalNames":[{"name":"New","device":"CD926-3"}]})";
    const Outcome o = run({"import", "till.json"}, doc);
    EXPECT_EQ(o.exit_code, kExitDone) << o.err;
    EXPECT_EQ(o.err, "zrncd: TargetPath kept as D:\\POS\\ZRN\n");
    EXPECT_EQ(value("CD347", "Port"), "(no key)");
    EXPECT_EQ(value("", "Old"), "(none)");
    EXPECT_EQ(value("CD926-3", "Port"), "4");
    EXPECT_EQ(value("CD926-3", "DeviceName"), "CD926-3");
    EXPECT_EQ(value("", "New"), "CD926-3");
    config::ServiceSettings s;
    ASSERT_TRUE(config::read_service_settings(reg, &s));
    EXPECT_EQ(s.TargetPath, "D:\\POS\\ZRN");
    EXPECT_EQ(s.TraceEnabled, 1);
    EXPECT_EQ(config::read_trace_keep_days(reg), 30);
}

TEST_F(ConfigTest, ADocumentWithoutServiceSettingsLeavesTheTillsAlone) {
    ASSERT_TRUE(config::write_service_settings(reg, {"D:\\POS", 2}));
    const Outcome o = run({"import", "-"}, R"({"schema":"zrn-opos-cashdrawer-configuration","version":1,
        "devices":[{"key":"CD615"}]})");
    EXPECT_EQ(o.exit_code, kExitDone) << o.err;
    config::ServiceSettings s;
    ASSERT_TRUE(config::read_service_settings(reg, &s));
    EXPECT_EQ(s.TraceEnabled, 2);
    // With service settings, the set is replaced: what the document lacks goes.
    ASSERT_EQ(run({"import", "-"}, R"({"schema":"zrn-opos-cashdrawer-configuration","version":1,
        "service":{"ODVEnabled":0},"devices":[]})").exit_code, kExitDone);
    EXPECT_FALSE(config::read_service_settings(reg, &s)) << "TraceEnabled is gone";
    EXPECT_EQ(s.TargetPath, "D:\\POS");
}

TEST_F(ConfigTest, ABadFileIsRefusedWholeWithEveryFaultNamed) {
    ASSERT_EQ(run({"add", "CD347", "--name", "Old"}).exit_code, kExitDone);
    const std::string before = everything(reg);
    Outcome o = run({"import", "till.json"}, "{\n \"schema\": 1,\n}");
    EXPECT_EQ(o.exit_code, kExitRefused);
    EXPECT_EQ(o.err, "zrncd: till.json: line 3, column 1: a member name in quotes expected; nothing written\n");
    o = run({"import", "-"}, R"({"schema":"zrn-opos-cashdrawer-configuration","version":1,
        "devices":[{"key":"CD926","Port":9},{"key":"CD615","FirstOC":"x"}]})");
    EXPECT_EQ(o.exit_code, kExitRefused);
    EXPECT_EQ(o.err,
              "zrncd: standard input: devices[0].Port: '9' is not allowed; use COM1, COM2, COM3, COM4 (or the codes 1 "
              "2 3 4)\n"
              "zrncd: standard input: devices[1].FirstOC: 'x' is no opening code; give a decimal character code from "
              "0 to 255\n"
              "zrncd: 2 faults in standard input; nothing written\n");
    o = run({"import", "-"}, R"({"schema":"zrn-opos-cashdrawer-configuration","version":1,
        "devices":[{"key":"CD926","Port":1},{"key":"CD347","Port":1}]})");
    EXPECT_EQ(o.exit_code, kExitRefused);
    EXPECT_EQ(o.err, "zrncd: warning: CD926 and CD347 both use COM1\n"
                     "zrncd: nothing written; if this is intended, give --force\n");
    EXPECT_EQ(everything(reg), before);
}

TEST_F(ConfigTest, AWriteThatFailsAnywhereLeavesTheRegistryAsItWas) {
    ASSERT_EQ(run({"add", "CD347", "Port=2", "--name", "Old", "--name", "Older"}).exit_code, kExitDone);
    ASSERT_EQ(run({"add", "CD615"}).exit_code, kExitDone);
    ASSERT_TRUE(config::write_service_settings(reg, {"C:\\ZRN", 0}));
    const std::string before = everything(reg);
    const std::string doc = R"({"schema":"zrn-opos-cashdrawer-configuration","version":1,
        "service":{"TraceEnabled":1,"ODVEnabled":1},
        "devices":[{"key":"CD347","Port":3},{"key":"CD926-2"}],
        "logicalNames":[{"name":"New","device":"CD926-2"},{"name":"Old","device":"CD347"}]})";
    // The import needs some dozens of writes; let each one in turn be the
    // first that fails, and the rollback put everything back every time.
    int failures = 0;
    for (int allowed = 0; allowed < 200; ++allowed) {
        reg.fail_nth_write = allowed;
        const Outcome o = run({"import", "till.json"}, doc);
        reg.fail_nth_write = -1;
        if (o.exit_code == kExitDone) break;
        ++failures;
        ASSERT_EQ(o.exit_code, kExitFailed) << allowed;
        ASSERT_NE(o.err.find("the registry is as it was before"), std::string::npos) << allowed << o.err;
        ASSERT_NE(o.err.find("\" failed: Windows error 5; the registry is as it was before"), std::string::npos)
            << "names the refused call: " << o.err;
        ASSERT_EQ(everything(reg), before) << allowed;
    }
    EXPECT_GT(failures, 40);
    EXPECT_EQ(value("CD926-2", "Port"), "1");
    EXPECT_EQ(value("", "Older"), "(none)");

    // The same for a single add.
    const std::string after_import = everything(reg);
    reg.fail_nth_write = 5;
    Outcome o = run({"add", "CD926", "--name", "X", "--force"});
    EXPECT_EQ(o.exit_code, kExitFailed);
    EXPECT_NE(o.err.find("zrncd: the settings of CD926-3 could not be written: RegSetValueExA \"DeviceName\" failed: "
                         "Windows error 5; the registry is as it was before\n"),
              std::string::npos)
        << "the refused call and the system's words for why: " << o.err;
    EXPECT_EQ(everything(reg), after_import);

    // A registry that refuses every write from some point on cannot be put
    // back either, and the user is told to check it.
    reg.writes_left = 3;
    o = run({"import", "till.json"}, doc);
    reg.writes_left = -1;
    EXPECT_EQ(o.exit_code, kExitFailed);
    EXPECT_NE(o.err.find("could not be put back in full: check it with 'zrncd doctor'"), std::string::npos) << o.err;
}

TEST_F(ConfigTest, SyncCopiesOneViewToTheOtherKeepingEachDriverFolder) {
    ASSERT_EQ(run({"add", "CD347", "Port=2", "--name", "Front"}).exit_code, kExitDone);
    ASSERT_EQ(run({"add", "CD347", "Port=2", "--force"}).exit_code, kExitDone);  // units 1 and 2 of one line
    ASSERT_TRUE(config::write_service_settings(reg, {"C:\\Program Files\\ZRN", 1}));
    ASSERT_TRUE(config::write_service_settings(other, {"C:\\Program Files (x86)\\ZRN", 0}));
    {
        ScopedKey k(other);
        ASSERT_EQ(other.open_key(kHklm, kServiceSettingsKey, true, k.out()), kRegOk);
        ASSERT_EQ(platform::set_dword(other, k.get(), "ODVEnabled", 1), kRegOk);
    }
    ASSERT_TRUE(config::write_device_entry(other, config::default_entry("CD926", *device_type_of("CD926"))));

    const Outcome o = run({"sync"});
    EXPECT_EQ(o.exit_code, kExitDone) << o.err;
    EXPECT_EQ(o.out, "copied from the 64-bit view to the 32-bit view: 2 devices, 1 logical names\n");
    EXPECT_TRUE(differences(read_configuration(reg), "a", read_configuration(other), "b").empty());
    config::ServiceSettings s;
    ASSERT_TRUE(config::read_service_settings(other, &s));
    EXPECT_EQ(s.TargetPath, "C:\\Program Files (x86)\\ZRN");
    EXPECT_EQ(s.TraceEnabled, 1);

    // A fault in the source is named, not copied.
    ASSERT_TRUE(config::write_device_value(reg, "CD347", "Port", 7));
    const std::string before = everything(other);
    const Outcome bad = run({"sync"});
    EXPECT_EQ(bad.exit_code, kExitRefused);
    EXPECT_NE(bad.err.find("devices[0].Port: '7' is not allowed"), std::string::npos);
    EXPECT_EQ(everything(other), before);

    fakes::FakeRegistry empty;
    EXPECT_EQ(run_on(empty, {"sync"}).err,
              "zrncd: the 64-bit view holds no cash drawer configuration; nothing to copy\n");
    other_ptr = nullptr;
    EXPECT_EQ(run({"sync"}).err, "zrncd: this Windows has no other registry view\n");
}

TEST_F(ConfigTest, ListShowsSettingsAsTextsNamesAndWhatIsMissing) {
    ASSERT_EQ(run({"add", "CD615", "Port=LPT2", "--name", "Back"}).exit_code, kExitDone);
    ASSERT_TRUE(config::write_logical_name(reg, "Ghost", "CD926"));
    {
        ScopedKey k(reg);
        ASSERT_EQ(reg.open_key(kHklm, std::string(kDeviceClassKey) + "\\CD615", true, k.out()), kRegOk);
        ASSERT_EQ(reg.delete_value(k.get(), "SecondOC"), kRegOk);
    }
    EXPECT_EQ(run({"list"}).out,
              "CD615  Model 615 ParallelLINE(tm) Interface\n"
              "    Port=LPT2 Status=CTS FirstOC=91 SecondOC=(missing) DrawerNo=1\n"
              "    logical names: Back\n"
              "logical name Ghost stands for CD926, which does not exist\n");
    json::Value doc;
    std::string error;
    ASSERT_TRUE(json::parse(run({"list", "--json"}).out, &doc, &error)) << error;
    EXPECT_EQ(doc.find("devices")->items().size(), 1u);
    fakes::FakeRegistry empty;
    EXPECT_EQ(run_on(empty, {"list"}).out, "no cash drawer devices in the 64-bit view\n");
}

// The installer's CONFIG: checked whole before anything is installed (and
// nothing written), then imported with the undo of zrncd config import.
TEST_F(ConfigTest, TheInstallersDocumentIsCheckedWithoutWritingThenImported) {
    ASSERT_EQ(run({"add", "CD347", "--name", "Old"}).exit_code, kExitDone);
    ASSERT_TRUE(config::write_service_settings(reg, {"C:\\Program Files\\ZRN\\OPOS CashDrawer", 0}));
    const std::string before = everything(reg);
    Views views{reg, "the 64-bit view", nullptr, ""};
    std::vector<std::string> messages;
    std::string to_import = "untouched";

    InstallDocument bad{"\\\\server\\share\\store12.json", false, "", R"({"schema":"zrn-opos-cashdrawer-configuration",
        "version":1,"devices":[{"key":"CD926","Port":"COM9"},{"key":"CD615","Colour":1}]})"};
    EXPECT_FALSE(check_install_document(bad, views, files, lock, &messages, &to_import));
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "\\\\server\\share\\store12.json: devices[0].Port: 'COM9' is not allowed; use COM1, COM2, "
                            "COM3, COM4 (or the codes 1 2 3 4)",
                            "\\\\server\\share\\store12.json: devices[1]: CD615 has no setting \"Colour\"",
                            "2 faults in \\\\server\\share\\store12.json; nothing written"}));
    EXPECT_EQ(to_import, "untouched");
    messages.clear();
    bad.text = "{not json";
    EXPECT_FALSE(check_install_document(bad, views, files, lock, &messages, &to_import));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("\\\\server\\share\\store12.json: line 1, column 2: ", 0), 0u) << messages[0];
    EXPECT_EQ(everything(reg), before);

    // Devices sharing a port need CONFIGFORCE=1, as import needs --force.
    const std::string shared = R"({"schema":"zrn-opos-cashdrawer-configuration","version":1,
        "service":{"TargetPath":"D:\\Elsewhere","TraceEnabled":0,"TraceKeepDays":30},
        "devices":[{"key":"CD926","Port":1},{"key":"CD347","Port":1}],
        "logicalNames":[{"name":"FrontDrawer","device":"CD926"}]})";
    InstallDocument good{"C:\\rollout\\till.json", false, "", shared};
    messages.clear();
    EXPECT_FALSE(check_install_document(good, views, files, lock, &messages, &to_import));
    EXPECT_EQ(messages, (std::vector<std::string>{"warning: CD926 and CD347 both use COM1",
                                                   "nothing written; if this is intended, give --force"}));
    good.force = true;
    good.trace_given = "2";
    messages.clear();
    ASSERT_TRUE(check_install_document(good, views, files, lock, &messages, &to_import));
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "warning: CD926 and CD347 both use COM1",
                            "C:\\rollout\\till.json: 2 devices, 1 logical names; checked, nothing written",
                            "TraceEnabled 2 from TRACEENABLED replaces the document's"}));
    EXPECT_EQ(everything(reg), before) << "a check writes nothing";
    json::Value doc;
    std::string error;
    ASSERT_TRUE(json::parse(to_import, &doc, &error)) << error;
    EXPECT_EQ(json::dump(*doc.find("service")), R"({"TargetPath":"D:\\Elsewhere","TraceEnabled":2,"TraceKeepDays":30})");

    // What the deferred step gets is what was checked.
    InstallDocument carried;
    ASSERT_TRUE(unpack(pack({good.file, true, "2", to_import}), &carried));
    EXPECT_EQ(carried.file, good.file);
    EXPECT_TRUE(carried.force);
    EXPECT_EQ(carried.trace_given, "2");
    EXPECT_EQ(carried.text, to_import);
    EXPECT_FALSE(unpack("zrn-config-import 1\n2\nfile\n", &carried)) << "no force flag";
    EXPECT_FALSE(unpack(to_import, &carried));

    // A write refused part-way: undone, and the installation fails.
    reg.fail_nth_write = 6;
    messages.clear();
    EXPECT_FALSE(import_install_document(carried, views, files, lock, &messages));
    reg.fail_nth_write = -1;
    EXPECT_EQ(everything(reg), before);
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(messages.back().find("the registry is as it was before"), std::string::npos) << messages.back();

    messages.clear();
    ASSERT_TRUE(import_install_document(carried, views, files, lock, &messages));
    EXPECT_EQ(messages.back(), "imported into the 64-bit view: 2 devices, 1 logical names");
    EXPECT_EQ(value("", "FrontDrawer"), "CD926");
    EXPECT_EQ(value("CD347", "Port"), "1");
    EXPECT_EQ(value("", "Old"), "(none)");
    config::ServiceSettings s;
    ASSERT_TRUE(config::read_service_settings(reg, &s));
    EXPECT_EQ(s.TargetPath, "C:\\Program Files\\ZRN\\OPOS CashDrawer") << "the package's own, kept";
    EXPECT_EQ(s.TraceEnabled, 2);
    EXPECT_EQ(config::read_trace_keep_days(reg), 30);

    // Without service settings in the document, TRACEENABLED is left to the
    // package (which wrote it) and the document touches none.
    good.text = R"({"schema":"zrn-opos-cashdrawer-configuration","version":1,"devices":[]})";
    messages.clear();
    ASSERT_TRUE(check_install_document(good, views, files, lock, &messages, &to_import));
    EXPECT_EQ(to_import, good.text);
}

TEST(PackageSettings, AnUpgradeKeepsTheTillsUnlessTheCommandLineSetsThem) {
    const std::string dir = "C:\\Program Files\\ZRN\\OPOS CashDrawer";
    PackageSettingsInput in;
    in.install_folder = dir;
    in.package_target = dir;
    in.till_trace = "#2";
    in.till_target = "D:\\POS\\drivers";
    in.old_server = dir + "\\ZRNOPOSCD.dll";

    // A new installation: the command line or the defaults.
    PackageSettings out = package_settings(in);
    EXPECT_EQ(out.trace_enabled, "0");
    EXPECT_EQ(out.target_path, dir);
    EXPECT_TRUE(out.error.empty());
    in.trace_given = "1";
    EXPECT_EQ(package_settings(in).trace_enabled, "1");

    // An upgrade keeps the till's, each unless the command line sets it.
    in.upgrade = true;
    in.trace_given.clear();
    out = package_settings(in);
    EXPECT_EQ(out.trace_enabled, "2");
    EXPECT_EQ(out.target_path, "D:\\POS\\drivers");
    EXPECT_EQ(out.notes, (std::vector<std::string>{
                             "TraceEnabled 2 kept from the installed build",
                             "TargetPath D:\\POS\\drivers kept: it names no folder of this package"}));
    in.trace_given = "0";
    in.addlocal = "Complete";
    EXPECT_EQ(package_settings(in).target_path, "D:\\POS\\drivers") << "no word of TargetPath";
    for (const auto& [addlocal, remove, folder] :
         {std::tuple{"Complete, simulator", "", false}, {"ALL", "", false}, {"", "Simulator", false}, {"", "", true}}) {
        in.addlocal = addlocal;
        in.remove = remove;
        in.folder_given = folder;
        out = package_settings(in);
        EXPECT_EQ(out.trace_enabled, "0");
        EXPECT_EQ(out.target_path, dir) << addlocal << "|" << remove << "|" << folder;
        EXPECT_TRUE(out.notes.empty());
    }

    // The earlier installation's own folders are the package's to point anew.
    in.addlocal = in.remove = "";
    in.folder_given = false;
    in.package_target = dir + "\\sim";
    for (const std::string& own : std::vector<std::string>{dir, dir + "\\", "c:\\program files\\zrn\\opos cashdrawer\\SIM",
                                                           "E:\\Old\\ZRN", "E:\\Old\\ZRN\\sim"}) {
        in.old_server = "E:\\Old\\ZRN\\ZRNOPOSCD.dll";
        in.till_target = own;
        EXPECT_EQ(package_settings(in).target_path, dir + "\\sim") << own;
    }
    in.till_target.clear();
    EXPECT_EQ(package_settings(in).target_path, dir + "\\sim") << "none on the till";
    in.till_trace = "##2";
    in.trace_given.clear();
    EXPECT_EQ(package_settings(in).trace_enabled, "0") << "no number: the default";

    in.trace_given = "on";
    EXPECT_EQ(package_settings(in).error, "TRACEENABLED=on is no whole number (0 off, 1 every line, 2 errors only)");
}

TEST(Snapshot, PutsBackValuesKeysAndTreesAndRemovesWhatWasNotThere) {
    fakes::FakeRegistry reg;
    ASSERT_TRUE(config::write_device_entry(reg, config::default_entry("CD926", *device_type_of("CD926"))));
    {
        ScopedKey k(reg);
        ASSERT_EQ(reg.create_key(kHklm, std::string(kDeviceClassKey) + "\\CD926\\Deeper\\Still", "", k.out(), nullptr),
                  kRegOk);
        ASSERT_EQ(platform::set_sz(reg, k.get(), "x", "y"), kRegOk);
    }
    const std::string before = everything(reg);
    Snapshot snap;
    ASSERT_TRUE(snap.capture(reg, kDeviceClassKey));
    ASSERT_TRUE(snap.capture(reg, kServiceSettingsKey));  // not there yet
    ASSERT_TRUE(delete_tree(reg, kHklm, std::string(kDeviceClassKey) + "\\CD926"));
    ASSERT_TRUE(config::write_device_entry(reg, config::default_entry("CD347", *device_type_of("CD347"))));
    ASSERT_TRUE(config::write_logical_name(reg, "New", "CD347"));
    ASSERT_TRUE(config::write_service_settings(reg, {"C:\\x", 1}));
    ASSERT_TRUE(snap.restore(reg));
    EXPECT_EQ(everything(reg), before);
    EXPECT_EQ(reg.open_handles(), 0);
}

// A registry whose writes stop the program after a number of them, as a
// kill, a deployment tool's timeout or a power cut would: nothing after it
// runs, no undo, no marker removed.
struct Killed {};
struct StoppingRegistry {
    StoppingRegistry(platform::Registry& target, int writes)
        : left(writes), reg(target, [this] {
              if (--left == 0) throw Killed{};
          }) {}
    int left;
    platform::AfterWriteRegistry reg;
};

class RecoveryTest : public ConfigTest {
protected:
    void SetUp() override {
        ConfigTest::SetUp();
        ASSERT_EQ(run({"add", "CD347", "Port=2", "--name", "Old", "--name", "Older"}).exit_code, kExitDone);
        ASSERT_EQ(run({"add", "CD615"}).exit_code, kExitDone);
        ASSERT_TRUE(config::write_service_settings(reg, {"C:\\ZRN", 0}));
        before = everything(reg);
    }
    // Runs the import until the registry stops it after that many writes;
    // false when it came to its end first.
    bool import_stopped_after(int writes, platform::Files* through = nullptr) {
        StoppingRegistry stopping(reg, writes);
        try {
            run_on(stopping.reg, {"import", "till.json"}, doc, through);
        } catch (const Killed&) {
            return true;
        }
        return false;
    }
    const std::string doc = R"({"schema":"zrn-opos-cashdrawer-configuration","version":1,
        "service":{"TraceEnabled":1,"ODVEnabled":1},
        "devices":[{"key":"CD347","Port":3},{"key":"CD926-2"}],
        "logicalNames":[{"name":"New","device":"CD926-2"},{"name":"Old","device":"CD347"}]})";
    std::string before;
};

TEST_F(RecoveryTest, AnImportStoppedAfterAnyOfItsWritesIsPutBackByTheNextCommand) {
    int stopped = 0;
    for (int writes = 1; import_stopped_after(writes); ++writes) {
        ++stopped;
        ASSERT_TRUE(files.exists(marker_path("64"))) << writes;
        ASSERT_NE(everything(reg), before) << writes;
        // Whatever the next command is, it puts the view back first.
        const Outcome o = run({"list"});
        ASSERT_EQ(o.err, "zrncd: a change of the 64-bit view (import till.json) was stopped part-way; the "
                         "configuration it had before was put back from " + backup_path("64") + "\n")
            << writes;
        ASSERT_EQ(o.exit_code, kExitDone);
        ASSERT_EQ(everything(reg), before) << writes;
        ASSERT_FALSE(files.exists(marker_path("64")));
    }
    EXPECT_GT(stopped, 40);
    // The import that came to its end left no marker: nothing is undone.
    const std::string imported = everything(reg);
    EXPECT_NE(imported, before);
    EXPECT_EQ(run({"list"}).err, "");
    EXPECT_EQ(everything(reg), imported);
    // The backup is the configuration as it was, for a person to read too.
    json::Value backup;
    std::string error;
    ASSERT_TRUE(json::parse(files.content(backup_path("64")), &backup, &error)) << error;
    EXPECT_EQ(backup.find("schema")->as_string(), "zrn-opos-cashdrawer-backup");
    EXPECT_EQ(backup.find("change")->as_string(), "import till.json");
    ASSERT_NE(backup.find("configuration"), nullptr);
    EXPECT_EQ(backup.find("configuration")->find("devices")->items().size(), 2u);
}

TEST_F(RecoveryTest, WithNoRestoreTheCommandThatPutsItBackIsNamedAndNothingIsChangedOnTop) {
    ASSERT_TRUE(import_stopped_after(7));
    const std::string half = everything(reg);
    Outcome o = run({"--no-restore", "list"});
    EXPECT_EQ(o.exit_code, kExitDone);
    EXPECT_EQ(o.err, "zrncd: a change of the 64-bit view (import till.json) was stopped part-way, so its "
                     "configuration may be incomplete; 'zrncd config --view 64 restore' puts back the configuration "
                     "it had before\n");
    EXPECT_FALSE(o.out.empty()) << "the list is shown all the same";
    o = run({"--no-restore", "add", "CD926"});
    EXPECT_EQ(o.exit_code, kExitRefused);
    EXPECT_NE(o.err.find("nothing written: put the configuration back first"), std::string::npos) << o.err;
    EXPECT_EQ(everything(reg), half);

    o = run({"restore"});
    EXPECT_EQ(o.exit_code, kExitDone) << o.err;
    EXPECT_EQ(o.out, "a change of the 64-bit view (import till.json) was stopped part-way; the configuration it had "
                     "before was put back from " + backup_path("64") + "\n");
    EXPECT_EQ(everything(reg), before);
    EXPECT_EQ(run({"restore"}).out, "no change was stopped part-way; nothing to restore\n");
}

TEST_F(RecoveryTest, ASyncStoppedPartWayPutsBackTheViewItWroteTo) {
    ASSERT_TRUE(config::write_device_entry(other, config::default_entry("CD926", *device_type_of("CD926"))));
    const std::string other_before = everything(other);
    StoppingRegistry stopping(other, 4);
    other_ptr = &stopping.reg;
    EXPECT_THROW(run({"sync"}), Killed);
    other_ptr = &other;
    ASSERT_TRUE(files.exists(marker_path("32")));
    const Outcome o = run({"export"});
    EXPECT_NE(o.err.find("a change of the 32-bit view (sync from the 64-bit view) was stopped part-way"),
              std::string::npos)
        << o.err;
    EXPECT_EQ(everything(other), other_before);
    EXPECT_EQ(everything(reg), before);
}

TEST_F(RecoveryTest, TheBackupIsWholeBeforeTheMarkerAndAChangeWithoutOneIsRefused) {
    // Stopped while the marker is written: the backup is whole, no change
    // was made yet, and there is nothing to put back.
    class StopAtMarker final : public fakes::ForwardingFiles {
    public:
        using ForwardingFiles::ForwardingFiles;
        platform::FileStatus replace(const std::string& from, const std::string& to) override {
            if (to == marker_path("64")) throw Killed{};
            return ForwardingFiles::replace(from, to);
        }
    };
    StopAtMarker stopping_files(files);
    EXPECT_THROW(run_on(reg, {"import", "till.json"}, doc, &stopping_files), Killed);
    EXPECT_FALSE(files.exists(marker_path("64")));
    EXPECT_EQ(everything(reg), before);
    EXPECT_EQ(run({"list"}).err, "");

    // A backup that cannot be written: no change at all.
    files.hold(backup_path("64"), true);
    Outcome o = run({"import", "till.json"}, doc);
    files.hold(backup_path("64"), false);
    EXPECT_EQ(o.exit_code, kExitFailed);
    EXPECT_EQ(o.err, "zrncd: the backup " + backup_path("64") +
                         " could not be written (Windows error 32); nothing was changed\n");
    EXPECT_EQ(everything(reg), before);

    // A marker whose backup is no backup: said, and nothing is changed.
    ASSERT_TRUE(import_stopped_after(3));
    const std::string half = everything(reg);
    files.put(backup_path("64"), "{\"schema\":\"something else\"}");
    o = run({"add", "CD926"});
    EXPECT_EQ(o.exit_code, kExitFailed);
    EXPECT_NE(o.err.find("could not be put back: " + backup_path("64") + " is no backup of the 64-bit view"),
              std::string::npos)
        << o.err;
    EXPECT_EQ(everything(reg), half);
    EXPECT_TRUE(files.exists(marker_path("64")));
}

// Two programs changing the configuration take turns: a change waits for the
// lock, and when another program holds it too long, says who.
TEST_F(ConfigTest, AChangeWaitsForTheConfigurationLockAndNamesItsHolder) {
    fakes::FakeConfigLock utility(machine);
    std::string holder;
    ASSERT_EQ(utility.acquire(0, "QVTUtility", &holder), platform::ConfigLock::Status::Acquired);
    const std::string before = everything(reg);
    Outcome o = run({"add", "CD926"});
    EXPECT_EQ(o.exit_code, kExitFailed);
    EXPECT_EQ(o.err, "zrncd: the cash drawer configuration is being changed by " + utility.state().holder +
                         "; nothing written (try again when it has finished)\n");
    EXPECT_EQ(machine.state->waits.back(), kCommandLockWaitMs);
    EXPECT_EQ(everything(reg), before);
    EXPECT_EQ(run({"list"}).exit_code, kExitDone) << "reading needs no lock";
    utility.release();
    EXPECT_EQ(run({"add", "CD926"}).exit_code, kExitDone);
    EXPECT_FALSE(lock.held());
}

}  // namespace
}  // namespace zrn::cfg
