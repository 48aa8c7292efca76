#include "zrn/config/device_store.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "store_fixture.h"
#include "zrn/fakes/faulty_registry.h"

namespace zrn::config {
namespace {

using namespace testing;
using platform::RegStatus;

// The fake registry with writes, deletions and key creation that can be made
// to fail, as a full disk or a locked-down key would.
using fakes::FaultyRegistry;

class StoreTest : public StoreFixture<FaultyRegistry> {
protected:
    void add_keys(const Strings& names) {
        for (const auto& n : names) add_device(n);
    }
};

TEST_F(StoreTest, NewKeyIndexFollowsTheSameTypeNames) {
    struct Case {
        Strings existing;
        std::string type;
        std::int32_t result;
        std::string name;  // when created
        std::int32_t index;
    };
    const std::vector<Case> cases = {
        {{}, "CD926", DeviceStore::kCreated, "CD926", 0},
        {{"CD926"}, "CD926", DeviceStore::kCreated, "CD926-2", 2},
        {{"CD926", "CD926-2", "CD926-3"}, "CD926", DeviceStore::kCreated, "CD926-4", 4},
        {{"CD926-2"}, "CD926", DeviceStore::kCreated, "CD926-3", 3},  // the first one was removed
        {{"CD347", "CD347-2", "CD615"}, "CD926", DeviceStore::kCreated, "CD926", 0},
        {{"CD926", "CD347", "CD347-2"}, "CD347", DeviceStore::kCreated, "CD347-3", 3},
        {{"CD926", "CD926-2", "CD926-3", "CD926-4", "CD926-5", "CD926-6", "CD926-7", "CD926-8", "CD926-9"},
         "CD926", DeviceStore::kIndexLimit, "", 0},
        {{"CD926-9"}, "CD926", DeviceStore::kIndexLimit, "", 0},
        {{}, "CD730", DeviceStore::kSingleUsbDevice, "", 0},
        {{"CD730"}, "CD730", DeviceStore::kSingleUsbDevice, "", 0},
        {{"CD730-9"}, "CD730", DeviceStore::kSingleUsbDevice, "", 0},
        // Names the utility never forms: a suffix ending in 0 or a non-digit
        // never sends the new key onto the one named by the type alone, nor
        // onto a higher one that exists.
        {{"CD926", "CD926-0"}, "CD926", DeviceStore::kCreated, "CD926-2", 2},
        {{"CD926-2", "CD926-X"}, "CD926", DeviceStore::kCreated, "CD926-3", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.existing) + " + " + c.type);
        {
            platform::ScopedKey software(reg);
            ASSERT_EQ(reg.create_key(kHklm, "SOFTWARE", "", software.out(), nullptr), kRegOk);
        }
        for (const auto& k : device_keys()) {
            ASSERT_EQ(store.delete_device_key(k), DeviceStore::kClassKeyOpened);
        }
        add_keys(c.existing);
        Strings before = device_keys();

        std::int32_t index = -100;
        RegKey key = 0;
        std::string name = "untouched";
        ASSERT_EQ(store.create_device_key(c.type, &index, &key, &name), c.result);
        if (c.result != DeviceStore::kCreated) {
            EXPECT_EQ(device_keys(), before) << "nothing created";
            EXPECT_EQ(index, -100);
            EXPECT_EQ(name, "untouched");
            continue;
        }
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(index, c.index);
        // The key is handed out open and writable.
        EXPECT_EQ(store.write_text(key, "DeviceName", name), DeviceStore::kWritten);
        EXPECT_EQ(store.close_key(key), DeviceStore::kClosed);
        before.push_back(c.name);
        std::sort(before.begin(), before.end());
        EXPECT_EQ(device_keys(), before);
    }
}

TEST_F(StoreTest, CreateReportsWhereItFailed) {
    std::int32_t index = 0;
    RegKey key = 0;
    EXPECT_EQ(store.create_device_key("CD926", &index, &key), DeviceStore::kSoftwareKeyNotOpened);

    add_keys({"CD926"});
    reg.fail_create = true;
    EXPECT_EQ(store.create_device_key("CD926", &index, &key), DeviceStore::kKeyNotCreated);
    EXPECT_EQ(key, 0u);
    reg.fail_create = false;
    EXPECT_EQ(device_keys(), Strings{"CD926"});
}

TEST_F(StoreTest, ValuesAreWrittenAndReadAsText) {
    RegKey key = 0;
    EXPECT_EQ(store.open_device_key("CD347", &key), DeviceStore::kOpenFailed);
    EXPECT_EQ(store.close_key(0), DeviceStore::kCloseFailed);
    add_keys({"CD347"});
    ASSERT_EQ(store.open_device_key("CD347", &key), DeviceStore::kOpened);

    EXPECT_EQ(store.write_text(key, "FirstOC", "91"), DeviceStore::kWritten);
    EXPECT_EQ(store.write_number(key, "Offset", -2), DeviceStore::kWritten);
    EXPECT_EQ(store.write_number(key, "TimeOut", 1000), DeviceStore::kWritten);
    RegData stored;
    ASSERT_EQ(reg.query_value(key, "FirstOC", 1024, &stored), kRegOk);
    EXPECT_EQ(stored.type, kRegTypeSz);
    EXPECT_EQ(stored.bytes.size(), 3u) << "stored with its terminating zero";
    ASSERT_EQ(reg.query_value(key, "TimeOut", 1024, &stored), kRegOk);
    EXPECT_EQ(stored.type, kRegTypeDword);
    EXPECT_EQ(stored.bytes, (std::vector<std::uint8_t>{0xE8, 0x03, 0, 0}));

    std::string text;
    EXPECT_EQ(store.read_text(key, "FirstOC", &text), DeviceStore::kRead);
    EXPECT_EQ(text, "91");
    EXPECT_EQ(store.read_text(key, "Offset", &text), DeviceStore::kRead);
    EXPECT_EQ(text, "-2");

    RegData binary{3, {0x31, 0x00}};
    ASSERT_EQ(reg.set_value(key, "Blob", binary), kRegOk);
    EXPECT_EQ(store.read_text(key, "Blob", &text), DeviceStore::kOtherType);
    EXPECT_EQ(text, "?");

    text = "kept";
    EXPECT_EQ(store.read_text(key, "Missing", &text), DeviceStore::kNotRead);
    EXPECT_EQ(text, "kept");
    ASSERT_EQ(platform::set_sz(reg, key, "Long", std::string(1024, 'x')), kRegOk);  // 1025 bytes
    EXPECT_EQ(store.read_text(key, "Long", &text), DeviceStore::kNotRead);
    EXPECT_EQ(text, "kept");
    ASSERT_EQ(platform::set_sz(reg, key, "Fits", std::string(1023, 'x')), kRegOk);
    EXPECT_EQ(store.read_text(key, "Fits", &text), DeviceStore::kRead);
    EXPECT_EQ(text.size(), 1023u);

    reg.fail_set = true;
    EXPECT_EQ(store.write_text(key, "FirstOC", "7"), DeviceStore::kTextNotWritten);
    EXPECT_EQ(store.write_number(key, "Port", 1), DeviceStore::kNumberNotWritten);
    reg.fail_set = false;
    EXPECT_EQ(store.close_key(key), DeviceStore::kClosed);
}

TEST_F(StoreTest, EnumerationAndDeletionNeedTheClassKey) {
    Strings names{"stale"};
    EXPECT_EQ(store.enum_device_keys(&names), DeviceStore::kClassKeyNotOpened);
    EXPECT_TRUE(names.empty()) << "no name left over for a caller that goes on";
    EXPECT_EQ(store.delete_device_key("CD926"), DeviceStore::kClassKeyMissing);

    add_keys({"CD926", "CD615", "CD347-2", "CD347"});
    put_class_value("Drawer", "CD615");
    EXPECT_EQ(store.enum_device_keys(&names), DeviceStore::kEnumerated);
    EXPECT_EQ(names, (Strings{"CD347", "CD347-2", "CD615", "CD926"})) << "emptied first, in name order";

    EXPECT_EQ(store.delete_device_key("CD615"), DeviceStore::kClassKeyOpened);
    EXPECT_EQ(store.delete_device_key("CD615"), DeviceStore::kClassKeyOpened) << "the deletion itself is not told";
    EXPECT_EQ(device_keys(), (Strings{"CD347", "CD347-2", "CD926"}));
    EXPECT_EQ(class_values(), Strings{"Drawer=CD615"}) << "logical names are left to the caller";
}

TEST_F(StoreTest, LogicalNameTestAndAddCompareEveryValueExactly) {
    EXPECT_EQ(store.test_logical_name("CD347", "CashDrawer"), DeviceStore::kNamesNotStored);
    EXPECT_EQ(store.add_logical_name("CD347", "CashDrawer"), DeviceStore::kNamesNotStored);
    EXPECT_EQ(store.remove_logical_name("CD347", "*"), DeviceStore::kNamesNotStored);

    put_class_value("CashDrawer", "CD347");
    put_class_value("Owner", "Front till");  // no logical name, but a value all the same
    for (const char* device : {"CD347", "CD926"}) {
        EXPECT_EQ(store.test_logical_name(device, "CashDrawer"), DeviceStore::kNameTaken) << device;
    }
    EXPECT_EQ(store.test_logical_name("CD347", "cashdrawer"), DeviceStore::kNameFree);
    EXPECT_EQ(store.test_logical_name("CD347", "Owner"), DeviceStore::kNameTaken);
    EXPECT_EQ(store.test_logical_name("CD347", "CashDrawer "), DeviceStore::kNameFree);

    EXPECT_EQ(store.add_logical_name("CD926", "CashDrawer"), DeviceStore::kNameTaken);
    EXPECT_EQ(store.add_logical_name("CD926", "Owner"), DeviceStore::kNameTaken);
    EXPECT_EQ(store.add_logical_name("CD926", "Till2"), DeviceStore::kNameAdded);
    EXPECT_EQ(class_values(), (Strings{"CashDrawer=CD347", "Owner=Front till", "Till2=CD926"}));

    reg.fail_set = true;
    EXPECT_EQ(store.add_logical_name("CD926", "Till3"), DeviceStore::kNamesNotStored) << "a refused write is no add";
    reg.fail_set = false;
    EXPECT_EQ(class_values().size(), 3u);
}

TEST_F(StoreTest, RemoveTakesTheFirstMatchingNameOfTheDevice) {
    put_class_value("Drawer", "CD926");
    put_class_value("Left", "CD615");
    put_class_value("Wide", "CD615-2");
    put_class_value("Right", "CD615");
    put_class_value("Back", "CD615");

    EXPECT_EQ(store.remove_logical_name("CD615", "Drawer"), DeviceStore::kNoNameMatched);
    EXPECT_EQ(store.remove_logical_name("CD615", "right"), DeviceStore::kNoNameMatched) << "names compare exactly";
    EXPECT_EQ(store.remove_logical_name("CD615", "*"), DeviceStore::kNameRemoved);
    EXPECT_EQ(class_values(), (Strings{"Drawer=CD926", "Wide=CD615-2", "Right=CD615", "Back=CD615"}));
    EXPECT_EQ(store.remove_logical_name("CD615", "Back"), DeviceStore::kNameRemoved);
    EXPECT_EQ(class_values(), (Strings{"Drawer=CD926", "Wide=CD615-2", "Right=CD615"}));

    reg.fail_delete_value = true;
    EXPECT_EQ(store.remove_logical_name("CD615", "*"), DeviceStore::kNamesNotStored) << "not removed, not told so";
    reg.fail_delete_value = false;
    EXPECT_EQ(store.remove_logical_name("CD615", "*"), DeviceStore::kNameRemoved);
    EXPECT_EQ(store.remove_logical_name("CD615", "*"), DeviceStore::kNoNameMatched);
    EXPECT_EQ(class_values(), (Strings{"Drawer=CD926", "Wide=CD615-2"}));
}

TEST_F(StoreTest, CollectingAndDefaultNamesTellWhenTheClassKeyIsMissing) {
    Strings names{"kept"}, data{"kept"};
    RegKey key = 0;
    EXPECT_FALSE(store.read_logical_names("CD730", &names));
    EXPECT_TRUE(prompter.prompts().empty()) << "reading names to show them asks nothing";
    EXPECT_FALSE(store.collect_logical_names("CD730", &names, &data, &key));
    store.default_logical_names("CD730");
    ASSERT_EQ(prompter.prompts().size(), 2u);
    for (const auto& p : prompter.prompts()) {
        EXPECT_EQ(p.text, "ERROR: Open-1");
        EXPECT_EQ(p.caption, "Registry Operation Error");
        EXPECT_EQ(p.buttons, Buttons::Ok);
        EXPECT_EQ(p.icon, Icon::None);
    }
    EXPECT_EQ(names, Strings{"kept"});
    EXPECT_TRUE(class_values().empty()) << "no names written without the class key";
    RegKey probe = 0;
    EXPECT_NE(reg.open_key(kHklm, kDeviceClassKey, false, &probe), kRegOk) << "and no class key made";
}

TEST_F(StoreTest, DefaultNamesReplaceTheDevicesNames) {
    put_class_value("", "ZRN cash drawers");  // the key's default value: no logical name
    put_class_value("Till", "CD730");
    put_class_value("Drawer", "CD926");  // a default name standing for another device
    put_class_value("Side", "CD347");
    put_class_value("Spare", "CD730");

    Strings names, data;
    RegKey key = 0;
    ASSERT_TRUE(store.collect_logical_names("CD730", &names, &data, &key));
    EXPECT_EQ(names, (Strings{"Till", "Spare"}));
    EXPECT_EQ(data, (Strings{"CD730", "CD730"}));
    EXPECT_EQ(reg.f.open_handles(), 1) << "the class key is handed to the caller";
    EXPECT_EQ(store.close_key(key), DeviceStore::kClosed);
    Strings shown{"stale"};
    ASSERT_TRUE(store.read_logical_names("CD730", &shown));
    EXPECT_EQ(shown, (Strings{"Till", "Spare"}));
    EXPECT_EQ(reg.f.open_handles(), 0) << "reading to show closes the class key";

    store.default_logical_names("CD730");
    Strings expected{"=ZRN cash drawers", "Drawer=CD730", "Side=CD347"};
    for (std::string_view n : kDefaultLogicalNames)
        if (n != "Drawer") expected.push_back(std::string(n) + "=CD730");
    EXPECT_EQ(class_values(), expected);

    // Whatever device is named, its names go and the nine stand for CD730.
    put_class_value("Counter", "CD347");
    store.default_logical_names("CD347");
    Strings after = class_values();
    EXPECT_EQ(std::count(after.begin(), after.end(), "Side=CD347"), 0);
    EXPECT_EQ(std::count(after.begin(), after.end(), "Counter=CD347"), 0);
    for (std::string_view n : kDefaultLogicalNames)
        EXPECT_EQ(std::count(after.begin(), after.end(), std::string(n) + "=CD730"), 1) << n;
    EXPECT_TRUE(prompter.prompts().empty());
}

TEST_F(StoreTest, TargetPathAndInformationTexts) {
    std::string path = "unchanged";
    EXPECT_EQ(store.read_target_path(&path), 0);
    EXPECT_EQ(path, "unchanged");

    platform::ScopedKey settings(reg);
    ASSERT_EQ(reg.create_key(kHklm, kServiceSettingsKey, "", settings.out(), nullptr), kRegOk);
    EXPECT_EQ(store.read_target_path(&path), 0) << "no TargetPath value";
    ASSERT_EQ(platform::set_sz(reg, settings.get(), "TargetPath", "\"C:\\Program Files\\Drivers\""), kRegOk);
    EXPECT_EQ(store.read_target_path(&path), 1);
    EXPECT_EQ(path, "C:\\Program Files\\Drivers");

    // 256 bytes fill the buffer: 255 characters and the zero fit, 256 without it do not.
    ASSERT_EQ(platform::set_sz(reg, settings.get(), "TargetPath", std::string(255, 'p')), kRegOk);
    EXPECT_EQ(store.read_target_path(&path), 1);
    EXPECT_EQ(path.size(), 255u);
    path = "unchanged";
    ASSERT_EQ(reg.set_value(settings.get(), "TargetPath", RegData{kRegTypeSz, std::vector<std::uint8_t>(256, 'q')}),
              kRegOk);
    EXPECT_EQ(store.read_target_path(&path), 0);
    ASSERT_EQ(platform::set_sz(reg, settings.get(), "TargetPath", std::string(300, 'r')), kRegOk);
    EXPECT_EQ(store.read_target_path(&path), 0);
    EXPECT_EQ(path, "unchanged");
    settings.reset();

    ControlObjectInfo info{"desc", "ver", "class"};
    store.read_control_object_info(&info);
    EXPECT_EQ(info.description, "desc");
    EXPECT_EQ(info.version, "ver");
    EXPECT_EQ(info.device_class, "class");
    put_values(reg, std::string(kControlObjectInfoKey), {{"", "OPOS Control Objects"}, {"Version", "1.7.2"}});
    ASSERT_FALSE(HasFatalFailure());
    store.read_control_object_info(&info);
    EXPECT_EQ(info.description, "OPOS Control Objects");
    EXPECT_EQ(info.version, "1.7.2");
    EXPECT_EQ(info.device_class, "CashDrawer");

    const ServiceObjectInfo so = DeviceStore::service_object_info();
    EXPECT_EQ(so.description, kServiceDesc);
    EXPECT_EQ(so.version, "3.38.1 [SD]");
    EXPECT_EQ(so.standard, "UPOS Standard Release 1.7 (OPOS)");
}

}  // namespace
}  // namespace zrn::config
