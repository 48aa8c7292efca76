// The utility's main window on a real (virtual) display: created as the
// program creates it, driven through window messages and input, read back
// from its controls. The questions go to a scripted prompter.
//
//   zrn_utility_gui_test --shots=DIR   screenshots land in DIR (Unix path)
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "main_frame.h"
#include "screen_shot.h"
#include "win32_prompter.h"
#include "zrn/device_config.h"
#include "zrn/device_types.h"
#include "zrn/config/device_store.h"
#include "zrn/config/fake_prompter.h"
#include "zrn/utility/main_presenter.h"
#include "zrn/config/usb_config.h"
#include "zrn/win32/win32_platform.h"

namespace zrn::utility::win32 {
namespace {

using namespace std::chrono_literals;
using Strings = std::vector<std::string>;
using Rows = std::vector<std::pair<std::string, std::string>>;

std::string g_shots;  // screenshot folder as a Windows path, empty for none

// ---------------------------------------------------------------- setup

void write_sample_devices(zrn::win32::Win32Registry& reg) {
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, std::string(kDeviceClassKey).c_str());
    config::DeviceEntry smart = config::default_entry("CD347", *device_type_of("CD347"));
    smart.Port = 2;
    smart.DrawerNo = 1;
    ASSERT_TRUE(config::write_device_entry(reg, smart));
    ASSERT_TRUE(config::write_device_entry(reg, config::default_entry("CD926", *device_type_of("CD926"))));
    config::DeviceEntry parallel = config::default_entry("CD615", *device_type_of("CD615"));
    parallel.Port = 1;
    ASSERT_TRUE(config::write_device_entry(reg, parallel));
    ASSERT_TRUE(config::write_device_entry(reg, config::default_entry("CD730", *device_type_of("CD730"))));
    ASSERT_TRUE(config::write_logical_name(reg, "FrontDrawer", "CD347"));
    ASSERT_TRUE(config::write_logical_name(reg, "Till2", "CD347"));
    ASSERT_TRUE(config::write_logical_name(reg, "CashDrawer", "CD730"));
    ASSERT_TRUE(CreateDirectoryA(std::string(config::kUsbConfigFolder).c_str(), nullptr) ||
                GetLastError() == ERROR_ALREADY_EXISTS);
    std::ofstream(std::string(config::kUsbConfigPath), std::ios::binary | std::ios::trunc)
        << "<ZRNUSB730Config Version=\"1.0\"><HIDID UPort=\"USB0\" ID=\"5\"/><HIDID UPort=\"USB3\" ID=\"12\"/>"
           "</ZRNUSB730Config>";
}

// ---------------------------------------------------------------- reading the controls

void pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

// Keeps the message loop going for a while, so what was drawn reaches the
// display before a screenshot is taken.
void pump_for(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        pump();
    }
}

std::string tree_text(HWND tree, HTREEITEM item) {
    char text[256] = {};
    TVITEMA tv{};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = sizeof text;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tv));
    return text;
}

HTREEITEM tree_next(HWND tree, UINT how, HTREEITEM from = nullptr) {
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(from)));
}

// The root, then its children.
Strings tree_texts(HWND tree) {
    Strings texts;
    HTREEITEM root = tree_next(tree, TVGN_ROOT);
    if (root == nullptr) return texts;
    texts.push_back(tree_text(tree, root));
    for (HTREEITEM child = tree_next(tree, TVGN_CHILD, root); child != nullptr;
         child = tree_next(tree, TVGN_NEXT, child))
        texts.push_back(tree_text(tree, child));
    return texts;
}

HTREEITEM find_item(HWND tree, const std::string& text) {
    HTREEITEM root = tree_next(tree, TVGN_ROOT);
    if (root != nullptr && tree_text(tree, root) == text) return root;
    for (HTREEITEM child = tree_next(tree, TVGN_CHILD, root); child != nullptr;
         child = tree_next(tree, TVGN_NEXT, child))
        if (tree_text(tree, child) == text) return child;
    return nullptr;
}

std::string list_text(HWND list, int row, int column) {
    char text[256] = {};
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

Rows list_rows(HWND list) {
    Rows rows;
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) rows.emplace_back(list_text(list, i, 0), list_text(list, i, 1));
    return rows;
}

std::string status_text(HWND status) {
    char text[256] = {};
    const auto length = LOWORD(SendMessageA(status, SB_GETTEXTLENGTHA, 0, 0));
    if (length >= sizeof text) return "(too long)";
    SendMessageA(status, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
    return text;
}

// The main menu's items as the frame enables them when the menu opens.
bool menu_item_enabled(HWND frame, int command) {
    HMENU bar = GetMenu(frame);
    for (int i = 0; i < GetMenuItemCount(bar); ++i) {
        HMENU sub = GetSubMenu(bar, i);
        if (sub == nullptr || GetMenuState(sub, static_cast<UINT>(command), MF_BYCOMMAND) == static_cast<UINT>(-1))
            continue;
        SendMessageA(frame, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(sub), i);
        return (GetMenuState(sub, static_cast<UINT>(command), MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED)) == 0;
    }
    ADD_FAILURE() << "no menu item " << command;
    return false;
}

bool button_enabled(HWND toolbar, int command) {
    return SendMessageA(toolbar, TB_ISBUTTONENABLED, static_cast<WPARAM>(command), 0) != 0;
}

void shoot(HWND window, const char* name, int margin = 0) {
    if (g_shots.empty()) return;
    pump_for(400ms);
    const std::string path = g_shots + "\\" + name;
    EXPECT_TRUE(testing::save_screen_png(testing::around_window(window, margin), path)) << path;
}

// ---------------------------------------------------------------- pop-up menus

struct SeenMenu {
    bool seen = false;
    Strings items;  // texts, "-" for a separator, "(grey)" appended when disabled
};

// Waits on another thread for the pop-up menu the next request opens, reads
// its items and screenshot, and closes it with Escape. The window's thread
// runs the menu's own loop meanwhile.
class MenuWatcher {
public:
    MenuWatcher(HWND frame, const char* shot) : frame_(frame), shot_(shot) {
        thread_ = std::thread([this] { watch(); });
    }
    ~MenuWatcher() { finish(); }
    // Runs the window's messages until the watcher is done; the result.
    SeenMenu finish() {
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (!done_ && std::chrono::steady_clock::now() < end) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            pump();
        }
        if (thread_.joinable()) {
            stop_ = true;
            thread_.join();
        }
        return seen_;
    }

private:
    void watch() {
        const auto end = std::chrono::steady_clock::now() + 15s;
        HWND menu = nullptr;
        while (!stop_ && std::chrono::steady_clock::now() < end) {
            menu = FindWindowA("#32768", nullptr);
            if (menu != nullptr && IsWindowVisible(menu)) break;
            menu = nullptr;
            std::this_thread::sleep_for(10ms);
        }
        if (menu != nullptr) {
            seen_.seen = true;
            auto* popup = reinterpret_cast<HMENU>(SendMessageA(menu, MN_GETHMENU, 0, 0));
            for (int i = 0; popup != nullptr && i < GetMenuItemCount(popup); ++i) {
                char text[128] = {};
                const UINT state = GetMenuState(popup, static_cast<UINT>(i), MF_BYPOSITION);
                if ((state & MF_SEPARATOR) != 0) {
                    seen_.items.emplace_back("-");
                    continue;
                }
                GetMenuStringA(popup, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
                seen_.items.push_back(std::string(text) + ((state & MF_GRAYED) != 0 ? " (grey)" : ""));
            }
            if (shot_ != nullptr && !g_shots.empty()) {
                std::this_thread::sleep_for(400ms);  // let the menu be drawn
                testing::save_screen_png(testing::around_window(frame_, 0), g_shots + "\\" + shot_);
            }
            PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
            // A menu of the menu bar leaves the bar in menu mode after Escape.
            PostMessageA(frame_, WM_CANCELMODE, 0, 0);
        }
        done_ = true;
    }

    HWND frame_;
    const char* shot_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    std::atomic<bool> stop_{false};
    SeenMenu seen_;
};

void send_keys(std::initializer_list<std::pair<WORD, bool>> keys) {
    std::vector<INPUT> inputs;
    for (const auto& [key, up] : keys) {
        INPUT in{};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = key;
        in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(in);
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// ---------------------------------------------------------------- the window

class MainWindowGui : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s = std::make_unique<Shared>();
        write_sample_devices(s->registry);
        s->frame = std::make_unique<CMainFrame>(s->presenter, s->box);
        ASSERT_TRUE(s->frame->Create(GetModuleHandleA(nullptr)));
        ShowWindow(s->frame->hwnd(), SW_SHOWNORMAL);
        UpdateWindow(s->frame->hwnd());
        SetForegroundWindow(s->frame->hwnd());
        pump();
    }
    static void TearDownTestSuite() {
        if (s && s->frame) DestroyWindow(s->frame->hwnd());
        pump();
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, std::string(kDeviceClassKey).c_str());
        s.reset();
    }

    HWND frame() const { return s->frame->hwnd(); }
    HWND splitter() const { return GetDlgItem(frame(), 0xE900); }
    HWND tree() const { return GetDlgItem(splitter(), 0xE900); }
    HWND list() const { return GetDlgItem(splitter(), 0xE901); }
    HWND toolbar() const { return GetDlgItem(frame(), 0xE800); }
    HWND status() const { return GetDlgItem(frame(), 0xE801); }

    void select(const std::string& text) {
        HTREEITEM item = find_item(tree(), text);
        ASSERT_NE(item, nullptr) << text;
        SendMessageA(tree(), TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        pump();
    }

    struct Shared {
        zrn::win32::Win32Registry registry;  // this build's own view
        zrn::win32::Win32Files files;
        config::FakePrompter prompter;
        Win32Prompter box;
        config::DeviceStore store{registry, prompter};
        config::UsbConfig usb{files};
        LeftViewPresenter presenter{store, usb, prompter};
        std::unique_ptr<CMainFrame> frame;
    };
    static std::unique_ptr<Shared> s;
};

std::unique_ptr<MainWindowGui::Shared> MainWindowGui::s;

TEST_F(MainWindowGui, TitleGeometryAndTheInitialTree) {
    char title[128] = {};
    GetWindowTextA(frame(), title, sizeof title);
    EXPECT_STREQ(title, "ZRN OPOS Configuration Utility v3.38.1 [UPOS 1.7]");
    RECT rect{};
    GetWindowRect(frame(), &rect);
    EXPECT_EQ(rect.right - rect.left, 650);
    EXPECT_EQ(rect.bottom - rect.top, 470);
    RECT work{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_LE(std::abs((rect.left + rect.right) - (work.left + work.right)), 1) << "centred across";
    EXPECT_LE(std::abs((rect.top + rect.bottom) - (work.top + work.bottom)), 1) << "centred down";
    RECT pane{};
    GetWindowRect(tree(), &pane);
    EXPECT_EQ(pane.right - pane.left, 170);

    // Sub-keys in the registry's enumeration order (by name), under the root,
    // which starts expanded.
    const auto root_state = SendMessageA(tree(), TVM_GETITEMSTATE,
                                         reinterpret_cast<WPARAM>(tree_next(tree(), TVGN_ROOT)), TVIS_EXPANDED);
    EXPECT_NE(root_state & TVIS_EXPANDED, 0);
    EXPECT_EQ(tree_texts(tree()), (Strings{"CashDrawer", "CD347", "CD615", "CD730", "CD926"}));
    // Until the first selection the idle text shows; the tree control itself
    // selects its first item when it gets the focus, which is a selection.
    const bool selected = tree_next(tree(), TVGN_CARET) != nullptr;
    EXPECT_EQ(status_text(status()), selected ? "Cash Drawer device" : "CashDrawer device");
    EXPECT_TRUE(button_enabled(toolbar(), kIdAddDevice));
    EXPECT_FALSE(button_enabled(toolbar(), kIdRemoveDevice));

    select("CashDrawer");
    EXPECT_EQ(status_text(status()), "Cash Drawer device");
    EXPECT_TRUE(list_rows(list()).empty());
    EXPECT_TRUE(menu_item_enabled(frame(), kIdAddDevice));
    for (int command : {kIdAddLdn, kIdRemoveDevice, kIdModifySettings, kIdCheckHealth}) {
        EXPECT_FALSE(menu_item_enabled(frame(), command)) << command;
        EXPECT_FALSE(button_enabled(toolbar(), command)) << command;
    }
    shoot(frame(), "utility-root.png");
}

TEST_F(MainWindowGui, DeviceRowsStatusAndEnableStates) {
    select("CD347");
    EXPECT_EQ(list_rows(list()), (Rows{{"Device Name", "Model 347A Smart SerialLINE(r) Interface"},
                                       {"Port", "COM2"},
                                       {"Serial Settings", "9600,8,1,None,None"},
                                       {"Status Indicator", "CTS"},
                                       {"ASCII Open Character1", "91"},
                                       {"ASCII Open Drawer Character2", "91"},
                                       {"Drawer Number", "1"},
                                       {"LDN", "Till2"},  // the names in reverse order of the registry's
                                       {"LDN", "FrontDrawer"}}));
    EXPECT_EQ(status_text(status()), "CD347");
    for (int command : {kIdAddDevice, kIdAddLdn, kIdRemoveDevice, kIdModifySettings, kIdCheckHealth}) {
        EXPECT_TRUE(menu_item_enabled(frame(), command)) << command;
        EXPECT_TRUE(button_enabled(toolbar(), command)) << command;
    }
    shoot(frame(), "utility-cd347.png");

    select("CD615");
    EXPECT_EQ(list_rows(list()), (Rows{{"Device Name", "Model 615 ParallelLINE(tm) Interface"},
                                       {"Port", "LPT1"},
                                       {"ASCII Open Drawer Character1", "91"},
                                       {"ASCII Open Drawer Character2", "91"},
                                       {"Drawer Number", "1"}}));

    // With the list pane active, only the tree's commands go grey.
    SetFocus(list());
    pump();
    EXPECT_FALSE(button_enabled(toolbar(), kIdRemoveDevice));
    EXPECT_FALSE(menu_item_enabled(frame(), kIdModifySettings));
    EXPECT_TRUE(menu_item_enabled(frame(), kIdAppAbout));
    SetFocus(tree());
    pump();
    EXPECT_TRUE(button_enabled(toolbar(), kIdRemoveDevice));

    // Hovering a menu item shows its prompt in the status bar.
    HMENU bar = GetMenu(frame());
    HMENU sub = nullptr;
    for (int i = 0; i < GetMenuItemCount(bar) && sub == nullptr; ++i) {
        HMENU candidate = GetSubMenu(bar, i);
        if (GetMenuState(candidate, kIdRemoveDevice, MF_BYCOMMAND) != static_cast<UINT>(-1)) sub = candidate;
    }
    ASSERT_NE(sub, nullptr);
    SendMessageA(frame(), WM_MENUSELECT, MAKEWPARAM(kIdRemoveDevice, MF_HILITE), reinterpret_cast<LPARAM>(sub));
    const std::string prompt = status_text(status());
    EXPECT_NE(prompt, "CD615");
    EXPECT_FALSE(prompt.empty());
    SendMessageA(frame(), WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    EXPECT_EQ(status_text(status()), "CD615") << "the menu closed";
}

TEST_F(MainWindowGui, RightClickAndKeyboardOpenTheirPopupMenus) {
    // A right click on a device item: that item becomes the caret and the
    // device menu opens.
    select("CashDrawer");
    HTREEITEM item = find_item(tree(), "CD730");
    ASSERT_NE(item, nullptr);
    RECT rect{};
    static_assert(sizeof(HTREEITEM) <= sizeof(RECT));
    std::memcpy(&rect, &item, sizeof item);  // the message takes the item in the rectangle
    ASSERT_TRUE(SendMessageA(tree(), TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&rect)));
    POINT at{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    POINT screen = at;
    ClientToScreen(tree(), &screen);
    SetCursorPos(screen.x, screen.y);
    SeenMenu device;
    {
        MenuWatcher watcher(frame(), "utility-popup-device.png");
        PostMessageA(tree(), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(at.x, at.y));
        PostMessageA(tree(), WM_RBUTTONUP, 0, MAKELPARAM(at.x, at.y));
        device = watcher.finish();
    }
    ASSERT_TRUE(device.seen) << "no pop-up menu opened on a right click";
    EXPECT_EQ(tree_text(tree(), tree_next(tree(), TVGN_CARET)), "CD730");
    EXPECT_EQ(status_text(status()), "CD730");
    EXPECT_EQ(device.items, (Strings{"&Add/Remove LDN  (Logical Device Name)", "-", "C&heck Health (Interactive)",
                                     "&Modify Device Settings", "-", "&Remove Device", "-", "&Property"}))
        << "the device menu, every command enabled";

    // Shift+F10 on the root: the root's menu. A keyboard request opens at the
    // cursor and takes the item under it, so the cursor leaves the tree.
    select("CashDrawer");
    RECT list_rect{};
    GetWindowRect(list(), &list_rect);
    SetCursorPos((list_rect.left + list_rect.right) / 2, (list_rect.top + list_rect.bottom) / 2);
    SetForegroundWindow(frame());
    SetFocus(tree());
    pump();
    SeenMenu root;
    {
        MenuWatcher watcher(frame(), nullptr);
        send_keys({{VK_SHIFT, false}, {VK_F10, false}, {VK_F10, true}, {VK_SHIFT, true}});
        root = watcher.finish();
    }
    ASSERT_TRUE(root.seen) << "no pop-up menu opened on Shift+F10";
    EXPECT_EQ(root.items, (Strings{"&Add Device", "&Properties"}));
    EXPECT_EQ(tree_text(tree(), tree_next(tree(), TVGN_CARET)), "CashDrawer");
}

TEST_F(MainWindowGui, RemovingTheUsbDeviceAsksThenUpdatesRegistryTreeAndFile) {
    select("CD730");
    s->prompter.clear();
    s->prompter.script({config::Answer::No});
    SendMessageA(frame(), WM_COMMAND, MAKEWPARAM(kIdRemoveDevice, 0), 0);
    pump();
    ASSERT_EQ(s->prompter.prompts().size(), 1u);
    EXPECT_EQ(s->prompter.prompts()[0].text, "Are you sure you want to remove the\nCD730 cash drawer device?");
    EXPECT_EQ(tree_texts(tree()), (Strings{"CashDrawer", "CD347", "CD615", "CD730", "CD926"})) << "answered No";

    s->prompter.script({config::Answer::Yes});
    SendMessageA(frame(), WM_COMMAND, MAKEWPARAM(kIdRemoveDevice, 0), 0);
    pump();
    EXPECT_EQ(s->prompter.unscripted(), 0);
    EXPECT_EQ(tree_texts(tree()), (Strings{"CashDrawer", "CD347", "CD615", "CD926"}));
    HKEY gone = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\OLEforRetail\\ServiceOPOS\\CashDrawer\\CD730", 0, KEY_READ,
                            &gone),
              ERROR_SUCCESS);
    std::ifstream in(std::string(config::kUsbConfigPath), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "<ZRNUSB730Config Version=\"1.0\"><HIDID UPort=\"USB3\" ID=\"12\"/></ZRNUSB730Config>");
    // The caret moved on to the next device, and the list shows it.
    EXPECT_EQ(tree_text(tree(), tree_next(tree(), TVGN_CARET)), "CD926");
    EXPECT_EQ(status_text(status()), "CD926");
    ASSERT_FALSE(list_rows(list()).empty());
    EXPECT_EQ(list_rows(list())[0].first, "Device Name");
    shoot(frame(), "utility-after-removal.png");
}

// Another program (zrncd config, a second utility) changed the registry:
// F5 shows it, keeping the selection; F6 and Tab move between the panes.
TEST_F(MainWindowGui, F5ReadsTheDevicesAgainAndF6AndTabMoveBetweenThePanes) {
    select("CD347");
    EXPECT_TRUE(menu_item_enabled(frame(), kIdRefresh));
    config::DeviceEntry added = config::default_entry("CD926-2", *device_type_of("CD926"));
    added.Port = 4;
    ASSERT_TRUE(config::write_device_entry(s->registry, added));
    ASSERT_TRUE(config::write_device_value(s->registry, "CD347", "Port", 3));
    ASSERT_EQ(RegDeleteTreeA(HKEY_LOCAL_MACHINE, (std::string(kDeviceClassKey) + "\\CD615").c_str()), ERROR_SUCCESS);
    const Strings before = tree_texts(tree());
    ASSERT_NE(std::find(before.begin(), before.end(), "CD615"), before.end()) << "nothing shown before F5";
    // What the registry holds now, in its order (by name): the root first.
    Strings expected;
    for (const std::string& text : before)
        if (text != "CD615") expected.push_back(text);
    expected.push_back("CD926-2");
    std::sort(expected.begin() + 1, expected.end());

    SetForegroundWindow(frame());
    SetFocus(tree());
    pump();
    const auto until = [&](const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (!done() && std::chrono::steady_clock::now() < end) pump_for(20ms);
        return done();
    };
    send_keys({{VK_F5, false}, {VK_F5, true}});
    ASSERT_TRUE(until([&] { return tree_texts(tree()) != before; })) << "F5 read nothing";
    EXPECT_EQ(tree_texts(tree()), expected);
    EXPECT_EQ(tree_text(tree(), tree_next(tree(), TVGN_CARET)), "CD347") << "the selection stays";
    EXPECT_EQ(status_text(status()), "CD347");
    EXPECT_EQ(list_rows(list())[1], (std::pair<std::string, std::string>{"Port", "COM3"}));
    shoot(frame(), "utility-after-refresh.png");

    // F6 to the list and back; Tab and Shift+Tab the same.
    send_keys({{VK_F6, false}, {VK_F6, true}});
    ASSERT_TRUE(until([&] { return GetFocus() == list(); })) << "F6 did not move to the list";
    EXPECT_FALSE(button_enabled(toolbar(), kIdRemoveDevice)) << "the list pane is the active one";
    shoot(frame(), "utility-list-pane-active.png");
    send_keys({{VK_TAB, false}, {VK_TAB, true}});
    ASSERT_TRUE(until([&] { return GetFocus() == tree(); })) << "Tab did not move to the tree";
    EXPECT_TRUE(button_enabled(toolbar(), kIdRemoveDevice));
    send_keys({{VK_SHIFT, false}, {VK_TAB, false}, {VK_TAB, true}, {VK_SHIFT, true}});
    ASSERT_TRUE(until([&] { return GetFocus() == list(); })) << "Shift+Tab did not move to the list";
    send_keys({{VK_F6, false}, {VK_F6, true}});
    ASSERT_TRUE(until([&] { return GetFocus() == tree(); }));

    // The View menu, as the keyboard opens it.
    SeenMenu view;
    {
        MenuWatcher watcher(frame(), "utility-view-menu.png");
        PostMessageA(frame(), WM_SYSCOMMAND, SC_KEYMENU, 'v');
        view = watcher.finish();
    }
    ASSERT_TRUE(view.seen) << "no View menu opened";
    EXPECT_EQ(view.items, Strings{"&Refresh\tF5"});
}

}  // namespace
}  // namespace zrn::utility::win32

// --shots=DIR (a Unix path; Wine reaches it through drive Z:).
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--shots=", 8) == 0) {
            std::string path = argv[i] + 8;
            for (char& c : path)
                if (c == '/') c = '\\';
            zrn::utility::win32::g_shots = path[0] == '\\' ? "Z:" + path : path;
        }
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    return RUN_ALL_TESTS();
}
