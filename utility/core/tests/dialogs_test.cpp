#include "zrn/utility/dialogs.h"

#include <gtest/gtest.h>

#include <variant>

#include "store_fixture.h"
#include "zrn/fakes/fake_clock.h"
#include "zrn/fakes/fake_config_lock.h"
#include "zrn/config/rules.h"
#include "zrn/utility/main_presenter.h"

namespace zrn::utility {
namespace {

using namespace config::testing;

const std::string kCommon926 =
    "=ZRNOPOSCD.SO|ADKConfig=ZRN 3.38.1_CCO|ServiceVersion=3.38.1_CCO|"
    "ServiceDesc=ZRN OPOS CashDrawer Service Object (serial, parallel, USB)|";

class FakeUsbLibrary final : public UsbDriverLibrary {
public:
    bool load(const std::string& path) override {
        loads.push_back(path);
        loaded = present;
        return present;
    }
    std::int32_t open_port(std::int32_t unit) override {
        calls.push_back("open " + std::to_string(unit));
        return answer;
    }
    void close_port(std::int32_t unit) override { calls.push_back("close " + std::to_string(unit)); }
    void unload() override { loaded = false; }
    bool present = true;
    bool loaded = false;
    std::int32_t answer = 1;
    Strings loads, calls;
};

class DialogsTest : public StoreFixture<fakes::FakeRegistry> {
protected:
    // A settings page's texts as shown: Port, BaudRate, DataBits, StopBits,
    // Parity, HandShaking, DrawerNo, FirstOC, SecondOC.
    static Strings shown(const DeviceSettingsPresenter& p) {
        return {p.Port, p.BaudRate, p.DataBits, p.StopBits, p.Parity, p.HandShaking, p.DrawerNo, p.FirstOC, p.SecondOC};
    }

    fakes::FakeClock clock;
    FakeUsbLibrary usb;
    Strings checks;  // device keys the health check ran for
    DeviceSettingsPresenter add{SettingsMode::Add, store, prompter, &usb,
                                [this](const std::string& k) { checks.push_back(k + " " + entry(k)); }};
    DeviceSettingsPresenter modify{SettingsMode::Modify, store, prompter, nullptr,
                                   [this](const std::string& k) { checks.push_back(k + " " + entry(k)); }};
};

// ---------------------------------------------------------------- page 1

TEST_F(DialogsTest, PageOneDefaultsToTheFirstModelAndChecksTheNameOnlyWhenGiven) {
    AddDevicePagePresenter page(store, prompter, clock);
    page.open();
    EXPECT_EQ(page.ModelItems, Strings(kModelTexts.begin(), kModelTexts.end()));
    EXPECT_EQ(page.ModelIndex, 0);
    EXPECT_TRUE(page.Upos);
    EXPECT_TRUE(page.TypeKey.empty());

    // Next without touching the list: a CD926, shown as the master id, after
    // a pause of 50 ms; a blank-only name is no name and not checked.
    put_class_value("   ", "CD347");
    page.LogicalName = "   ";
    EXPECT_EQ(page.on_next(), kResultOk);
    EXPECT_EQ(page.TypeKey, "CD926");
    EXPECT_EQ(page.MasterId, "CD926");
    EXPECT_EQ(page.LogicalName, "");
    EXPECT_EQ(clock.sleeps(), std::vector<std::uint32_t>{50});
    EXPECT_TRUE(prompter.prompts().empty());

    // After Back the page shows the earlier choice.
    page.on_model_selected(2);
    page.open();
    EXPECT_EQ(page.ModelIndex, 2);
    EXPECT_EQ(page.TypeKey, "CD615");

    // A taken name, also one differing only in case, keeps the page open.
    put_class_value("CashDrawer", "CD347");
    for (const std::string name : {" CashDrawer ", "cashdrawer"}) {
        prompter.clear();
        page.LogicalName = name;
        EXPECT_EQ(page.on_next(), kStayOpen) << name;
        ASSERT_EQ(prompter.prompts().size(), 1u);
        const std::string trimmed = name == " CashDrawer " ? "CashDrawer" : name;
        EXPECT_EQ(prompter.prompts()[0].text, "The Logical Device Name  '" + trimmed +
                                                  "'  already      \nexists.  Please use a different name.");
        EXPECT_EQ(prompter.prompts()[0].caption, "QVTUtility");
        EXPECT_EQ(prompter.prompts()[0].icon, config::Icon::Error);
    }
}

// ---------------------------------------------------------------- page 2

TEST_F(DialogsTest, PageTwoWritesEachTypesDefaultsInOrder) {
    set_target_path("C:\\drv");
    const std::string sel_serial =
        "PortSel=1,2,3,4|Port=1|BaudRateSel=1,2,3,4,5,6|BaudRate=5|DataBitLenSel=7,8|DataBitLen=8|StopBitsSel=1,2|"
        "StopBits=1|ParitySel=0,1,2|Parity=0|HandShakingSel=0,1,2|HandShaking=0|StatusSel=0,1,2,3|Status=0|";
    struct Case {
        std::string type, key, expected;
    } cases[] = {
        {"CD926", "CD926",
         kCommon926 + "DeviceDesc=ZRN Model 926A SerialLINE(r) II Interface|DeviceName=CD926|DeviceID=0|DeviceState=0|" +
             sel_serial + "FirstOC=7|TimeOut=1000|"},
        {"CD347", "CD347",
         kCommon926 + "DeviceDesc=Model 347A Smart SerialLINE(r) Interface|DeviceName=CD347|DeviceID=1|DeviceState=0|" +
             sel_serial + "FirstOC=91|SecondOC=91|DrawerNoSel=1,2|DrawerNo=1|TimeOut=1000|"},
        {"CD615", "CD615",
         kCommon926 + "DeviceDesc=Model 615 ParallelLINE(tm) Interface|DeviceName=CD615|DeviceID=2|DeviceState=0|"
                      "PortSel=1,2|Port=1|StatusSel=0,1,2,3|Status=0|FirstOC=91|SecondOC=91|DrawerNoSel=1,2|"
                      "DrawerNo=1|TimeOut=1000|"},
        {"CD926", "CD926-2", ""},
    };
    for (const Case& c : cases) {
        add.set_target(c.type);
        ASSERT_EQ(add.open(), kStayOpen) << c.key;
        EXPECT_EQ(add.KeyName, c.key);
        if (!c.expected.empty()) { EXPECT_EQ(entry(c.key), c.expected); }
        EXPECT_EQ(add.on_finish(), kResultOk);
        EXPECT_EQ(add.DialogDeviceKey, c.key);
    }
    EXPECT_EQ(usb.loads, Strings(4, "C:\\drv\\USB730SO.DLL"));
    // Serial entries on COM1 meet each other: CD347 the CD926, CD926-2 both.
    EXPECT_EQ(prompter.prompts().size(), 3u);
    for (const auto& p : prompter.prompts()) EXPECT_EQ(p.caption, "Port Conflict Notice ");
    // A serial entry: no USB step, and the default logical names are not
    // written for it.
    EXPECT_TRUE(usb.calls.empty());
    EXPECT_EQ(class_values(), Strings{});
}

TEST_F(DialogsTest, PageTwoShowsTheTypesControlsAndDefaults) {
    set_target_path("C:\\drv");
    add.set_target("CD347");
    ASSERT_EQ(add.open(), kStayOpen);
    EXPECT_EQ(add.Title(), "Add New Cash Drawer Device Settings");
    EXPECT_EQ(add.PortGroupCaption, " COM Port Setting ");
    EXPECT_EQ(add.PortItems, (Strings{"COM1", "COM2", "COM3", "COM4"}));
    EXPECT_EQ(shown(add), (Strings{"COM1", "9600", "8", "1", "None", "None", "1", "91", "91"}));
    EXPECT_TRUE(add.Cts);
    EXPECT_FALSE(add.Ring);
    EXPECT_FALSE(add.HandShakingEnabled);
    EXPECT_TRUE(add.Enabled.communication && add.Enabled.status && add.Enabled.drawer && add.Enabled.first_oc &&
                add.Enabled.second_oc);
    EXPECT_EQ(add.on_cancel(), kResultCancel);

    add.set_target("CD926");
    ASSERT_EQ(add.open(), kStayOpen);
    EXPECT_TRUE(add.Enabled.communication && add.Enabled.status && add.Enabled.first_oc);
    EXPECT_FALSE(add.Enabled.drawer || add.Enabled.second_oc);
    EXPECT_EQ(add.FirstOC, "7");
    add.on_cancel();

    add.set_target("CD615");
    ASSERT_EQ(add.open(), kStayOpen);
    EXPECT_EQ(add.PortGroupCaption, " LPT Port Setting ");
    EXPECT_EQ(add.PortItems, (Strings{"LPT1", "LPT2"}));
    EXPECT_EQ(add.Port, "LPT1");
    EXPECT_FALSE(add.Enabled.communication || add.Enabled.status);
    EXPECT_TRUE(add.Enabled.drawer && add.Enabled.first_oc && add.Enabled.second_oc);
    add.on_cancel();
    EXPECT_TRUE(device_keys().empty());
}

TEST_F(DialogsTest, PageTwoRefusesWhatTheStoreCannotCreate) {
    // Unknown type.
    add.set_target("XX123");
    EXPECT_EQ(add.open(), kResultUnknownType);
    EXPECT_EQ(prompt_texts(), Strings{"errdlg::Initialization: 0x0002"});

    // Index limit: CD926 has a blank before its line break, the others none.
    add_device("CD926-9", {{"DeviceID", 0}});
    add_device("CD347-9", {{"DeviceID", 1}});
    for (const std::string type : {"CD926", "CD347"}) {
        prompter.clear();
        add.set_target(type);
        EXPECT_EQ(add.open(), kResultCancel);
        const std::string please = type == "CD926" ? "please " : "please";
        EXPECT_EQ(prompt_texts(),
                  (Strings{"Max device index limit reached! [10]\n\nIf additonal " + type + " devices are desired, " +
                               please + "\nremove from index 9 until desired device can be added.  ",
                           "errdlg::Initialization: 0x0001"}));
        EXPECT_EQ(prompter.prompts()[0].icon, config::Icon::Warning);
        EXPECT_EQ(prompter.prompts()[1].icon, config::Icon::None);
    }
    // The single USB device.
    prompter.clear();
    add.set_target("CD730");
    EXPECT_EQ(add.open(), kResultCancel);
    EXPECT_EQ(prompt_texts(),
              (Strings{"Single instance CD730 supported version.  \n\nDynamic single drawer implementation\n"
                       "[SD OPOS ADK Version 3.38.1].  ",
                       "errdlg::Initialization: 0x0001"}));
    EXPECT_EQ(device_keys(), (Strings{"CD347-9", "CD926-9"}));
    EXPECT_TRUE(usb.loads.empty());
}

TEST_F(DialogsTest, PageTwoAddsTheNameAndBackOrCancelRemoveTheNewEntry) {
    set_target_path("\"C:\\drv\"");
    put_class_value("Other", "CD615");
    add.set_target("CD926", "Front");
    ASSERT_EQ(add.open(), kStayOpen);
    EXPECT_EQ(class_values(), (Strings{"Other=CD615", "Front=CD926"}));
    EXPECT_EQ(add.on_back(), kResultBack);
    EXPECT_TRUE(device_keys().empty());
    EXPECT_EQ(class_values(), Strings{"Other=CD615"});

    add.set_target("CD926", "Front");
    ASSERT_EQ(add.open(), kStayOpen);
    EXPECT_EQ(add.on_cancel(), kResultCancel);
    EXPECT_TRUE(device_keys().empty());
    EXPECT_EQ(class_values(), Strings{"Other=CD615"});

    // A name taken meanwhile (here in other case) is refused, the entry stays.
    add.set_target("CD926", "OTHER");
    ASSERT_EQ(add.open(), kStayOpen);
    EXPECT_EQ(prompt_texts(),
              Strings{"The Logical Device Name 'OTHER' already      \nexists.  Please use a different name."});
    EXPECT_EQ(prompter.prompts()[0].icon, config::Icon::Warning);
    EXPECT_EQ(device_keys(), Strings{"CD926"});
    // Back does not take the other device's name with it.
    add.on_back();
    EXPECT_EQ(class_values(), Strings{"Other=CD615"});
    EXPECT_EQ(usb.loads, Strings(3, "C:\\drv\\USB730SO.DLL"));
}

TEST_F(DialogsTest, MissingUsbLibraryOrDriverFolderIsReportedAndFinishStillCloses) {
    // No TargetPath: nothing is loaded by bare name.
    {
        platform::ScopedKey k(reg);
        ASSERT_EQ(reg.create_key(kHklm, "SOFTWARE\\OLEforRetail", "", k.out(), nullptr), kRegOk);
    }
    add.set_target("CD926");
    ASSERT_EQ(add.open(), kStayOpen);
    EXPECT_TRUE(usb.loads.empty());
    EXPECT_EQ(prompt_texts(), Strings{"Error: Missing USB730SO.DLL file"});
    EXPECT_EQ(prompter.prompts()[0].caption, kApplicationTitle);
    EXPECT_EQ(prompter.prompts()[0].icon, config::Icon::Error);
    EXPECT_EQ(add.on_finish(), kResultOk);

    prompter.clear();
    set_target_path("C:\\drv");
    usb.present = false;
    add.set_target("CD615");
    ASSERT_EQ(add.open(), kStayOpen);
    EXPECT_EQ(usb.loads, Strings{"C:\\drv\\USB730SO.DLL"});
    EXPECT_EQ(prompt_texts(), Strings{"Error: Missing USB730SO.DLL file"});
    EXPECT_EQ(add.on_finish(), kResultOk);
    EXPECT_EQ(device_keys(), (Strings{"CD615", "CD926"}));
}

TEST_F(DialogsTest, ControlInterplay) {
    set_target_path("C:\\drv");
    add.set_target("CD926");
    ASSERT_EQ(add.open(), kStayOpen);
    // Ring line checked: CTS off, Hand Shaking CTS/RTS and enabled.
    add.Ring = true;
    add.on_ring_clicked();
    EXPECT_FALSE(add.Cts);
    EXPECT_EQ(add.HandShaking, "CTS/RTS");
    EXPECT_TRUE(add.HandShakingEnabled);
    // CTS line checked afterwards: Ring off, Hand Shaking None and disabled.
    add.Cts = true;
    add.on_cts_clicked();
    EXPECT_FALSE(add.Ring);
    EXPECT_EQ(add.HandShaking, "None");
    EXPECT_FALSE(add.HandShakingEnabled);
    // CTS unchecked: the box is enabled again; choosing CTS/RTS there
    // unchecks CTS once more.
    add.Cts = false;
    add.on_cts_clicked();
    EXPECT_TRUE(add.HandShakingEnabled);
    add.Cts = true;
    add.HandShaking = "CTS/RTS";
    add.on_hand_shaking_selected();
    EXPECT_FALSE(add.Cts);
    add.Cts = true;
    add.on_hand_shaking_kill_focus();
    EXPECT_FALSE(add.Cts);
    // Ring line unchecked changes nothing else.
    add.Ring = false;
    add.Cts = false;
    add.on_ring_clicked();
    EXPECT_FALSE(add.Cts);
    // Neither line: Status 3; Ring and CTS: 2.
    add.on_finish();
    EXPECT_NE(entry("CD926").find("HandShaking=1|StatusSel=0,1,2,3|Status=3|"), std::string::npos) << entry("CD926");
    // The key field cannot be edited.
    add.KeyName = "edited";
    add.on_key_edited();
    EXPECT_EQ(add.KeyName, "CD926");
}

TEST_F(DialogsTest, OpenCharacterCheck) {
    set_target_path("C:\\drv");
    add.set_target("CD347");
    ASSERT_EQ(add.open(), kStayOpen);
    add.FirstOC = "256";
    EXPECT_FALSE(add.on_open_char_kill_focus(1));
    EXPECT_EQ(prompt_texts(), Strings{"Open Character must be an ASCII\r\nvalue between 0 - 255"});
    EXPECT_EQ(prompter.prompts()[0].caption, "Invalid Open Character");
    EXPECT_EQ(prompter.prompts()[0].icon, config::Icon::Warning);
    EXPECT_EQ(add.FocusOpenChar, 1);
    EXPECT_EQ(add.FirstOC, "256");  // left as typed
    // Finish refuses it as well and writes nothing.
    const std::string before = entry("CD347");
    EXPECT_EQ(add.on_finish(), kStayOpen);
    EXPECT_EQ(entry("CD347"), before);

    prompter.clear();
    add.FirstOC = "255";
    add.SecondOC = "-1";
    EXPECT_TRUE(add.on_open_char_kill_focus(1));
    EXPECT_FALSE(add.on_open_char_kill_focus(2));
    EXPECT_EQ(add.FocusOpenChar, 2);
    prompter.clear();
    // What is typed is used as typed or refused, never stored as another
    // code: letters are no code (once taken as 0), blanks at the ends go, and
    // the second character may be left empty.
    for (const std::string bad : {"abcdefgh", "300", "1e3", "+7", "0x1B"}) {
        add.SecondOC = bad;
        EXPECT_FALSE(add.on_open_char_kill_focus(2)) << bad;
        EXPECT_EQ(add.on_finish(), kStayOpen) << bad;
    }
    EXPECT_EQ(entry("CD347"), before);
    prompter.clear();
    add.SecondOC = " 27 ";
    EXPECT_TRUE(add.on_open_char_kill_focus(2));
    EXPECT_EQ(add.on_finish(), kResultOk);
    EXPECT_TRUE(prompter.prompts().empty());
    EXPECT_NE(entry("CD347").find("FirstOC=255|SecondOC=27|"), std::string::npos) << entry("CD347");
    modify.set_target("CD347");
    ASSERT_EQ(modify.open(), kStayOpen);
    modify.SecondOC = "";
    EXPECT_EQ(modify.on_finish(), kResultOk);
    EXPECT_NE(entry("CD347").find("SecondOC=|"), std::string::npos) << entry("CD347");
    modify.FirstOC = "";
    EXPECT_EQ(modify.on_finish(), kStayOpen) << "the first character opens the drawer: it is needed";
}

// A port typed into the box is one of its list (letter case and blanks
// aside) or refused; it never silently leaves the stored port in place.
TEST_F(DialogsTest, APortTypedIntoTheBoxIsUsedOrRefused) {
    set_target_path("C:\\drv");
    add.set_target("CD926");
    ASSERT_EQ(add.open(), kStayOpen);
    for (const std::string bad : {"COM5", "LPT1", "2", ""}) {
        prompter.clear();
        add.Port = bad;
        EXPECT_EQ(add.on_finish(), kStayOpen) << bad;
        ASSERT_EQ(prompter.prompts().size(), 1u) << bad;
        EXPECT_EQ(prompter.prompts()[0].text,
                  bad.empty() ? "No port is chosen.\n\nChoose the port from the list."
                              : "The port '" + bad + "' is not one of COM1, COM2, COM3, COM4.\n\nChoose the port from the list.");
        EXPECT_EQ(prompter.prompts()[0].caption, "QVTUtility");
        EXPECT_TRUE(add.FocusPort);
        add.on_health_check();
        EXPECT_TRUE(checks.empty()) << "nothing saved, nothing checked";
    }
    EXPECT_NE(entry("CD926").find("|Port=1|"), std::string::npos);
    prompter.clear();
    add.Port = " com2 ";
    EXPECT_EQ(add.on_finish(), kResultOk);
    EXPECT_EQ(add.Port, "COM2");
    EXPECT_NE(entry("CD926").find("|Port=2|"), std::string::npos) << entry("CD926");
    EXPECT_TRUE(prompter.prompts().empty());

    modify.set_target("CD926");
    ASSERT_EQ(modify.open(), kStayOpen);
    modify.Port = "lpt2";
    EXPECT_EQ(modify.on_finish(), kStayOpen);
    modify.Port = "Com4";
    EXPECT_EQ(modify.on_finish(), kResultOk);
    EXPECT_NE(entry("CD926").find("|Port=4|"), std::string::npos) << entry("CD926");
}

TEST_F(DialogsTest, PortConflictsAreAskedOncePerEntryOfTheSameKind) {
    set_target_path("C:\\drv");
    add_device("CD615", {{"DeviceID", 2}, {"Port", 1}});
    add_device("CD615-2", {{"DeviceID", 2}, {"Port", 1}});
    add_device("CD926", {{"DeviceID", 0}, {"Port", 1}});
    add_device("CD347", {{"Port", 1}});  // no type: no conflict
    add.set_target("CD615");
    ASSERT_EQ(add.open(), kStayOpen);
    ASSERT_EQ(add.KeyName, "CD615-3");
    prompter.script({config::Answer::Yes, config::Answer::Yes});
    EXPECT_EQ(add.on_finish(), kResultOk);
    const std::string tail = "If not intended, please change this port assignment to avoid any conflict.     \n\n"
                             "Would you still like to proceed?";
    EXPECT_EQ(prompt_texts(),
              (Strings{"The cash drawer device 'CD615' is already assigned to port 'LPT1'.\n" + tail,
                       "The cash drawer device 'CD615-2' is already assigned to port 'LPT1'.\n" + tail}));
    EXPECT_EQ(prompter.prompts()[0].caption, "Port Conflict Notice ");
    EXPECT_EQ(prompter.prompts()[0].buttons, config::Buttons::YesNo);
    EXPECT_EQ(prompter.prompts()[0].icon, config::Icon::Warning);

    // The modify page's wording; No stops Finish and writes nothing.
    prompter.clear();
    modify.set_target("CD615-3");
    ASSERT_EQ(modify.open(), kStayOpen);
    modify.Port = "LPT2";
    add_device("CD615-2", {{"Port", 2}});
    prompter.script({config::Answer::No});
    EXPECT_EQ(modify.on_finish(), kStayOpen);
    EXPECT_EQ(prompt_texts(),
              Strings{"The cash drawer device 'CD615-2' is already assigned to port 'LPT2'\n"
                      "If not intended, please change this port assignment to avoid any conflict.     \n\n"
                      "Would you like to proceed anyway?"});
    EXPECT_NE(entry("CD615-3").find("|Port=1|"), std::string::npos);

    // A serial entry on COM1 meets the serial CD926 only.
    prompter.clear();
    modify.set_target("CD926");
    add_device("CD926", {{"BaudRate", 5}, {"Status", 0}});
    add_device("CD347-2", {{"DeviceID", 1}, {"Port", 3}});
    ASSERT_EQ(modify.open(), kStayOpen);
    EXPECT_EQ(modify.on_finish(), kResultOk);
    EXPECT_TRUE(prompter.prompts().empty());
}

TEST_F(DialogsTest, ModifyPageLoadsAndSavesOnlyTheSettings) {
    add_device("CD347", {{"", "ZRNOPOSCD.SO"},
                         {"DeviceID", 1},
                         {"Port", 2},
                         {"BaudRate", 3},
                         {"DataBitLen", 7},
                         {"StopBits", 2},
                         {"Parity", 2},
                         {"HandShaking", 2},
                         {"Status", 1},
                         {"FirstOC", "27"},
                         {"SecondOC", "112"},
                         {"DrawerNo", 2}});
    modify.set_target("CD347");
    ASSERT_EQ(modify.open(), kStayOpen);
    EXPECT_EQ(modify.Title(), "Modify Cash Drawer Device Settings");
    EXPECT_EQ(modify.KeyName, "CD347");
    EXPECT_EQ(shown(modify), (Strings{"COM2", "2400", "7", "2", "Even", "XOn/XOff", "2", "27", "112"}));
    EXPECT_EQ(modify.HandShakingItemsShown, (Strings{"None", "CTS/RTS", "XOn/XOff"}));
    EXPECT_FALSE(modify.Cts);
    EXPECT_TRUE(modify.Ring);
    EXPECT_TRUE(modify.HandShakingEnabled);

    modify.Port = "COM4";
    modify.BaudRate = "19200";
    modify.Cts = true;
    modify.on_cts_clicked();
    EXPECT_EQ(modify.on_finish(), kResultOk);
    EXPECT_EQ(modify.DialogDeviceKey, "CD347");
    EXPECT_EQ(entry("CD347"),
              "=ZRNOPOSCD.SO|DeviceID=1|Port=4|BaudRate=6|DataBitLen=7|StopBits=2|Parity=2|HandShaking=0|Status=0|"
              "FirstOC=27|SecondOC=112|DrawerNo=2|");

    // Numbers outside their lists show empty and are kept by the save.
    add_device("CD926", {{"DeviceID", 0}, {"Port", 5}, {"BaudRate", 9}, {"Status", 7}});
    modify.set_target("CD926");
    ASSERT_EQ(modify.open(), kStayOpen);
    EXPECT_EQ(modify.Port, "");
    EXPECT_EQ(modify.BaudRate, "");
    EXPECT_TRUE(modify.Cts);
    EXPECT_FALSE(modify.Ring);
    EXPECT_FALSE(modify.HandShakingEnabled);
    modify.FirstOC = "7";
    // No port is shown for the stored 5: one must be chosen, not kept.
    EXPECT_EQ(modify.on_finish(), kStayOpen);
    modify.Port = "COM2";
    EXPECT_EQ(modify.on_finish(), kResultOk);
    EXPECT_EQ(entry("CD926"), "DeviceID=0|Port=2|BaudRate=9|Status=0|DataBitLen=8|StopBits=1|Parity=0|HandShaking=0|"
                              "FirstOC=7|");

    // The USB entry with index 2 shows USB1; typing there is undone.
    add_device("CD730-2", {{"DeviceID", 3}, {"Port", 0}, {"Status", 3}});
    modify.set_target("CD730-2");
    ASSERT_EQ(modify.open(), kStayOpen);
    EXPECT_EQ(modify.PortGroupCaption, " USB Port Setting ");
    EXPECT_EQ(modify.PortItems, Strings{"USB1"});
    EXPECT_EQ(modify.Port, "USB1");
    modify.Port = "USB7";
    modify.on_port_edited();
    EXPECT_EQ(modify.Port, "USB1");
    EXPECT_FALSE(modify.Enabled.communication || modify.Enabled.status || modify.Enabled.first_oc);
    EXPECT_EQ(modify.on_finish(), kResultOk);
    EXPECT_EQ(entry("CD730-2"), "DeviceID=3|Port=0|Status=3|");

    // Unknown type.
    prompter.clear();
    modify.set_target("Foo");
    EXPECT_EQ(modify.open(), kResultUnknownType);
    EXPECT_EQ(prompt_texts(), Strings{"errdlg::Initialization: 0x0002"});
}

TEST_F(DialogsTest, HealthCheckButtonSavesFirst) {
    set_target_path("C:\\drv");
    add.set_target("CD926");
    ASSERT_EQ(add.open(), kStayOpen);
    add.BaudRate = "1200";
    add.on_health_check();
    ASSERT_EQ(checks.size(), 1u);
    EXPECT_NE(checks[0].find("CD926 " + kCommon926), std::string::npos);
    EXPECT_NE(checks[0].find("|BaudRate=2|"), std::string::npos);
    EXPECT_EQ(add.BaudRate, "1200");

    modify.set_target("CD926");
    ASSERT_EQ(modify.open(), kStayOpen);
    modify.StopBits = "2";
    modify.on_health_check();
    ASSERT_EQ(checks.size(), 2u);
    EXPECT_NE(checks[1].find("|StopBits=2|"), std::string::npos);
}

TEST_F(DialogsTest, WizardLoopsBackToPageOneAndEndsOnFinishOrCancel) {
    set_target_path("C:\\drv");
    AddDevicePagePresenter page1(store, prompter, clock);
    std::vector<int> page2_results = {kResultBack, kResultOk};
    int shown1 = 0;
    const bool finished = run_add_device_wizard(
        page1, add,
        [&] {
            ++shown1;
            page1.open();
            page1.on_model_selected(shown1 == 1 ? 1 : 2);
            page1.LogicalName = "Till";
            return page1.on_next();
        },
        [&] {
            if (add.open() != kStayOpen) return kResultCancel;
            const int r = page2_results.front();
            page2_results.erase(page2_results.begin());
            return r == kResultBack ? add.on_back() : add.on_finish();
        });
    EXPECT_TRUE(finished);
    EXPECT_EQ(shown1, 2);
    EXPECT_EQ(device_keys(), Strings{"CD615"});
    EXPECT_EQ(class_values(), Strings{"Till=CD615"});
    EXPECT_FALSE(run_add_device_wizard(page1, add, [] { return kResultCancel; }, [] { return kResultOk; }));
}

// ---------------------------------------------------------------- logical names

TEST_F(DialogsTest, LdnDialogEditsInMemoryAndFinishReplacesTheSet) {
    put_class_value("Front", "CD615");
    put_class_value("Back", "CD615");
    put_class_value("Other", "CD926");
    put_class_value("Note", "something else");
    LdnDialogPresenter ldn(store, prompter);
    ldn.open("CD615");
    EXPECT_EQ(ldn.KeyText, "CD615");
    EXPECT_EQ(ldn.ListItems, (Strings{"Front", "Back"}));

    // Blanks only: ignored, field cleared.
    ldn.EntryText = "   ";
    ldn.on_add();
    EXPECT_EQ(ldn.EntryText, "");
    EXPECT_TRUE(prompter.prompts().empty());

    // Removed, then added back in the same session: still in the store.
    ldn.Selected = "Front";
    prompter.script({config::Answer::Yes});
    ldn.on_remove();
    EXPECT_EQ(prompt_texts(), Strings{"Are you sure you want to remove the\nLDN 'Front' ?"});
    EXPECT_EQ(prompter.prompts()[0].buttons, config::Buttons::YesNo);
    EXPECT_EQ(prompter.prompts()[0].icon, config::Icon::Question);
    EXPECT_EQ(ldn.ListItems, Strings{"Back"});
    prompter.clear();
    ldn.EntryText = " Front ";
    ldn.on_add();
    EXPECT_EQ(prompt_texts(),
              Strings{"The Logical Device Name  'Front'  already      \nexists.  Please use a different name."});
    EXPECT_EQ(ldn.EntryText, "");

    // New names, trimmed; the same one twice, or a value name of another
    // device or of no device in other case, is refused.
    prompter.clear();
    for (const std::string name : {" Till 1 ", "Till 1", "OTHER", "note"}) {
        ldn.EntryText = name;
        ldn.on_add();
    }
    EXPECT_EQ(ldn.ListItems, (Strings{"Back", "Till 1"}));
    EXPECT_EQ(prompter.prompts().size(), 3u);

    // No to the question keeps the name.
    prompter.clear();
    prompter.script({config::Answer::No});
    ldn.Selected = "Back";
    ldn.on_remove();
    EXPECT_EQ(ldn.ListItems, (Strings{"Back", "Till 1"}));
    // Nothing selected: nothing asked.
    ldn.Selected = "";
    ldn.on_remove();
    EXPECT_EQ(prompter.prompts().size(), 1u);

    // Cancel writes nothing.
    EXPECT_EQ(ldn.on_cancel(), kResultCancel);
    EXPECT_EQ(class_values(), (Strings{"Front=CD615", "Back=CD615", "Other=CD926", "Note=something else"}));

    // Finish replaces the device's names; the others stay.
    ldn.open("CD615");
    ldn.EntryText = "Till";
    ldn.on_add();
    ldn.Selected = "Front";
    prompter.script({config::Answer::Yes});
    ldn.on_remove();
    EXPECT_EQ(ldn.on_finish(), kResultOk);
    EXPECT_EQ(class_values(), (Strings{"Back=CD615", "Other=CD926", "Note=something else", "Till=CD615"}));

    // Removing all and Finish leaves the device without names.
    ldn.open("CD615");
    for (const std::string name : {"Back", "Till"}) {
        ldn.Selected = name;
        prompter.script({config::Answer::Yes});
        ldn.on_remove();
    }
    EXPECT_TRUE(ldn.ListItems.empty());
    ldn.on_finish();
    EXPECT_EQ(class_values(), (Strings{"Other=CD926", "Note=something else"}));
}

TEST_F(DialogsTest, LdnDialogWithoutClassKeyShowsTheErrorAndWritesNothing) {
    LdnDialogPresenter ldn(store, prompter);
    ldn.open("CD926");
    EXPECT_EQ(prompt_texts(), Strings{"ERROR: Open-1"});
    EXPECT_EQ(prompter.prompts()[0].caption, "Registry Operation Error");
    EXPECT_TRUE(ldn.ListItems.empty());
    ldn.EntryText = "Till";
    ldn.on_add();
    EXPECT_EQ(ldn.on_finish(), kResultOk);
    EXPECT_TRUE(class_values().empty());
}

// The same pages over a registry that refuses writes when told to, and with
// the configuration lock another program may hold.
class FailingSavesTest : public StoreFixture<fakes::FaultyRegistry> {
protected:
    FailingSavesTest() { store_with_lock.clear_failure(); }
    fakes::FakeLockMachine machine;
    fakes::FakeConfigLock lock{machine};
    fakes::FakeConfigLock other_program{machine};
    config::DeviceStore store_with_lock{reg, prompter, &lock};
    FakeUsbLibrary usb;
    Strings checks;
    DeviceSettingsPresenter add{SettingsMode::Add, store_with_lock, prompter, &usb,
                                [this](const std::string& k) { checks.push_back(k); }};
    DeviceSettingsPresenter modify{SettingsMode::Modify, store_with_lock, prompter, nullptr,
                                   [this](const std::string& k) { checks.push_back(k); }};
    // The message for a write of the value that the registry refused.
    static std::string refused(const std::string& value) {
        return "The settings of the cash drawer device 'CD926' could not be saved.\n\nRegSetValueExA \"" + value +
               "\" failed: Windows error 5";
    }
};

// A refused write is named with the device and the system's words for it,
// and the page stays open with what the user entered.
TEST_F(FailingSavesTest, EverySaveChecksItsWritesAndKeepsThePageOpen) {
    set_target_path("C:\\drv");
    add.set_target("CD926");
    ASSERT_EQ(add.open(), kStayOpen);
    add.BaudRate = "19200";
    reg.fail_set = true;
    EXPECT_EQ(add.on_finish(), kStayOpen) << "Finish of the wizard";
    EXPECT_EQ(last_prompt(), refused("TimeOut"));
    ASSERT_FALSE(prompter.prompts().empty());
    EXPECT_EQ(prompter.prompts().back().icon, config::Icon::Error);
    EXPECT_EQ(add.BaudRate, "19200");
    add.on_health_check();
    EXPECT_EQ(last_prompt(), refused("TimeOut")) << "the Health Check button's save";
    EXPECT_TRUE(checks.empty()) << "no check of settings that were not saved";
    reg.fail_set = false;
    EXPECT_EQ(add.on_finish(), kResultOk);
    EXPECT_NE(entry("CD926").find("|BaudRate=6|"), std::string::npos);

    prompter.clear();
    modify.set_target("CD926");
    ASSERT_EQ(modify.open(), kStayOpen);
    modify.StopBits = "2";
    reg.fail_nth_write = 3;  // one write in the middle
    EXPECT_EQ(modify.on_finish(), kStayOpen) << "Finish of the modify page";
    EXPECT_EQ(prompt_texts(), Strings{refused("StopBits")});
    EXPECT_EQ(modify.on_finish(), kResultOk) << "the next try goes through";
    EXPECT_NE(entry("CD926").find("|StopBits=2|"), std::string::npos);

    // The entry was removed meanwhile (zrncd config remove): the page says
    // so instead of closing as saved, and writes nothing back.
    prompter.clear();
    ASSERT_EQ(modify.open(), kStayOpen);
    ASSERT_EQ(store.delete_device_key("CD926"), config::DeviceStore::kClassKeyOpened);
    EXPECT_EQ(modify.on_finish(), kResultCancel);
    EXPECT_EQ(prompt_texts(), Strings{"The cash drawer device 'CD926' does not exist any more: another program "
                                      "removed it while this page was open.\n\nNothing was saved."});
    EXPECT_TRUE(device_keys().empty());
    prompter.clear();
    EXPECT_EQ(modify.open(), kResultCancel) << "and a modify page for it does not open";
    EXPECT_EQ(prompter.prompts().size(), 1u);
}

// Finish adds the new names before it removes the dropped ones; a name it
// cannot add is named, the ones it added go again and the old set stays.
TEST_F(FailingSavesTest, LogicalNamesAreNeverLost) {
    put_class_value("Front", "CD926");
    put_class_value("Back", "CD926");
    LdnDialogPresenter ldn(store_with_lock, prompter);
    ldn.open("CD926");
    for (const std::string name : {"Till1", "Till2"}) {
        ldn.EntryText = name;
        ldn.on_add();
    }
    ldn.Selected = "Front";
    prompter.script({config::Answer::Yes});
    ldn.on_remove();
    const Strings before = class_values();

    reg.fail_nth_write = 1;  // Till1 goes in, Till2 is refused
    EXPECT_EQ(ldn.on_finish(), kStayOpen);
    EXPECT_EQ(last_prompt(), "The logical device name 'Till2' could not be added for 'CD926'.\n\nRegSetValueExA \"Till2\" "
                             "failed: Windows error 5\n\nThe logical device names of 'CD926' were left as they were.");
    EXPECT_EQ(class_values(), before);
    EXPECT_EQ(ldn.ListItems, (Strings{"Back", "Till1", "Till2"})) << "the dialog keeps what was entered";

    // Taken meanwhile by another program: the same.
    put_class_value("Till2", "CD347");
    EXPECT_EQ(ldn.on_finish(), kStayOpen);
    EXPECT_EQ(last_prompt(), "The Logical Device Name  'Till2'  already      \nexists.  Please use a different "
                                     "name.\n\nThe logical device names of 'CD926' were left as they were.");
    EXPECT_EQ(class_values(), (Strings{"Front=CD926", "Back=CD926", "Till2=CD347"}));

    // Added, but a dropped name cannot be removed: said, and kept.
    ASSERT_EQ(store.remove_logical_name("CD347", "Till2"), config::DeviceStore::kNameRemoved);
    reg.fail_delete_value = true;
    EXPECT_EQ(ldn.on_finish(), kStayOpen);
    EXPECT_EQ(last_prompt(),
              "The logical device names Front could not be removed from 'CD926'.\n\nRegDeleteValueA \"Front\" failed: "
              "Windows error 5");
    EXPECT_EQ(class_values(), (Strings{"Front=CD926", "Back=CD926", "Till1=CD926", "Till2=CD926"}));
    reg.fail_delete_value = false;
    EXPECT_EQ(ldn.on_finish(), kResultOk);
    EXPECT_EQ(class_values(), (Strings{"Back=CD926", "Till1=CD926", "Till2=CD926"}));
}

// While another program changes the configuration, a page changes nothing
// and says who is at it; the lock is held for the writes only.
TEST_F(FailingSavesTest, PagesWaitForTheConfigurationLockAndNameItsHolder) {
    set_target_path("C:\\drv");
    std::string holder;
    ASSERT_EQ(other_program.acquire(0, "zrncd config import", &holder), platform::ConfigLock::Status::Acquired);
    const std::string busy = "The cash drawer configuration is being changed by " + other_program.state().holder +
                             ".\n\nNothing was changed. Try again when it has finished.";
    add.set_target("CD926");
    EXPECT_EQ(add.open(), kResultCancel) << "no new key is chosen meanwhile";
    EXPECT_EQ(prompt_texts(), Strings{busy});
    EXPECT_TRUE(device_keys().empty());
    EXPECT_EQ(machine.state->waits.back(), config::kWindowLockWaitMs);

    other_program.release();
    ASSERT_EQ(add.open(), kStayOpen);
    EXPECT_FALSE(lock.held()) << "not held while the page is open";
    ASSERT_EQ(other_program.acquire(0, "zrncd config import", &holder), platform::ConfigLock::Status::Acquired);
    prompter.clear();
    add.Port = "COM3";
    EXPECT_EQ(add.on_finish(), kStayOpen);
    EXPECT_EQ(prompt_texts(), Strings{busy});
    EXPECT_NE(entry("CD926").find("|Port=1|"), std::string::npos);

    LdnDialogPresenter ldn(store_with_lock, prompter);
    ldn.open("CD926");
    ldn.EntryText = "Till";
    ldn.on_add();
    EXPECT_EQ(ldn.on_finish(), kStayOpen);
    EXPECT_TRUE(class_values().empty());

    other_program.release();
    EXPECT_EQ(add.on_finish(), kResultOk);
    EXPECT_NE(entry("CD926").find("|Port=3|"), std::string::npos);
    EXPECT_EQ(ldn.on_finish(), kResultOk);
    EXPECT_EQ(class_values(), Strings{"Till=CD926"});
    EXPECT_FALSE(lock.held());
}

// ---------------------------------------------------------------- health check

class FakeControl final : public ControlObject {
public:
    std::int32_t Open(const std::string& name) override {
        calls.push_back("Open " + name);
        return open_result;
    }
    std::int32_t ClaimDevice(std::int32_t timeout) override {
        calls.push_back("ClaimDevice " + std::to_string(timeout));
        return claim_result;
    }
    std::int32_t Close() override {
        calls.push_back("Close");
        return 0;
    }
    bool GetDeviceEnabled() override { return enabled; }
    void SetDeviceEnabled(bool on) override {
        calls.push_back(on ? "Enable" : "Disable");
        enabled = on && enable_works;
    }
    std::int32_t GetResultCode() override { return result_code; }
    bool GetCapStatus() override { return cap_status; }
    bool GetDrawerOpened() override { return opened; }
    std::int32_t OpenDrawer() override {
        calls.push_back("OpenDrawer");
        return 0;
    }
    std::int32_t open_result = 0, claim_result = 0, result_code = 0;
    bool enabled = false, enable_works = true, cap_status = true, opened = true;
    Strings calls;
};

TEST_F(DialogsTest, HealthCheckSequence) {
    FakeControl co;
    // Two drawer openings on a serial device with status: the reminder
    // first, then a report after each opening.
    prompter.script({config::Answer::Ok, config::Answer::Ok, config::Answer::Ok, config::Answer::Ok, config::Answer::Ok, config::Answer::Cancel});
    co.result_code = 111;
    run_health_check("CD926-2", &co, prompter, clock);
    EXPECT_EQ(co.calls, (Strings{"Open CD926-2", "ClaimDevice 2000", "Enable", "OpenDrawer", "OpenDrawer", "Close"}));
    const std::string ok = "DrawerOpened = 0x00000001, Result Code = 0x00000111        \nCash Drawer open successful";
    const std::string prompt = "Press OK to open cash drawer, CANCEL to quit  ";
    EXPECT_EQ(prompt_texts(), (Strings{"Before proceeding, enable Drawer Status on the cash drawer.   \n"
                                       "[Refer to Cash Drawer Product Guide for more information].",
                                       prompt, ok, prompt, ok, prompt}));
    const auto& p = prompter.prompts();
    EXPECT_EQ(p[0].caption, "CD926-2 Cash Drawer Status: Device Enabling Required");
    EXPECT_EQ(p[0].icon, config::Icon::Warning);
    EXPECT_EQ(p[1].caption, "CD926-2 OPOS CheckHealth (Interactive)");
    EXPECT_EQ(p[1].buttons, config::Buttons::OkCancel);
    EXPECT_EQ(p[1].icon, config::Icon::None);
    EXPECT_EQ(p[2].icon, config::Icon::Information);
    EXPECT_EQ(clock.sleeps(), std::vector<std::uint32_t>{200});

    // Drawer not seen open; a parallel device gets no reminder; Cancel at the
    // first prompt opens nothing and still closes.
    prompter.clear();
    co = FakeControl{};
    co.opened = false;
    prompter.script({config::Answer::Ok, config::Answer::Ok, config::Answer::Cancel});
    run_health_check("CD615", &co, prompter, clock);
    EXPECT_EQ(prompt_texts(), (Strings{prompt,
                                       "DrawerOpened = 0x00000000, Result Code = 0x00000000        \n"
                                       "Cash Drawer open failed",
                                       prompt}));
    prompter.clear();
    co = FakeControl{};
    prompter.script({config::Answer::Cancel});
    run_health_check("CD730", &co, prompter, clock);
    EXPECT_EQ(co.calls, (Strings{"Open CD730", "ClaimDevice 2000", "Enable", "Close"}));
    EXPECT_EQ(prompt_texts(), Strings{prompt});

    // No drawer status: the notice, then openings without reports.
    prompter.clear();
    co = FakeControl{};
    co.cap_status = false;
    co.result_code = 0;
    prompter.script({config::Answer::Ok, config::Answer::Ok, config::Answer::Cancel});
    run_health_check("CD615", &co, prompter, clock);
    EXPECT_EQ(prompt_texts(), (Strings{"This Cash Drawer device 'CD615' does not support drawer status.    \n\n"
                                       "CapStatus = 0x00000000, Result Code = 0x00000000   ",
                                       prompt, prompt}));
    EXPECT_EQ(prompter.prompts()[0].icon, config::Icon::Information);
    EXPECT_EQ(co.calls, (Strings{"Open CD615", "ClaimDevice 2000", "Enable", "OpenDrawer", "Close"}));
}

TEST_F(DialogsTest, HealthCheckFailuresShowOneStopMessageAndClose) {
    FakeControl co;
    co.open_result = 109;
    co.result_code = 109;
    run_health_check("CD926", &co, prompter, clock);
    EXPECT_EQ(prompt_texts(),
              Strings{"OPOS CheckHealth Interactive Error.\n\nOpen = 0x00000109,  Result Code = 0x00000109   "});
    EXPECT_EQ(prompter.prompts()[0].icon, config::Icon::Error);
    EXPECT_EQ(prompter.prompts()[0].caption, "CD926 OPOS CheckHealth (Interactive)");
    EXPECT_EQ(co.calls, (Strings{"Open CD926", "Close"}));

    // Claimed by another application.
    prompter.clear();
    co = FakeControl{};
    co.claim_result = 102;
    co.result_code = 102;
    run_health_check("CD926", &co, prompter, clock);
    EXPECT_EQ(prompt_texts(), Strings{"OPOS CheckHealth Interactive Error.\n\nClaimDevice(2000) = 0x00000102,  "
                                      "Result Code = 0x00000102   "});
    EXPECT_EQ(co.calls, (Strings{"Open CD926", "ClaimDevice 2000", "Close"}));

    // Enabling refused.
    prompter.clear();
    co = FakeControl{};
    co.enable_works = false;
    co.result_code = 111;
    run_health_check("CD926", &co, prompter, clock);
    EXPECT_EQ(prompt_texts(),
              Strings{"OPOS CheckHealth Interactive Error.\n\nDeviceEnable = FALSE, Result Code = 0x00000111   "});
    EXPECT_EQ(co.calls, (Strings{"Open CD926", "ClaimDevice 2000", "Enable", "Close"}));
    EXPECT_TRUE(clock.sleeps().empty());

    // No Control Object: the user is told.
    prompter.clear();
    run_health_check("CD926", nullptr, prompter, clock);
    ASSERT_EQ(prompter.prompts().size(), 1u);
    EXPECT_NE(prompter.prompts()[0].text.find("Control Object is not installed"), std::string::npos);
    EXPECT_EQ(prompter.prompts()[0].icon, config::Icon::Error);
}

// ---------------------------------------------------------------- information page

TEST_F(DialogsTest, InformationPageFields) {
    PropertyFields f = read_property_fields(store);
    EXPECT_EQ(f.co_description, "");
    EXPECT_EQ(f.co_version, "");
    EXPECT_EQ(f.co_device_class, "");
    EXPECT_EQ(f.so_description, "ZRN OPOS CashDrawer Service Object (serial, parallel, USB)");
    EXPECT_EQ(f.so_version, "3.38.1 [SD]");
    EXPECT_EQ(f.so_release, "UPOS Standard Release 1.7 (OPOS)");
    EXPECT_EQ(f.trace, "off (TraceEnabled not set)");
    EXPECT_EQ(f.trace_kept, "every daily file is kept (TraceKeepDays not set)");

    put_values(reg, std::string(kServiceSettingsKey), {{"TraceEnabled", 2}, {"TraceKeepDays", 1}});
    ASSERT_FALSE(HasFatalFailure());
    f = read_property_fields(store);
    EXPECT_EQ(f.trace, "errors only (TraceEnabled 2)");
    EXPECT_EQ(f.trace_kept, "files older than 1 day are deleted (TraceKeepDays 1)");

    put_values(reg, std::string(kControlObjectInfoKey), {{"", "OPOS Control Objects"}, {"Version", 1014}});
    ASSERT_FALSE(HasFatalFailure());
    f = read_property_fields(store);
    EXPECT_EQ(f.co_description, "OPOS Control Objects");
    EXPECT_EQ(f.co_version, "1014");
    EXPECT_EQ(f.co_device_class, "CashDrawer");
}

}  // namespace
}  // namespace zrn::utility
