// The utility's dialogs as a technician meets them: the real templates and
// window procedures on a private X display, driven from a second thread by
// window messages, their message boxes answered the same way, the registry
// of a private prefix read back, and a PNG of every dialog left for a look.
#include <windows.h>
#include <objbase.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "device_dialogs.h"
#include "dialog_driver.h"
#include "screen_shot.h"
#include "main_frame.h"
#include "zrn/utility/main_presenter.h"
#include "zrn/config/usb_config.h"
#include "opos_client.h"
#include "resource.h"
#include "sim_win32.h"
#include "zrn/device_config.h"
#include "zrn/device_types.h"
#include "zrn/fakes/key_values.h"
#include "zrn/platform/noting_registry.h"
#include "zrn/config/class_values.h"
#include "zrn/config/rules.h"
#include "zrn/win32/config_lock.h"
#include "zrn/win32/win32_platform.h"

namespace zrn::utility::win32 {
namespace {

using Strings = std::vector<std::string>;

zrn::win32::Win32Registry& registry() {
    static zrn::win32::Win32Registry r;
    return r;
}

// The screen where the window lies, as the user sees it.
void screenshot(HWND window, const std::string& name) {
    const std::string path = client::windows_path(ZRN_DIALOG_SHOTS) + "\\" + name + ".png";
    EXPECT_TRUE(testing::save_window_png(window, path)) << path;
}

// ---------------------------------------------------------------- driving

using testing::box_text;
using testing::call_registration;
using testing::drive;
using testing::enabled;
using testing::flush;
using testing::press;
using testing::set_text;
using testing::text_of;
using testing::wait_gone;
using testing::wait_window;

void select_item(HWND dialog, int id, const std::string& text) {
    ASSERT_TRUE(testing::select_item(dialog, id, text)) << text;
}

Strings list_items(HWND dialog, int id) { return testing::list_items(dialog, id); }

// A device entry's values as "name=data", in stored order.
Strings entry_values(const std::string& key) {
    Strings out;
    for (const fakes::NamedValue& v : fakes::key_values(registry(), std::string(kDeviceClassKey) + "\\" + key)
                                          .value_or(std::vector<fakes::NamedValue>{}))
        out.push_back(v.name + "=" + value_as_text(v.data.type, v.data.bytes));
    return out;
}

Strings class_values() { return config::testing::class_values(registry()); }

Strings sorted(Strings s) {
    std::sort(s.begin(), s.end());
    return s;
}

Strings device_keys() {
    Strings out;
    platform::ScopedKey k(registry());
    if (registry().open_key(platform::kHklm, kDeviceClassKey, false, k.out()) != platform::kRegOk) return out;
    std::string name;
    for (std::uint32_t i = 0; registry().enum_key(k.get(), i, &name) == platform::kRegOk; ++i) out.push_back(name);
    return out;
}

void clear_devices() {
    for (const std::string& key : device_keys())
        registry().delete_key(platform::kHklm, std::string(kDeviceClassKey) + "\\" + key);
    platform::ScopedKey k(registry());
    if (registry().create_key(platform::kHklm, kDeviceClassKey, "", k.out(), nullptr) != platform::kRegOk) return;
    std::string name;
    while (registry().enum_value(k.get(), 0, &name, nullptr) == platform::kRegOk)
        if (registry().delete_value(k.get(), name) != platform::kRegOk) break;
}

class DialogsGui : public ::testing::Test {
protected:
    void SetUp() override {
        clear_devices();
        config::write_service_settings(registry(), {client::windows_path(ZRN_SIM_DIR), 0});
    }

    zrn::win32::Win32Clock clock;
    Win32Prompter prompter;
    config::DeviceStore store{registry(), prompter};
    DialogHost host{GetModuleHandleA(nullptr), store, prompter, clock};
};

TEST_F(DialogsGui, WizardAddsACd926WithItsValuesAndBackRemovesIt) {
    bool finished = false;
    std::string key, ldn;
    drive([&] { finished = host.run_wizard(nullptr, &key, &ldn); },
          [&] {
              HWND page1 = wait_window("Add New Cash Drawer Device [ZRN Device Key]");
              ASSERT_NE(page1, nullptr);
              EXPECT_EQ(text_of(page1, IDC_MODEL), "Model 926A SerialLINE(r) II Interface");
              EXPECT_EQ(IsDlgButtonChecked(page1, IDC_UPOS), BST_CHECKED);
              EXPECT_FALSE(enabled(page1, IDC_UPOS));
              screenshot(page1, "add_device_page1");
              // Enter in the name field presses no default button.
              set_text(page1, IDC_PAGE1_LDN, "Till One");
              SetForegroundWindow(page1);
              PostMessageA(GetDlgItem(page1, IDC_PAGE1_LDN), WM_KEYDOWN, VK_RETURN, 0x001C0001);
              PostMessageA(GetDlgItem(page1, IDC_PAGE1_LDN), WM_KEYUP, VK_RETURN, 0xC01C0001);
              flush(page1);
              EXPECT_TRUE(IsWindowVisible(page1));
              EXPECT_TRUE(device_keys().empty());

              press(page1, IDOK);
              HWND page2 = wait_window("Add New Cash Drawer Device Settings");
              ASSERT_NE(page2, nullptr);
              EXPECT_EQ(device_keys(), Strings{"CD926"});
              EXPECT_EQ(text_of(page2, IDC_KEY), "CD926");
              EXPECT_EQ(text_of(page2, IDC_PORT_GROUP), " COM Port Setting ");
              EXPECT_EQ(text_of(page2, IDC_PORT), "COM1");
              EXPECT_EQ(text_of(page2, IDC_BAUD), "9600");
              EXPECT_FALSE(enabled(page2, IDC_HAND_SHAKING));
              EXPECT_FALSE(enabled(page2, IDC_DRAWER_NO));
              EXPECT_FALSE(enabled(page2, IDC_SECOND_OC));
              EXPECT_TRUE(enabled(page2, IDC_FIRST_OC));
              screenshot(page2, "add_device_page2");

              // Back: the entry and its name are gone; page 1 keeps the name.
              press(page2, IDC_BACK);
              page1 = wait_window("Add New Cash Drawer Device [ZRN Device Key]");
              ASSERT_NE(page1, nullptr);
              EXPECT_TRUE(device_keys().empty());
              EXPECT_TRUE(class_values().empty());
              EXPECT_EQ(text_of(page1, IDC_PAGE1_LDN), "Till One");

              press(page1, IDOK);
              page2 = wait_window("Add New Cash Drawer Device Settings");
              ASSERT_NE(page2, nullptr);
              press(page2, IDOK);
              EXPECT_TRUE(wait_gone(page2));
          });
    EXPECT_TRUE(finished);
    EXPECT_EQ(key, "CD926");
    // Wine enumerates values by name, so the order of the writes is checked
    // by the host tests; here the values themselves.
    EXPECT_EQ(sorted(entry_values("CD926")),
              sorted(Strings{"=ZRNOPOSCD.SO", "ADKConfig=ZRN 3.38.1_CCO", "ServiceVersion=3.38.1_CCO",
                       "ServiceDesc=ZRN OPOS CashDrawer Service Object (serial, parallel, USB)",
                       "DeviceDesc=ZRN Model 926A SerialLINE(r) II Interface", "DeviceName=CD926", "DeviceID=0",
                       "DeviceState=0", "PortSel=1,2,3,4", "Port=1", "BaudRateSel=1,2,3,4,5,6", "BaudRate=5",
                       "DataBitLenSel=7,8", "DataBitLen=8", "StopBitsSel=1,2", "StopBits=1", "ParitySel=0,1,2",
                       "Parity=0", "HandShakingSel=0,1,2", "HandShaking=0", "StatusSel=0,1,2,3", "Status=0",
                       "FirstOC=7", "TimeOut=1000"}));
    EXPECT_EQ(class_values(), Strings{"Till One=CD926"});
}

TEST_F(DialogsGui, MissingUsbLibraryIsReportedAndCancelLeavesNoEntry) {
    config::write_service_settings(registry(), {"C:\\nowhere", 0});
    bool finished = true;
    std::string key, ldn;
    drive([&] { finished = host.run_wizard(nullptr, &key, &ldn); },
          [&] {
              HWND page1 = wait_window("Add New Cash Drawer Device [ZRN Device Key]");
              ASSERT_NE(page1, nullptr);
              select_item(page1, IDC_MODEL, "Model 615 ParallelLINE(tm) Interface");
              set_text(page1, IDC_PAGE1_LDN, "Back Office");
              press(page1, IDOK);
              HWND box = wait_window(std::string(kApplicationTitle));
              ASSERT_NE(box, nullptr);
              EXPECT_EQ(box_text(box), "Error: Missing USB730SO.DLL file");
              screenshot(box, "missing_usb_library");
              PostMessageA(box, WM_COMMAND, IDOK, 0);
              ASSERT_TRUE(wait_gone(box));
              HWND page2 = wait_window("Add New Cash Drawer Device Settings");
              ASSERT_NE(page2, nullptr);
              EXPECT_EQ(device_keys(), Strings{"CD615"});
              EXPECT_EQ(class_values(), Strings{"Back Office=CD615"});
              EXPECT_EQ(text_of(page2, IDC_PORT_GROUP), " LPT Port Setting ");
              EXPECT_FALSE(enabled(page2, IDC_BAUD));
              EXPECT_TRUE(enabled(page2, IDC_DRAWER_NO));
              screenshot(page2, "add_device_page2_parallel");
              press(page2, IDCANCEL);
              EXPECT_TRUE(wait_gone(page2));
          });
    EXPECT_FALSE(finished);
    EXPECT_TRUE(device_keys().empty());
    EXPECT_TRUE(class_values().empty());
}

TEST_F(DialogsGui, ModifyPageLoadsAndSavesACd347) {
    config::DeviceEntry entry = config::default_entry("CD347", kDeviceTypes[1]);
    entry.Port = 2;
    entry.BaudRate = 3;
    ASSERT_TRUE(config::write_device_entry(registry(), entry));
    bool finished = false;
    drive([&] { finished = host.run_modify(nullptr, "CD347"); },
          [&] {
              HWND page = wait_window("Modify Cash Drawer Device Settings");
              ASSERT_NE(page, nullptr);
              EXPECT_EQ(text_of(page, IDC_PORT), "COM2");
              EXPECT_EQ(text_of(page, IDC_BAUD), "2400");
              EXPECT_EQ(text_of(page, IDC_SECOND_OC), "91");
              EXPECT_EQ(text_of(page, IDC_DRAWER_NO), "1");
              EXPECT_EQ(IsDlgButtonChecked(page, IDC_CTS), BST_CHECKED);
              EXPECT_FALSE(enabled(page, IDC_HAND_SHAKING));
              EXPECT_FALSE(enabled(page, IDC_BACK) && IsWindowVisible(GetDlgItem(page, IDC_BACK)));
              screenshot(page, "modify_settings");

              // Ring line: CTS off, Hand Shaking CTS/RTS and usable.
              SendMessageA(GetDlgItem(page, IDC_RING), BM_CLICK, 0, 0);
              EXPECT_EQ(IsDlgButtonChecked(page, IDC_CTS), BST_UNCHECKED);
              EXPECT_TRUE(enabled(page, IDC_HAND_SHAKING));
              EXPECT_EQ(text_of(page, IDC_HAND_SHAKING), "CTS/RTS");
              select_item(page, IDC_BAUD, "19200");

              // An open character above 255 is refused on Finish.
              set_text(page, IDC_SECOND_OC, "300");
              press(page, IDOK);
              HWND box = wait_window("Invalid Open Character");
              ASSERT_NE(box, nullptr);
              EXPECT_EQ(box_text(box), "Open Character must be an ASCII\r\nvalue between 0 - 255");
              screenshot(box, "invalid_open_character");
              PostMessageA(box, WM_COMMAND, IDOK, 0);
              ASSERT_TRUE(wait_gone(box));
              EXPECT_TRUE(IsWindowVisible(page));
              set_text(page, IDC_SECOND_OC, "27");
              press(page, IDOK);
              EXPECT_TRUE(wait_gone(page));
          });
    EXPECT_TRUE(finished);
    const Strings values = entry_values("CD347");
    for (const std::string v : {"Port=2", "BaudRate=6", "HandShaking=1", "Status=1", "SecondOC=27", "FirstOC=91"})
        EXPECT_NE(std::find(values.begin(), values.end(), v), values.end()) << v;
}

TEST_F(DialogsGui, LdnDialogAddsAndRemovesNamesAndFinishWritesThem) {
    config::write_device_entry(registry(), config::default_entry("CD615", kDeviceTypes[2]));
    config::write_logical_name(registry(), "Old", "CD615");
    config::write_logical_name(registry(), "Elsewhere", "CD926");
    bool finished = false;
    drive([&] { finished = host.run_ldn(nullptr, "CD615"); },
          [&] {
              HWND dialog = wait_window("Logical Device Name Setting");
              ASSERT_NE(dialog, nullptr);
              EXPECT_EQ(text_of(dialog, IDC_KEY), "CD615");
              EXPECT_EQ(list_items(dialog, IDC_LDN_LIST), Strings{"Old"});
              for (const char* name : {"Front", "Back"}) {
                  set_text(dialog, IDC_LDN_VALUE, name);
                  press(dialog, IDC_LDN_ADD);
                  flush(dialog);
              }
              EXPECT_EQ(list_items(dialog, IDC_LDN_LIST), (Strings{"Back", "Front", "Old"}));
              EXPECT_EQ(text_of(dialog, IDC_LDN_VALUE), "");
              // A name of another device is refused.
              set_text(dialog, IDC_LDN_VALUE, "Elsewhere");
              press(dialog, IDC_LDN_ADD);
              HWND box = wait_window("QVTUtility");
              ASSERT_NE(box, nullptr);
              EXPECT_EQ(box_text(box),
                        "The Logical Device Name  'Elsewhere'  already      \nexists.  Please use a different name.");
              PostMessageA(box, WM_COMMAND, IDOK, 0);
              ASSERT_TRUE(wait_gone(box));
              screenshot(dialog, "ldn_dialog");

              SendMessageA(GetDlgItem(dialog, IDC_LDN_LIST), LB_SELECTSTRING, static_cast<WPARAM>(-1),
                           reinterpret_cast<LPARAM>("Old"));
              press(dialog, IDC_LDN_REMOVE);
              box = wait_window("QVTUtility");
              ASSERT_NE(box, nullptr);
              EXPECT_EQ(box_text(box), "Are you sure you want to remove the\nLDN 'Old' ?");
              screenshot(box, "ldn_remove_question");
              PostMessageA(box, WM_COMMAND, IDYES, 0);
              ASSERT_TRUE(wait_gone(box));
              flush(dialog);
              EXPECT_EQ(list_items(dialog, IDC_LDN_LIST), (Strings{"Back", "Front"}));
              // Nothing is written before Finish.
              EXPECT_EQ(sorted(class_values()), sorted({"Old=CD615", "Elsewhere=CD926"}));
              press(dialog, IDOK);
              EXPECT_TRUE(wait_gone(dialog));
          });
    EXPECT_TRUE(finished);
    EXPECT_EQ(sorted(class_values()), sorted({"Elsewhere=CD926", "Front=CD615", "Back=CD615"}));
}

TEST_F(DialogsGui, InformationPageShowsTheControlObjectKey) {
    {
        platform::ScopedKey k(registry());
        ASSERT_EQ(registry().create_key(platform::kHklm, kControlObjectInfoKey, "", k.out(), nullptr),
                  platform::kRegOk);
        platform::set_sz(registry(), k.get(), "", "OPOS CashDrawer Control Object (test)");
        platform::set_sz(registry(), k.get(), "Version", "1.14.001");
        platform::ScopedKey settings(registry());
        ASSERT_EQ(registry().create_key(platform::kHklm, kServiceSettingsKey, "", settings.out(), nullptr),
                  platform::kRegOk);
        platform::set_dword(registry(), settings.get(), "TraceKeepDays", 30);
    }
    drive([&] { host.run_property(nullptr); },
          [&] {
              HWND page = wait_window("ZRN OPOS ADK [QVTUtility]");
              ASSERT_NE(page, nullptr);
              EXPECT_EQ(text_of(page, IDC_CO_DESCRIPTION), "OPOS CashDrawer Control Object (test)");
              EXPECT_EQ(text_of(page, IDC_CO_CLASS), "CashDrawer");
              EXPECT_EQ(text_of(page, IDC_CO_VERSION), "1.14.001");
              EXPECT_EQ(text_of(page, IDC_SO_VERSION), "3.38.1 [SD]");
              EXPECT_EQ(text_of(page, IDC_SO_RELEASE), "UPOS Standard Release 1.7 (OPOS)");
              EXPECT_EQ(text_of(page, IDC_TRACE).rfind("off (TraceEnabled ", 0), 0u) << text_of(page, IDC_TRACE);
              EXPECT_EQ(text_of(page, IDC_TRACE_KEPT), "files older than 30 days are deleted (TraceKeepDays 30)");
              screenshot(page, "information_page");
              press(page, IDOK);
              EXPECT_TRUE(wait_gone(page));
          });
    registry().delete_key(platform::kHklm, kControlObjectInfoKey);
    platform::ScopedKey settings(registry());
    if (registry().open_key(platform::kHklm, kServiceSettingsKey, true, settings.out()) == platform::kRegOk)
        registry().delete_value(settings.get(), "TraceKeepDays");
}

// The registry of the prefix, refusing writes while told to, as the
// registry of a till refuses a user without the right to change it.
class RefusingRegistry final : public platform::ForwardingRegistry {
public:
    RefusingRegistry() : ForwardingRegistry(registry()) {}
    platform::RegStatus set_value(platform::RegKey k, std::string_view n, const platform::RegData& d) override {
        return refuse ? ERROR_ACCESS_DENIED : ForwardingRegistry::set_value(k, n, d);
    }
    bool refuse = false;
};

// Answers the box of that caption and text with a button, after a look.
void answer(const std::string& caption, const std::string& text, const std::string& shot, int button = IDOK) {
    HWND box = wait_window(caption);
    ASSERT_NE(box, nullptr) << text;
    EXPECT_EQ(box_text(box), text);
    screenshot(box, shot);
    PostMessageA(box, WM_COMMAND, button, 0);
    ASSERT_TRUE(wait_gone(box));
}

// What a technician types is used or refused; a refused or failed write is
// named with the device and the system's words, and the page stays open;
// another program's change in progress is named; a device removed
// meanwhile is said to be gone.
TEST_F(DialogsGui, RefusedWritesAndTypedValuesAreNamedAndThePagesStayOpen) {
    RefusingRegistry refusing;
    zrn::win32::Win32ConfigLock lock;
    config::DeviceStore checked_store{refusing, prompter, &lock};
    DialogHost checked{GetModuleHandleA(nullptr), checked_store, prompter, clock};
    ASSERT_TRUE(config::write_device_entry(registry(), config::default_entry("CD926", kDeviceTypes[0])));
    bool finished = true;
    drive([&] { finished = checked.run_modify(nullptr, "CD926"); },
          [&] {
              HWND page = wait_window("Modify Cash Drawer Device Settings");
              ASSERT_NE(page, nullptr);
              set_text(page, IDC_PORT, "COM5");
              press(page, IDOK);
              answer("QVTUtility", "The port 'COM5' is not one of COM1, COM2, COM3, COM4.\n\nChoose the port from the list.",
                     "port_not_in_list");
              EXPECT_TRUE(IsWindowVisible(page));
              set_text(page, IDC_PORT, "com2");
              refusing.refuse = true;
              press(page, IDOK);
              answer("QVTUtility",
                     "The settings of the cash drawer device 'CD926' could not be saved.\n\nRegSetValueExA \"Status\" failed: " +
                         registry().error_text(ERROR_ACCESS_DENIED),
                     "save_refused");
              EXPECT_TRUE(IsWindowVisible(page)) << "nothing entered is lost";
              EXPECT_EQ(text_of(page, IDC_PORT), "COM2");
              refusing.refuse = false;

              // zrncd config holds the configuration (here: another thread).
              HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr);
              HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
              std::thread other([&] {
                  zrn::win32::Win32ConfigLock theirs;
                  std::string h;
                  theirs.acquire(5000, "zrncd config import", &h);
                  SetEvent(held);
                  WaitForSingleObject(done, 60000);
                  theirs.release();
              });
              WaitForSingleObject(held, 20000);
              press(page, IDOK);
              HWND box = wait_window("QVTUtility", nullptr, 30000);
              ASSERT_NE(box, nullptr);
              EXPECT_EQ(box_text(box).rfind("The cash drawer configuration is being changed by zrncd config import "
                                            "(process " + std::to_string(GetCurrentProcessId()) + ", since ", 0),
                        0u)
                  << box_text(box);
              screenshot(box, "configuration_locked");
              PostMessageA(box, WM_COMMAND, IDOK, 0);
              EXPECT_TRUE(wait_gone(box));
              SetEvent(done);
              other.join();
              CloseHandle(held);
              CloseHandle(done);
              EXPECT_TRUE(IsWindowVisible(page));

              // Removed by another program while the page is open.
              registry().delete_key(platform::kHklm, std::string(kDeviceClassKey) + "\\CD926");
              press(page, IDOK);
              answer("QVTUtility",
                     "The cash drawer device 'CD926' does not exist any more: another program removed it while this "
                     "page was open.\n\nNothing was saved.",
                     "device_gone");
              EXPECT_TRUE(wait_gone(page));
          });
    EXPECT_FALSE(finished);
    EXPECT_TRUE(device_keys().empty());

    // A logical name the registry refuses: named, and the old set kept.
    ASSERT_TRUE(config::write_device_entry(registry(), config::default_entry("CD926", kDeviceTypes[0])));
    config::write_logical_name(registry(), "Front", "CD926");
    drive([&] { finished = checked.run_ldn(nullptr, "CD926"); },
          [&] {
              HWND dialog = wait_window("Logical Device Name Setting");
              ASSERT_NE(dialog, nullptr);
              set_text(dialog, IDC_LDN_VALUE, "Till7");
              press(dialog, IDC_LDN_ADD);
              flush(dialog);
              refusing.refuse = true;
              press(dialog, IDOK);
              answer("QVTUtility",
                     "The logical device name 'Till7' could not be added for 'CD926'.\n\nRegSetValueExA \"Till7\" failed: " +
                         registry().error_text(ERROR_ACCESS_DENIED) +
                         "\n\nThe logical device names of 'CD926' were left as they were.",
                     "ldn_not_added");
              EXPECT_TRUE(IsWindowVisible(dialog));
              refusing.refuse = false;
              press(dialog, IDOK);
              EXPECT_TRUE(wait_gone(dialog));
          });
    EXPECT_TRUE(finished);
    EXPECT_EQ(sorted(class_values()), sorted({"Front=CD926", "Till7=CD926"}));

    // Removing the USB drawer leaves a USB file it cannot rewrite whole, and
    // says so.
    ASSERT_TRUE(config::write_device_entry(registry(), config::default_entry("CD730", kDeviceTypes[3])));
    const std::string usb_path(config::kUsbConfigPath);
    CreateDirectoryA(std::string(config::kUsbConfigFolder).c_str(), nullptr);
    const std::string declared = "<?xml version=\"1.0\"?>\r\n<ZRNUSB730Config Version=\"1.0\"><HIDID UPort=\"USB0\" "
                                 "ID=\"5\"/></ZRNUSB730Config>";
    {
        HANDLE f = CreateFileA(usb_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        DWORD n = 0;
        WriteFile(f, declared.data(), static_cast<DWORD>(declared.size()), &n, nullptr);
        CloseHandle(f);
    }
    zrn::win32::Win32Files files;
    config::UsbConfig usb_config(files);
    LeftViewPresenter presenter(checked_store, usb_config, prompter);
    presenter.fill_tree();
    for (const TreeItem& item : presenter.items())
        if (item.text == "CD730") presenter.on_selection_changed(item.id);
    drive([&] { presenter.on_command(kIdRemoveDevice); },
          [&] {
              answer("QVTUtility", "Are you sure you want to remove the\nCD730 cash drawer device?", "remove_question",
                     IDYES);
              answer("QVTUtility",
                     "The CD730 cash drawer device was removed, but its slot in the USB configuration file\n" +
                         usb_path +
                         "\nwas left as it is: it begins with an XML declaration, which this program would not write "
                         "back.",
                     "usb_file_left_alone");
          });
    EXPECT_EQ(device_keys(), Strings{"CD926"});
    std::string kept(declared.size() + 16, '\0');
    {
        HANDLE f = CreateFileA(usb_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE);
        DWORD n = 0;
        ReadFile(f, kept.data(), static_cast<DWORD>(kept.size()), &n, nullptr);
        kept.resize(n);
        CloseHandle(f);
    }
    EXPECT_EQ(kept, declared);
}

// The main window's commands start the dialogs and take back what they did.
TEST_F(DialogsGui, MainWindowCommandsRunTheDialogs) {
    zrn::win32::Win32Files files;
    config::UsbConfig usb_config(files);
    LeftViewPresenter presenter(store, usb_config, prompter);
    CMainFrame frame(presenter, prompter);
    frame.set_dialog_host(&host);
    prompter.set_owner(nullptr);
    ASSERT_TRUE(frame.Create(GetModuleHandleA(nullptr)));
    ShowWindow(frame.hwnd(), SW_SHOW);
    HWND main = frame.hwnd();
    drive(
        [&] {
            PostMessageA(main, WM_COMMAND, ID_ADD_DEVICE, 0);
            MSG m;
            while (GetMessageA(&m, nullptr, 0, 0) > 0) {
                TranslateMessage(&m);
                DispatchMessageA(&m);
            }
        },
        [&] {
            struct CloseAtEnd {
                HWND w;
                ~CloseAtEnd() { PostMessageA(w, WM_CLOSE, 0, 0); }
            } close_at_end{main};
            HWND page1 = wait_window("Add New Cash Drawer Device [ZRN Device Key]");
            ASSERT_NE(page1, nullptr);
            EXPECT_FALSE(IsWindowEnabled(main)) << "the wizard is modal";
            select_item(page1, IDC_MODEL, "Model 347A Smart SerialLINE(r) Interface");
            set_text(page1, IDC_PAGE1_LDN, "Front Till");
            press(page1, IDOK);
            HWND page2 = wait_window("Add New Cash Drawer Device Settings");
            ASSERT_NE(page2, nullptr);
            select_item(page2, IDC_PORT, "COM2");
            press(page2, IDOK);
            ASSERT_TRUE(wait_gone(page2));
            flush(main);
            EXPECT_TRUE(IsWindowEnabled(main));

            // The new entry is selected: its settings and names are a command away.
            PostMessageA(main, WM_COMMAND, ID_MODIFY_SETTINGS, 0);
            HWND modify = wait_window("Modify Cash Drawer Device Settings");
            ASSERT_NE(modify, nullptr);
            EXPECT_EQ(text_of(modify, IDC_KEY), "CD347");
            EXPECT_EQ(text_of(modify, IDC_PORT), "COM2");
            press(modify, IDCANCEL);
            ASSERT_TRUE(wait_gone(modify));
            PostMessageA(main, WM_COMMAND, ID_ADD_LDN, 0);
            HWND ldn = wait_window("Logical Device Name Setting");
            ASSERT_NE(ldn, nullptr);
            EXPECT_EQ(list_items(ldn, IDC_LDN_LIST), Strings{"Front Till"});
            press(ldn, IDCANCEL);
            ASSERT_TRUE(wait_gone(ldn));
            PostMessageA(main, WM_COMMAND, ID_PROPERTY, 0);
            HWND page = wait_window("ZRN OPOS ADK [QVTUtility]");
            ASSERT_NE(page, nullptr);
            // No Control Object installed: only the Service Object group is filled.
            EXPECT_EQ(text_of(page, IDC_CO_DESCRIPTION), "");
            EXPECT_EQ(text_of(page, IDC_CO_CLASS), "");
            EXPECT_EQ(text_of(page, IDC_SO_VERSION), "3.38.1 [SD]");
            screenshot(page, "information_page_from_main_window");
            press(page, IDOK);
            ASSERT_TRUE(wait_gone(page));
        });
    bool listed = false;
    for (const TreeItem& item : presenter.items()) listed |= item.text == "CD347";
    EXPECT_TRUE(listed);
    EXPECT_EQ(presenter.text_of(presenter.caret()), "CD347");
    EXPECT_EQ(class_values(), Strings{"Front Till=CD347"});
    EXPECT_NE(std::find(entry_values("CD347").begin(), entry_values("CD347").end(), "Port=2"),
              entry_values("CD347").end());
}

// drawersim, the technician's drawer simulator, as a separate process.
bool drawersim(const std::string& args) { return testing::run_program(client::windows_path(ZRN_DRAWERSIM), args); }

TEST_F(DialogsGui, HealthCheckOpensTheDrawerThroughTheControlObject) {
    ASSERT_TRUE(call_registration(ZRN_SO_DLL, "DllRegisterServer"));
    config::DeviceEntry entry = config::default_entry("CD347", kDeviceTypes[1]);
    entry.Port = 2;
    ASSERT_TRUE(config::write_device_entry(registry(), entry));
    // The test holds the simulated hardware for drawersim and the drivers.
    sim::SimState* hw = sim::shared_state();
    ASSERT_NE(hw, nullptr);
    {
        std::lock_guard guard(sim::shared_lock());
        sim::init_state(hw);
    }

    // Without a Control Object the user is told so.
    call_registration(ZRN_STANDIN_CO_DLL, "DllUnregisterServer");
    drive([&] { host.run_check_health(nullptr, "CD347"); },
          [&] {
              HWND box = wait_window("CD347 OPOS CheckHealth (Interactive)");
              ASSERT_NE(box, nullptr);
              EXPECT_NE(box_text(box).find("Control Object is not installed"), std::string::npos);
              screenshot(box, "health_check_no_control_object");
              PostMessageA(box, WM_COMMAND, IDOK, 0);
              EXPECT_TRUE(wait_gone(box));
          });

    ASSERT_TRUE(call_registration(ZRN_STANDIN_CO_DLL, "DllRegisterServer"));
    std::string report_open, report_closed;
    std::uint32_t after_first = 0, after_second = 0;
    const auto written = [&] {
        std::lock_guard guard(sim::shared_lock());
        return hw->com[1].written_total;
    };
    drive([&] { host.run_check_health(nullptr, "CD347"); },
          [&] {
              HWND box = wait_window("CD347 Cash Drawer Status: Device Enabling Required");
              ASSERT_NE(box, nullptr);
              screenshot(box, "health_check_reminder");
              PostMessageA(box, WM_COMMAND, IDOK, 0);
              ASSERT_TRUE(wait_gone(box));

              // The drawer is seen open once it has sprung open.
              HWND ask = wait_window("CD347 OPOS CheckHealth (Interactive)");
              ASSERT_NE(ask, nullptr);
              EXPECT_EQ(box_text(ask), "Press OK to open cash drawer, CANCEL to quit  ");
              screenshot(ask, "health_check_prompt");
              ASSERT_TRUE(drawersim("open COM2"));
              PostMessageA(ask, WM_COMMAND, IDOK, 0);
              HWND report = wait_window("CD347 OPOS CheckHealth (Interactive)", ask);
              ASSERT_NE(report, nullptr);
              report_open = box_text(report);
              after_first = written();
              screenshot(report, "health_check_open_successful");
              PostMessageA(report, WM_COMMAND, IDOK, 0);
              ASSERT_TRUE(wait_gone(report));

              // Closed again: the next opening reports what the drawer shows.
              ASSERT_TRUE(drawersim("close COM2"));
              ask = wait_window("CD347 OPOS CheckHealth (Interactive)", report);
              ASSERT_NE(ask, nullptr);
              PostMessageA(ask, WM_COMMAND, IDOK, 0);
              report = wait_window("CD347 OPOS CheckHealth (Interactive)", ask);
              ASSERT_NE(report, nullptr);
              report_closed = box_text(report);
              after_second = written();
              PostMessageA(report, WM_COMMAND, IDOK, 0);
              ASSERT_TRUE(wait_gone(report));
              ask = wait_window("CD347 OPOS CheckHealth (Interactive)", report);
              ASSERT_NE(ask, nullptr);
              PostMessageA(ask, WM_COMMAND, IDCANCEL, 0);
              EXPECT_TRUE(wait_gone(ask));
          });
    // The modify page saves and then runs the same check from its button.
    drive([&] { host.run_modify(nullptr, "CD347"); },
          [&] {
              HWND page = wait_window("Modify Cash Drawer Device Settings");
              ASSERT_NE(page, nullptr);
              select_item(page, IDC_STOP_BITS, "2");
              press(page, IDC_HEALTH_CHECK);
              HWND box = wait_window("CD347 Cash Drawer Status: Device Enabling Required");
              ASSERT_NE(box, nullptr);
              EXPECT_FALSE(IsWindowEnabled(page)) << "the check is modal over the page";
              const Strings saved = entry_values("CD347");
              EXPECT_NE(std::find(saved.begin(), saved.end(), "StopBits=2"), saved.end()) << "saved first";
              PostMessageA(box, WM_COMMAND, IDOK, 0);
              ASSERT_TRUE(wait_gone(box));
              HWND ask = wait_window("CD347 OPOS CheckHealth (Interactive)");
              ASSERT_NE(ask, nullptr);
              PostMessageA(ask, WM_COMMAND, IDCANCEL, 0);
              ASSERT_TRUE(wait_gone(ask));
              flush(page);
              EXPECT_TRUE(IsWindowEnabled(page));
              press(page, IDCANCEL);
              EXPECT_TRUE(wait_gone(page));
          });
    EXPECT_EQ(report_open, "DrawerOpened = 0x00000001, Result Code = 0x00000000        \nCash Drawer open successful");
    EXPECT_EQ(report_closed, "DrawerOpened = 0x00000000, Result Code = 0x00000000        \nCash Drawer open failed");
    // Each opening reached the drawer on COM2, the same bytes each time.
    EXPECT_GT(after_first, 0u);
    EXPECT_EQ(after_second, 2 * after_first);
}

}  // namespace
}  // namespace zrn::utility::win32

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES | ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}
