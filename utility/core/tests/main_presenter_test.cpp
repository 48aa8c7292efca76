#include "zrn/utility/main_presenter.h"

#include <gtest/gtest.h>

#include <variant>

#include "store_fixture.h"
#include "usb_file.h"
#include "zrn/fakes/fake_config_lock.h"
#include "zrn/config/rules.h"
#include "zrn/fakes/fake_files.h"

namespace zrn::utility {
namespace {

using namespace config::testing;
using Rows = std::vector<ListRow>;

class PresenterTest : public StoreFixture<fakes::FakeRegistry> {
protected:
    void TearDown() override {
        StoreFixture::TearDown();
        EXPECT_EQ(files.open_handles(), 0) << "the USB file was left open";
    }

    void usb_file(const std::string& content) {
        common_files_folder(files);
        ASSERT_TRUE(files.create_directory(kUsbFolder));
        files.put(kUsbFile, content);
    }
    // The tree items' texts, root first.
    static Strings tree_of(const LeftViewPresenter& p) {
        Strings texts;
        for (const TreeItem& i : p.items()) texts.push_back(i.text);
        return texts;
    }
    Strings tree() const { return tree_of(presenter); }
    ItemId item(const std::string& text) const {
        for (const TreeItem& i : presenter.items())
            if (i.text == text) return i.id;
        ADD_FAILURE() << "no item " << text;
        return kNoItem;
    }
    void select(const std::string& text) { presenter.on_selection_changed(item(text)); }
    bool device_flags(bool on) const {
        return presenter.EnableAddDevice && presenter.EnableLdn == on && presenter.EnableRemoveDevice == on &&
               presenter.EnableModifySettings == on && presenter.EnableCheckHealth == on;
    }

    // Defaults of a serial II entry: COM1, 9600,8,1,None,None, CTS, "7".
    void add_cd926(const std::string& key) {
        add_device(key, {{"DeviceDesc", std::string(kDeviceTypes[0].default_desc)},
                         {"DeviceID", 0},
                         {"Port", 1},
                         {"BaudRate", 5},
                         {"DataBitLen", 8},
                         {"StopBits", 1},
                         {"Parity", 0},
                         {"HandShaking", 0},
                         {"Status", 0},
                         {"FirstOC", std::string("7")}});
    }

    fakes::FakeFiles files;
    config::UsbConfig usb{files};
    LeftViewPresenter presenter{store, usb, prompter};
};

TEST_F(PresenterTest, TreeShowsTheRootAndDevicesOfKnownTypes) {
    presenter.fill_tree();
    EXPECT_EQ(tree(), Strings{"CashDrawer"}) << "no device class key: the root alone";

    for (const char* key : {"CD926", "Other", "CD347-2", "CD730", "CDX99", "CD615"}) add_device(key, {});
    LeftViewPresenter fresh{store, usb, prompter};
    fresh.fill_tree();
    EXPECT_EQ(fresh.DeviceKeys, (Strings{"CD347-2", "CD615", "CD730", "CD926", "CDX99", "Other"}));
    EXPECT_EQ(tree_of(fresh), (Strings{"CashDrawer", "CD347-2", "CD615", "CD730", "CD926"}));
    EXPECT_EQ(fresh.items().front().id, fresh.RootItem);

    // At start only Add Device, Property, Exit and About are enabled.
    for (int id : {kIdAddDevice, kIdProperty, kIdAppExit, kIdAppAbout}) EXPECT_TRUE(fresh.is_enabled(id)) << id;
    for (int id : {kIdAddLdn, kIdRemoveDevice, kIdModifySettings, kIdCheckHealth})
        EXPECT_FALSE(fresh.is_enabled(id)) << id;
    EXPECT_EQ(fresh.list.mode, ListMode::Icon);
    EXPECT_EQ(fresh.status.text, kIdleStatusText);
    EXPECT_TRUE(prompter.prompts().empty());
}

TEST_F(PresenterTest, RowsOfEachTypeWithTheirTexts) {
    add_cd926("CD926");
    add_device("CD347-2", {{"DeviceDesc", std::string("Smart drawer")},
                           {"Port", 4},
                           {"BaudRate", 6},
                           {"DataBitLen", 7},
                           {"StopBits", 2},
                           {"Parity", 2},
                           {"HandShaking", 1},
                           {"Status", 2},
                           {"FirstOC", std::string("91")},
                           {"SecondOC", std::string("27")},
                           {"DrawerNo", 2}});
    add_device("CD615", {{"DeviceDesc", std::string("Parallel drawer")},
                         {"Port", 2},
                         {"Status", 3},
                         {"FirstOC", std::string("91")},
                         {"SecondOC", std::string("")},
                         {"DrawerNo", 1}});
    add_device("CD730", {{"DeviceDesc", std::string("USB drawer")}, {"Port", 0}});
    put_class_value("Till", "CD926");
    put_class_value("drawer2", "CD615");
    put_class_value("Front", "CD926");
    put_class_value("Wide", "CD926-2");  // another device: names compare whole
    put_class_value("Drawer1", "CD615");
    put_class_value("Drawer1 ", "CD615");
    put_class_value(" Alpha", "CD615");
    put_class_value("CashDrawer", "CD730");
    put_class_value("CD", "CD730");
    presenter.fill_tree();

    select("CD926");
    EXPECT_EQ(presenter.list.rows, (Rows{{"Device Name", std::string(kDeviceTypes[0].default_desc)},
                                         {"Port", "COM1"},
                                         {"Serial Settings", "9600,8,1,None,None"},
                                         {"Status Indicator", "CTS"},
                                         {"ASCII Open Drawer Character", "7"},
                                         {"LDN", "Front"},
                                         {"LDN", "Till"}}));
    EXPECT_EQ(presenter.DeviceLdns, (Strings{"Till", "Front"}));
    EXPECT_EQ(presenter.list.mode, ListMode::Report);
    EXPECT_EQ(presenter.list.columns, (std::vector<ListColumn>{{"Description", 195}, {"Value", 265}}));
    EXPECT_EQ(presenter.status.text, "CD926");
    EXPECT_EQ(presenter.status.width, 400);
    EXPECT_EQ(presenter.SelectedText, "CD926");
    EXPECT_TRUE(device_flags(true));

    select("CD347-2");
    EXPECT_EQ(presenter.list.rows, (Rows{{"Device Name", "Smart drawer"},
                                         {"Port", "COM4"},
                                         {"Serial Settings", "19200,7,2,Even,CTS/RTS"},
                                         {"Status Indicator", "CTS/RI"},
                                         {"ASCII Open Character1", "91"},
                                         {"ASCII Open Drawer Character2", "27"},
                                         {"Drawer Number", "2"}}));

    // Sorted on the names without their blanks, byte-wise (upper case first);
    // "Drawer1 " is Drawer1 again and dropped; " Alpha" keeps its blank.
    select("CD615");
    EXPECT_EQ(presenter.list.rows, (Rows{{"Device Name", "Parallel drawer"},
                                         {"Port", "LPT2"},
                                         {"ASCII Open Drawer Character1", "91"},
                                         {"ASCII Open Drawer Character2", ""},
                                         {"Drawer Number", "1"},
                                         {"LDN", " Alpha"},
                                         {"LDN", "Drawer1"},
                                         {"LDN", "drawer2"}}));
    EXPECT_EQ(presenter.RowStatusIndicator, kMissingValueText) << "a parallel entry's Status is not shown";

    select("CD730");
    EXPECT_EQ(presenter.list.rows,
              (Rows{{"Device Name", "USB drawer"}, {"Port", "USB0"}, {"LDN", "CD"}, {"LDN", "CashDrawer"}}));
    EXPECT_EQ(presenter.status.text, "CD730");
    EXPECT_TRUE(prompter.prompts().empty());
}

TEST_F(PresenterTest, MissingValuesShowAsMissingAndUnknownNumbersAsStored) {
    add_device("CD347", {{"DeviceDesc", std::string("Smart drawer")},
                         {"Port", 2},
                         {"BaudRate", 1},
                         {"DataBitLen", 8},
                         {"StopBits", 1},
                         {"Parity", 1},
                         {"HandShaking", 2},
                         {"Status", 1},
                         {"FirstOC", std::string("91")},
                         {"SecondOC", std::string("91")},
                         {"DrawerNo", 1}});
    // No FirstOC, no StopBits; numbers no table holds; a binary description.
    add_device("CD926", {{"DeviceDesc", RegData{3, {0x41, 0x42}}},
                         {"Port", 5},
                         {"BaudRate", 9},
                         {"DataBitLen", 8},
                         {"Parity", 0},
                         {"HandShaking", 0},
                         {"Status", 7}});
    add_device("CD926-2", {{"Port", -1},
                           {"BaudRate", 9},
                           {"DataBitLen", std::string("8 bits")},
                           {"StopBits", 2},
                           {"Parity", 5},
                           {"HandShaking", 2},
                           {"Status", 3}});
    add_device("CD615", {{"Port", 3}});
    // A drawer on COM3, and one whose Port a script deleted.
    add_cd926("CD926-3");
    put_values(reg, device_key_path("CD926-3"), {{"Port", 3}});
    add_device("CD347-2", {{"DeviceDesc", std::string("No port")}, {"BaudRate", 5}, {"DataBitLen", 8},
                           {"StopBits", 1}, {"Parity", 0}, {"HandShaking", 0}, {"Status", 0}});
    presenter.fill_tree();
    const std::string missing(kMissingValueText);

    select("CD347");
    EXPECT_EQ(presenter.RowSerialSettings, "600,8,1,Odd,XOn/XOff");
    EXPECT_EQ(presenter.RowStatusIndicator, "RI");

    // Nothing of the device shown before stands in for what this one lacks.
    select("CD926");
    EXPECT_EQ(presenter.list.rows, (Rows{{"Device Name", "?"},
                                         {"Port", "5"},
                                         {"Serial Settings", "9,8," + missing + ",None,None"},
                                         {"Status Indicator", "7"},
                                         {"ASCII Open Drawer Character", missing}}));

    select("CD926-2");
    EXPECT_EQ(presenter.RowPort, "-1");
    EXPECT_EQ(presenter.RowSerialSettings, "9,8,2,5,XOn/XOff");
    EXPECT_EQ(presenter.RowStatusIndicator, "No Line");
    EXPECT_EQ(presenter.RowDeviceName, missing);

    select("CD615");
    EXPECT_EQ(presenter.RowPort, "3");
    EXPECT_EQ(presenter.RowOpenChar2, missing);
    EXPECT_EQ(presenter.RowDrawerNumber, missing);

    select("CD926-3");
    EXPECT_EQ(presenter.RowPort, "COM3");
    select("CD347-2");
    EXPECT_EQ(presenter.list.rows[1], (ListRow{"Port", missing})) << "not the COM3 of the drawer before";
    EXPECT_EQ(presenter.list.rows[2], (ListRow{"Serial Settings", "9600,8,1,None,None"}));

    // An entry deleted behind the utility's back shows nothing of another.
    ASSERT_EQ(store.delete_device_key("CD347"), config::DeviceStore::kClassKeyOpened);
    select("CD347");
    ASSERT_EQ(presenter.list.rows.size(), 7u);
    for (const ListRow& row : presenter.list.rows) EXPECT_EQ(row.value, missing) << row.label;
}

TEST_F(PresenterTest, RootSelectionEmptiesTheListAndDisablesDeviceCommands) {
    add_cd926("CD926");
    presenter.fill_tree();
    select("CD926");
    ASSERT_FALSE(presenter.list.rows.empty());

    select("CashDrawer");
    EXPECT_EQ(presenter.SelectedText, "CashDrawer");
    EXPECT_TRUE(presenter.list.rows.empty());
    EXPECT_TRUE(presenter.list.columns.empty());
    EXPECT_EQ(presenter.list.mode, ListMode::List);
    EXPECT_EQ(presenter.status.text, "Cash Drawer device");
    EXPECT_EQ(presenter.status.width, 300);
    EXPECT_TRUE(device_flags(false));
    EXPECT_TRUE(presenter.is_enabled(kIdProperty));
    EXPECT_EQ(presenter.on_command(kIdRemoveDevice), Run::Nothing);
    EXPECT_EQ(presenter.on_command(kIdAddLdn), Run::Nothing);
    EXPECT_EQ(presenter.on_command(kIdProperty), Run::PropertyPage);
    EXPECT_TRUE(prompter.prompts().empty());
    EXPECT_EQ(device_keys(), Strings{"CD926"});
}

TEST_F(PresenterTest, ContextMenuFollowsTheItemAtThePoint) {
    add_cd926("CD926");
    add_cd926("CD926-2");
    presenter.fill_tree();
    const ItemId second = item("CD926-2");
    std::vector<Point> asked;
    const Point device_at{40, 60};
    const auto hit = [&](Point p) {
        asked.push_back(p);
        return p == device_at ? second : kNoItem;
    };

    // Nothing at the caret yet: the root's menu, never the device one.
    EXPECT_EQ(presenter.on_context_menu({5, 5}, {0, 0}, hit).resource, kIdrLevel0);

    // The keyboard on a device item: the menu opens at the cursor.
    select("CD926");
    const PopupMenu keys = presenter.on_context_menu({-1, -1}, {300, 200}, hit);
    EXPECT_EQ(keys.resource, kIdrLevel1);
    EXPECT_EQ(keys.at, (Point{300, 200}));
    EXPECT_EQ(asked.back(), (Point{300, 200})) << "the hit test looks at the cursor";
    EXPECT_EQ(presenter.SelectedText, "CD926");

    // A right click on another device makes it the caret and shows its rows.
    select("CashDrawer");
    presenter.on_right_click();
    EXPECT_EQ(presenter.SelectedText, "CashDrawer");
    const PopupMenu click = presenter.on_context_menu(device_at, {1, 1}, hit);
    EXPECT_EQ(click.resource, kIdrLevel1);
    EXPECT_EQ(click.at, device_at);
    EXPECT_EQ(presenter.caret(), second);
    EXPECT_EQ(presenter.SelectedText, "CD926-2");
    EXPECT_EQ(presenter.status.text, "CD926-2");
    EXPECT_TRUE(device_flags(true));

    select("CashDrawer");
    const PopupMenu root = presenter.on_context_menu({-1, -1}, {7, 8}, hit);
    EXPECT_EQ(root.resource, kIdrLevel0);
    EXPECT_EQ(root.at, (Point{7, 8}));
}

TEST_F(PresenterTest, RemovalAsksThenDeletesTheKeyAndAllOfItsNames) {
    add_device("CD615", {{"Port", 1}});
    add_cd926("CD926");
    put_class_value("Left", "CD615");
    put_class_value("Drawer", "CD926");
    put_class_value("Right", "CD615");
    put_class_value("Back", "CD615");
    presenter.fill_tree();
    select("CD615");
    const Rows rows = presenter.list.rows;
    const Strings values = class_values();

    prompter.script({config::Answer::No, config::Answer::Yes});
    EXPECT_EQ(presenter.on_command(kIdRemoveDevice), Run::Nothing);
    ASSERT_EQ(prompter.prompts().size(), 1u);
    EXPECT_EQ(prompter.prompts()[0].text, "Are you sure you want to remove the\nCD615 cash drawer device?");
    EXPECT_EQ(prompter.prompts()[0].caption, "QVTUtility");
    EXPECT_EQ(prompter.prompts()[0].buttons, config::Buttons::YesNo);
    EXPECT_EQ(device_keys(), (Strings{"CD615", "CD926"})) << "No changes nothing";
    EXPECT_EQ(class_values(), values);
    EXPECT_EQ(tree(), (Strings{"CashDrawer", "CD615", "CD926"}));
    EXPECT_EQ(presenter.list.rows, rows);

    // No name is left standing for a key that is gone: it would block its
    // own reuse and stand for the next device given the key's name.
    presenter.on_command(kIdRemoveDevice);
    EXPECT_EQ(prompter.prompts().size(), 2u);
    EXPECT_EQ(device_keys(), Strings{"CD926"});
    EXPECT_EQ(class_values(), (Strings{"Drawer=CD926"}));
    EXPECT_FALSE(files.exists(kUsbFile)) << "only a USB device has a slot";
    EXPECT_EQ(tree(), (Strings{"CashDrawer", "CD926"}));
    // The list moves on to a device that exists.
    EXPECT_EQ(presenter.SelectedText, "CD926");
    EXPECT_EQ(presenter.list.rows.back(), (ListRow{"LDN", "Drawer"}));
    EXPECT_TRUE(device_flags(true));
}

TEST_F(PresenterTest, UsbRemovalReleasesTheSlotOnlyOnceTheKeyIsGone) {
    add_device("CD730", {{"Port", 0}});
    for (const char* name : {"CashDrawer", "CD", "Drawer"}) put_class_value(name, "CD730");
    // A key with a sub-key cannot be deleted.
    add_device("CD730\\Locked", {});
    const std::string two = kUsbRoot + usb_element("USB0", "5") + usb_element("USB3", "12") + kUsbEnd;
    usb_file(two);
    presenter.fill_tree();
    select("CD730");

    prompter.script({config::Answer::Yes, config::Answer::Ok, config::Answer::Yes});
    presenter.on_command(kIdRemoveDevice);
    ASSERT_EQ(prompter.prompts().size(), 2u);
    EXPECT_EQ(prompter.prompts()[1].text,
              "The CD730 cash drawer device could not be removed.\n\nRegDeleteKeyExA \"CD730\" failed: Windows error 5");
    EXPECT_EQ(prompter.prompts()[1].icon, config::Icon::Error);
    EXPECT_EQ(device_keys(), Strings{"CD730"});
    EXPECT_EQ(class_values().size(), 3u);
    EXPECT_EQ(files.content(kUsbFile), two);
    EXPECT_EQ(tree(), (Strings{"CashDrawer", "CD730"}));
    EXPECT_TRUE(device_flags(true));

    {
        platform::ScopedKey k(reg);
        ASSERT_EQ(store.open_device_key("CD730", k.out()), config::DeviceStore::kOpened);
        ASSERT_EQ(reg.delete_key(k.get(), "Locked"), kRegOk);
    }
    presenter.on_command(kIdRemoveDevice);
    EXPECT_TRUE(device_keys().empty());
    EXPECT_TRUE(class_values().empty());
    EXPECT_EQ(files.content(kUsbFile), kUsbRoot + usb_element("USB3", "12") + kUsbEnd);
    // The last device gone: the root is selected, only Add Device and
    // Property remain.
    EXPECT_EQ(tree(), Strings{"CashDrawer"});
    EXPECT_EQ(presenter.SelectedText, "CashDrawer");
    EXPECT_TRUE(device_flags(false));
    EXPECT_TRUE(presenter.list.rows.empty());
    EXPECT_TRUE(presenter.is_enabled(kIdProperty));
    EXPECT_EQ(presenter.on_command(kIdRemoveDevice), Run::Nothing);
    EXPECT_EQ(prompter.prompts().size(), 3u) << "nothing left to remove";
}

TEST_F(PresenterTest, AddedDeviceIsInsertedSelectedAndShown) {
    add_cd926("CD926");
    presenter.fill_tree();
    select("CashDrawer");

    EXPECT_EQ(presenter.on_command(kIdAddDevice), Run::AddDeviceWizard);
    presenter.on_dialog_closed(Run::AddDeviceWizard, false);
    EXPECT_EQ(tree(), (Strings{"CashDrawer", "CD926"})) << "a cancelled wizard adds nothing";

    add_device("CD347", {{"Port", 3}, {"DrawerNo", 2}});
    put_class_value("Side", "CD347");
    presenter.DialogDeviceKey = "CD347";
    presenter.on_dialog_closed(Run::AddDeviceWizard, true);
    EXPECT_EQ(tree(), (Strings{"CashDrawer", "CD926", "CD347"})) << "at the end, not in name order";
    EXPECT_EQ(presenter.LastInsertedItem, item("CD347"));
    EXPECT_EQ(presenter.caret(), item("CD347"));
    EXPECT_EQ(presenter.status.text, "CD347");
    EXPECT_EQ(presenter.RowPort, "COM3");
    EXPECT_EQ(presenter.list.rows.back(), (ListRow{"LDN", "Side"}));
    EXPECT_TRUE(device_flags(true));

    // A key the tree already shows is selected, not shown twice.
    presenter.DialogDeviceKey = "CD926";
    presenter.on_dialog_closed(Run::AddDeviceWizard, true);
    EXPECT_EQ(tree(), (Strings{"CashDrawer", "CD926", "CD347"}));
    EXPECT_EQ(presenter.SelectedText, "CD926");
}

TEST_F(PresenterTest, DeviceCommandsHandTheSelectedKeyToTheirDialogs) {
    add_cd926("CD926");
    add_cd926("CD926-2");
    presenter.fill_tree();
    select("CD926-2");

    EXPECT_EQ(presenter.on_command(kIdAddLdn), Run::LdnDialog);
    EXPECT_EQ(presenter.DialogDeviceKey, "CD926-2");
    put_class_value("Back", "CD926-2");
    presenter.on_dialog_closed(Run::LdnDialog, false);
    EXPECT_EQ(presenter.list.rows.back(), (ListRow{"LDN", "Back"})) << "the list is read again";

    select("CD926");
    EXPECT_EQ(presenter.on_command(kIdModifySettings), Run::ModifyDialog);
    EXPECT_EQ(presenter.DialogDeviceKey, "CD926");
    EXPECT_EQ(presenter.on_command(kIdCheckHealth), Run::CheckHealth);
    EXPECT_EQ(presenter.DialogDeviceKey, "CD926");

    // The list pane handles none of the tree's commands.
    for (int id : {kIdAddDevice, kIdAddLdn, kIdRemoveDevice, kIdProperty, kIdCheckHealth, kIdModifySettings})
        EXPECT_FALSE(presenter.is_enabled(id, false)) << id;
    EXPECT_TRUE(presenter.is_enabled(kIdAppExit, false));
    EXPECT_TRUE(presenter.is_enabled(kIdAppAbout, false));
    EXPECT_FALSE(presenter.is_enabled(9999));
    EXPECT_EQ(presenter.on_command(kIdAppExit), Run::Nothing);
    EXPECT_TRUE(prompter.prompts().empty());
}

TEST_F(PresenterTest, RemovingTheUsbDeviceLeavesAFileItCannotRewriteAndSaysWhy) {
    add_device("CD730", {{"Port", 0}});
    put_class_value("CashDrawer", "CD730");
    const std::string declared = "<?xml version=\"1.0\"?>" + kUsbRoot + usb_element("USB0", "5") +
                                 usb_element("USB3", "12") + kUsbEnd;
    usb_file(declared);
    presenter.fill_tree();
    select("CD730");
    prompter.script({config::Answer::Yes, config::Answer::Ok});
    presenter.on_command(kIdRemoveDevice);
    EXPECT_TRUE(device_keys().empty());
    EXPECT_TRUE(class_values().empty());
    EXPECT_EQ(files.content(kUsbFile), declared) << "the slots of the other drawers are all still there";
    ASSERT_EQ(prompter.prompts().size(), 2u);
    EXPECT_EQ(prompter.prompts()[1].text,
              "The CD730 cash drawer device was removed, but its slot in the USB configuration file\n" + kUsbFile +
                  "\nwas left as it is: it begins with an XML declaration, which this program would not write back.");
    EXPECT_EQ(prompter.prompts()[1].icon, config::Icon::Warning);
    EXPECT_EQ(tree(), Strings{"CashDrawer"});
}

// Another program (zrncd config, a second utility) changes the registry
// while the window is open: F5 reads it again.
TEST_F(PresenterTest, RefreshReadsTheDevicesAgainAndKeepsTheSelectionWhereItExists) {
    add_cd926("CD926");
    add_cd926("CD926-3");
    add_device("CD615", {{"Port", 1}});
    presenter.fill_tree();
    select("CD926-3");
    const ItemId kept = item("CD926-3");
    const ItemId cd615 = item("CD615");
    EXPECT_TRUE(presenter.is_enabled(kIdRefresh));
    EXPECT_TRUE(presenter.is_enabled(kIdRefresh, false)) << "from either pane";

    add_cd926("CD926-2");
    put_values(reg, device_key_path("CD926-3"), {{"Port", 4}});
    put_class_value("Front", "CD926-3");
    ASSERT_EQ(store.delete_device_key("CD615"), config::DeviceStore::kClassKeyOpened);
    EXPECT_EQ(presenter.on_command(kIdRefresh), Run::Nothing);
    EXPECT_EQ(tree(), (Strings{"CashDrawer", "CD926", "CD926-2", "CD926-3"})) << "in the registry's order";
    EXPECT_EQ(item("CD926-3"), kept) << "the same item";
    EXPECT_EQ(presenter.caret(), kept);
    EXPECT_EQ(presenter.RowPort, "COM4");
    EXPECT_EQ(presenter.list.rows.back(), (ListRow{"LDN", "Front"}));
    EXPECT_NE(item("CD926-2"), cd615) << "ids are never reused";

    // The selected device is gone: the root is selected.
    ASSERT_EQ(store.delete_device_key("CD926-3"), config::DeviceStore::kClassKeyOpened);
    presenter.refresh();
    EXPECT_EQ(tree(), (Strings{"CashDrawer", "CD926", "CD926-2"}));
    EXPECT_EQ(presenter.SelectedText, "CashDrawer");
    EXPECT_TRUE(device_flags(false));
    EXPECT_TRUE(prompter.prompts().empty());

    // A modify dialog closing on a device removed meanwhile: gone from the
    // tree at once.
    select("CD926-2");
    ASSERT_EQ(presenter.on_command(kIdModifySettings), Run::ModifyDialog);
    ASSERT_EQ(store.delete_device_key("CD926-2"), config::DeviceStore::kClassKeyOpened);
    presenter.on_dialog_closed(Run::ModifyDialog, false);
    EXPECT_EQ(tree(), (Strings{"CashDrawer", "CD926"}));
}

TEST_F(PresenterTest, RemovalWaitsForTheConfigurationLockAndNamesItsHolder) {
    fakes::FakeLockMachine machine;
    fakes::FakeConfigLock ours(machine), theirs(machine);
    config::DeviceStore locked_store{reg, prompter, &ours};
    LeftViewPresenter p{locked_store, usb, prompter};
    add_cd926("CD926");
    put_class_value("Front", "CD926");
    p.fill_tree();
    p.on_selection_changed(p.items()[1].id);
    std::string holder;
    ASSERT_EQ(theirs.acquire(0, "zrncd config import", &holder), platform::ConfigLock::Status::Acquired);

    prompter.script({config::Answer::Yes, config::Answer::Ok});
    p.on_command(kIdRemoveDevice);
    ASSERT_EQ(prompter.prompts().size(), 2u);
    EXPECT_EQ(prompter.prompts()[1].text, "The cash drawer configuration is being changed by " + theirs.state().holder +
                                              ".\n\nNothing was changed. Try again when it has finished.");
    EXPECT_EQ(machine.state->waits, (std::vector<std::uint32_t>{0, config::kWindowLockWaitMs}));
    EXPECT_EQ(device_keys(), Strings{"CD926"});
    EXPECT_EQ(class_values(), Strings{"Front=CD926"});
    EXPECT_EQ(tree_of(p), (Strings{"CashDrawer", "CD926"}));

    theirs.release();
    prompter.script({config::Answer::Yes});
    p.on_command(kIdRemoveDevice);
    EXPECT_TRUE(device_keys().empty());
    EXPECT_FALSE(ours.held()) << "let go after the change";
}

}  // namespace
}  // namespace zrn::utility
