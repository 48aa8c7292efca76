// The utility's store and USB configuration file on the real registry and
// file system of the test prefix.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "zrn/device_config.h"
#include "zrn/device_types.h"
#include "zrn/config/device_store.h"
#include "zrn/config/fake_prompter.h"
#include "zrn/config/usb_config.h"
#include "zrn/win32/win32_platform.h"

namespace zrn::utility {
namespace {

using Strings = std::vector<std::string>;

void delete_class_key() {
    const std::string path(kDeviceClassKey);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
}

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void put_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

class UtilityOnWine : public ::testing::Test {
protected:
    void SetUp() override { delete_class_key(); }
    void TearDown() override { delete_class_key(); }

    win32::Win32Registry reg;
    win32::Win32Files files;
    config::FakePrompter prompter;
    config::DeviceStore store{reg, prompter};
};

TEST_F(UtilityOnWine, DeviceKeysAndLogicalNamesInTheRealRegistry) {
    std::int32_t index = -1;
    platform::RegKey key = 0;
    std::string name;
    // The class key does not exist yet: the first device of a type.
    ASSERT_EQ(store.create_device_key("CD926", &index, &key, &name), config::DeviceStore::kCreated);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(name, "CD926");
    EXPECT_EQ(store.write_text(key, "", "ZRNOPOSCD.SO"), config::DeviceStore::kWritten);
    EXPECT_EQ(store.write_number(key, "DeviceID", kDeviceIdSerialII), config::DeviceStore::kWritten);
    EXPECT_EQ(store.write_number(key, "Port", -1), config::DeviceStore::kWritten);
    EXPECT_EQ(store.close_key(key), config::DeviceStore::kClosed);

    ASSERT_EQ(store.create_device_key("CD926", &index, &key, &name), config::DeviceStore::kCreated);
    EXPECT_EQ(name, "CD926-2");
    store.close_key(key);

    // Read back through the Windows API, not through the store.
    HKEY entry = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer\\CD926", 0,
                            KEY_READ | KEY_WRITE, &entry),
              ERROR_SUCCESS);
    char text[64] = {};
    DWORD type = 0, size = sizeof text;
    ASSERT_EQ(RegQueryValueExA(entry, "", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 13u) << "the text with its terminating zero";
    EXPECT_STREQ(text, "ZRNOPOSCD.SO");
    DWORD port = 0;
    size = sizeof port;
    ASSERT_EQ(RegQueryValueExA(entry, "Port", nullptr, &type, reinterpret_cast<BYTE*>(&port), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(port, 0xFFFFFFFFu);
    // A binary value reads as "?".
    const BYTE blob[2] = {1, 2};
    ASSERT_EQ(RegSetValueExA(entry, "Odd", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
    RegCloseKey(entry);
    ASSERT_EQ(store.open_device_key("CD926", &key), config::DeviceStore::kOpened);
    std::string read;
    EXPECT_EQ(store.read_text(key, "Odd", &read), config::DeviceStore::kOtherType);
    EXPECT_EQ(read, "?");
    EXPECT_EQ(store.read_text(key, "Port", &read), config::DeviceStore::kRead);
    EXPECT_EQ(read, "-1");
    store.close_key(key);

    // Logical names: exact-case test, "*" removes any one of the device's.
    EXPECT_EQ(store.add_logical_name("CD926", "Till"), config::DeviceStore::kNameAdded);
    EXPECT_EQ(store.add_logical_name("CD926", "Front"), config::DeviceStore::kNameAdded);
    EXPECT_EQ(store.add_logical_name("CD926-2", "Till"), config::DeviceStore::kNameTaken);
    EXPECT_EQ(store.test_logical_name("CD926", "Till"), config::DeviceStore::kNameTaken);
    EXPECT_EQ(store.test_logical_name("CD926", "TILL"), config::DeviceStore::kNameFree)
        << "the store compares names case by case, although the registry does not";
    Strings names;
    ASSERT_TRUE(store.read_logical_names("CD926", &names));
    EXPECT_EQ(names.size(), 2u);
    EXPECT_EQ(store.remove_logical_name("CD926", "*"), config::DeviceStore::kNameRemoved);
    EXPECT_EQ(store.remove_logical_name("CD926", "*"), config::DeviceStore::kNameRemoved);
    EXPECT_EQ(store.remove_logical_name("CD926", "*"), config::DeviceStore::kNoNameMatched);
    ASSERT_TRUE(store.read_logical_names("CD926", &names));
    EXPECT_TRUE(names.empty());

    // The USB device gets the default set; only one USB entry may exist.
    ASSERT_TRUE(config::write_device_entry(reg, config::default_entry("CD730", *device_type_of("CD730"))));
    store.default_logical_names("CD730");
    ASSERT_TRUE(store.read_logical_names("CD730", &names));
    EXPECT_EQ(names.size(), config::kDefaultLogicalNames.size());
    EXPECT_EQ(store.create_device_key("CD730", &index, &key), config::DeviceStore::kSingleUsbDevice);

    EXPECT_EQ(store.delete_device_key("CD926-2"), config::DeviceStore::kClassKeyOpened);
    Strings keys;
    ASSERT_EQ(store.enum_device_keys(&keys), config::DeviceStore::kEnumerated);
    EXPECT_EQ(keys, (Strings{"CD730", "CD926"}));
    EXPECT_TRUE(prompter.prompts().empty());
}

TEST_F(UtilityOnWine, UsbConfigurationFileOnTheRealFileSystem) {
    const std::string folder(config::kUsbConfigFolder);
    const std::string path(config::kUsbConfigPath);
    DeleteFileA(path.c_str());
    // zrncd config's backups share the folder (the prefix is every test's).
    const std::string backups = folder + "\\Configuration Backup";
    for (const char* name : {"view32.json", "view64.json", "view32.pending", "view64.pending"})
        DeleteFileA((backups + "\\" + name).c_str());
    RemoveDirectoryA(backups.c_str());
    RemoveDirectoryA(folder.c_str());
    ASSERT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);

    config::UsbConfig usb(files);
    // Folder and file are made, holding the empty configuration.
    EXPECT_EQ(usb.read(), 1);
    EXPECT_EQ(file_text(path), "<ZRNUSB730Config Version=\"1.0\"></ZRNUSB730Config>");
    EXPECT_TRUE(usb.slot_names().empty());

    put_file(path,
             "<ZRNUSB730Config Version=\"1.0\">\r\n  <HIDID UPort=\"USB0\" ID=\"5\"/>\r\n"
             "  <HIDID UPort=\"USB3\" ID=\"300\"/>\r\n</ZRNUSB730Config>");
    EXPECT_EQ(usb.read(), 1);
    EXPECT_EQ(usb.slot_names(), (Strings{"USB0", "USB3"}));
    EXPECT_EQ(usb.identifiers(), (Strings{"5", "300"}));

    // An identifier the rewrite could not write back: the file is left as it
    // is, and the caller is told.
    const std::string before = file_text(path);
    const config::UsbConfig::ReleaseOutcome kept = usb.release_slot("CD730");
    EXPECT_EQ(kept.result, config::UsbConfig::Release::NotUnderstood);
    EXPECT_EQ(kept.reason, "it holds an identifier other than 1 to 255 (ID=\"300\")");
    EXPECT_EQ(file_text(path), before);

    // Another program holding the file open (a virus scanner reading it):
    // held, not missing: nothing is read, nothing is made anew or rewritten,
    // and the file keeps its bytes.
    put_file(path, "<ZRNUSB730Config Version=\"1.0\">\r\n  <HIDID UPort=\"USB0\" ID=\"5\"/>\r\n"
                   "  <HIDID UPort=\"USB3\" ID=\"12\"/>\r\n</ZRNUSB730Config>");
    const std::string listed = file_text(path);
    HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(usb.read(), 0);
    EXPECT_TRUE(platform::file_held(usb.read_status())) << usb.read_status();
    EXPECT_TRUE(usb.slot_names().empty());
    const config::UsbConfig::ReleaseOutcome held = usb.release_slot("CD730");
    EXPECT_EQ(held.result, config::UsbConfig::Release::Held);
    EXPECT_NE(usb.why(held).find("another program has it open ("), std::string::npos) << usb.why(held);
    CloseHandle(holder);
    EXPECT_EQ(file_text(path), listed);

    // Released: slot 0 goes, the file is replaced whole and no temporary
    // file stays beside it.
    EXPECT_TRUE(usb.release_slot("CD730").done());
    EXPECT_EQ(file_text(path), "<ZRNUSB730Config Version=\"1.0\"><HIDID UPort=\"USB3\" ID=\"12\"/></ZRNUSB730Config>");
    EXPECT_EQ(GetFileAttributesA((path + ".new").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace zrn::utility
