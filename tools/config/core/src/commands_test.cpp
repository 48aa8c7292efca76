#include "zrn/cfg/commands.h"

#include <gtest/gtest.h>

#include "zrn/cfg/document.h"
#include "zrn/cfg/snapshot.h"
#include "zrn/device_config.h"
#include "zrn/device_types.h"
#include "zrn/fakes/fake_files.h"
#include "zrn/fakes/faulty_registry.h"
#include "zrn/text.h"
#include "zrn/utility/usb_config.h"

namespace zrn::cfg {
namespace {

using platform::kHklm;
using platform::kRegOk;
using platform::ScopedKey;

// Every key and value below a key, types and bytes included, one per line.
std::string tree(platform::Registry& reg, const std::string& path) {
    ScopedKey key(reg);
    if (reg.open_key(kHklm, path, false, key.out()) != kRegOk) return path + " (none)\n";
    std::string out = path + "\n";
    std::string name;
    platform::RegData d;
    for (std::uint32_t i = 0; reg.enum_value(key.get(), i, &name, &d) == kRegOk; ++i)
        out += "  " + name + " " + std::to_string(d.type) + " " + value_as_text(d.type, d.bytes) + " " +
               std::to_string(d.bytes.size()) + "\n";
    std::vector<std::string> subs;
    for (std::uint32_t i = 0; reg.enum_key(key.get(), i, &name) == kRegOk; ++i) subs.push_back(name);
    for (const std::string& s : subs) out += tree(reg, path + "\\" + s);
    return out;
}

std::string everything(platform::Registry& reg) {
    return tree(reg, std::string(kDeviceClassKey)) + tree(reg, std::string(kServiceSettingsKey));
}

class ConfigTest : public ::testing::Test {
protected:
    // Every Windows has HKLM\SOFTWARE; the store opens it to make a key.
    void SetUp() override {
        for (platform::Registry* r : {static_cast<platform::Registry*>(&reg), static_cast<platform::Registry*>(&other)}) {
            ScopedKey k(*r);
            ASSERT_EQ(r->create_key(kHklm, "SOFTWARE", "", k.out(), nullptr), kRegOk);
        }
    }
    Outcome run(std::vector<std::string> args, std::string_view input = {}) { return run_on(reg, args, input); }
    Outcome run_on(platform::Registry& r, std::vector<std::string> args, std::string_view input = {}) {
        Command cmd;
        const std::string error = parse_config(args, &cmd);
        EXPECT_EQ(error, "");
        Views views{r, "the 64-bit view", other_ptr, "the 32-bit view"};
        return run_config(cmd, views, files, input);
    }
    std::string value(const std::string& key, const std::string& name) {
        ScopedKey k(reg);
        if (reg.open_key(kHklm, std::string(kDeviceClassKey) + (key.empty() ? "" : "\\" + key), false, k.out()) !=
            kRegOk)
            return "(no key)";
        std::string text = "(none)";
        config::read_text(reg, k.get(), name, &text);
        return text;
    }

    fakes::FaultyRegistry reg;
    fakes::FakeRegistry other;
    platform::Registry* other_ptr = &other;
    fakes::FakeFiles files;
};

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
    EXPECT_EQ(value("CD347", "SecondOC"), "");
    EXPECT_EQ(value("CD347", "HandShaking"), "1");
    EXPECT_EQ(value("CD347", "Status"), "2");
    EXPECT_EQ(value("CD347", "DrawerNo"), "(none)");

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
    files.create_directory(std::string(utility::kUsbConfigFolder));
    files.put(std::string(utility::kUsbConfigPath),
              utility::UsbConfig::compose({"USB0", "USB3"}, {"12", "34"}));

    Outcome o = run({"remove", "CD615"});
    EXPECT_EQ(o.exit_code, kExitDone);
    EXPECT_EQ(o.out, "removed CD615 and its logical names A, B\n");
    EXPECT_EQ(value("CD615", "Port"), "(no key)");
    EXPECT_EQ(value("", "A"), "(none)");
    EXPECT_EQ(value("", "B"), "(none)");
    EXPECT_EQ(value("", "Other"), "CD347");

    o = run({"remove", "CD730"});
    EXPECT_EQ(o.out, "removed CD730 and its logical names CashDrawer\n");
    EXPECT_EQ(files.content(std::string(utility::kUsbConfigPath)), utility::UsbConfig::compose({"USB3"}, {"34"}));
    EXPECT_EQ(run({"remove", "CD730"}).exit_code, kExitRefused);
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
}

TEST_F(ConfigTest, ExportThenImportOnACleanRegistryGivesTheSameConfiguration) {
    ASSERT_EQ(run({"add", "CD926", "Port=3", "FirstOC=27", "--name", "Front"}).exit_code, kExitDone);
    ASSERT_EQ(run({"add", "CD615", "DrawerNo=2"}).exit_code, kExitDone);
    ASSERT_TRUE(config::write_device_entry(reg, config::default_entry("CD730", *device_type_of("CD730"))));
    ASSERT_TRUE(config::write_logical_name(reg, "CashDrawer", "CD730"));
    ASSERT_TRUE(config::write_service_settings(reg, {"C:\\ZRN", 2}));
    const Outcome exported = run({"export"});
    ASSERT_EQ(exported.exit_code, kExitDone);

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
        "service":{"TargetPath":"C:\\Program Files\\ZRN","TraceEnabled":1},
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

}  // namespace
}  // namespace zrn::cfg
