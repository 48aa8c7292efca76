#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "zrn/config/device_store.h"
#include "zrn/config/prompter.h"
#include "zrn/config/usb_config.h"

namespace zrn::utility {

// The program's name as message boxes show it in their caption bar.
inline constexpr std::string_view kApplicationTitle = "ZRN OPOS Configuration Utility v3.38.1 CM [UPOS 1.7]";
// The frame's fixed title; the document name is never appended.
inline constexpr std::string_view kWindowTitle = "ZRN OPOS Configuration Utility v3.38.1 [UPOS 1.7]";
inline constexpr std::string_view kIdleStatusText = "CashDrawer device";
inline constexpr std::string_view kProfileKey = "Local AppWizard-Generated Applications";
inline constexpr int kRecentFiles = 0;
// Caption of the utility's own questions and messages.
inline constexpr std::string_view kMessageCaption = "QVTUtility";

// Frame and splitter geometry, in pixels.
inline constexpr int kWindowWidth = 650;
inline constexpr int kWindowHeight = 470;
inline constexpr int kTreePaneWidth = 170;
inline constexpr int kListPaneWidth = 100;
inline constexpr int kPaneHeight = 100;

// Resources: the document template, toolbar and icon share 128.
inline constexpr int kIdrMainFrame = 128;
inline constexpr int kIdrLevel0 = 130;  // pop-up menu of the root item
inline constexpr int kIdrLevel1 = 133;  // pop-up menu of a device item

// Command ids.
inline constexpr int kIdAddDevice = 132;
inline constexpr int kIdAddLdn = 139;
inline constexpr int kIdRemoveDevice = 32782;
inline constexpr int kIdProperty = 134;
inline constexpr int kIdCheckHealth = 147;
inline constexpr int kIdModifySettings = 146;
inline constexpr int kIdAppExit = 57665;
inline constexpr int kIdAppAbout = 57664;
// View menu and keys: F5 reads the configuration again; F6 and Tab move
// between the tree and the list.
inline constexpr int kIdRefresh = 32790;
inline constexpr int kIdNextPane = 57680;
inline constexpr int kIdPrevPane = 57681;

// What the list shows for a value the selected device does not hold.
inline constexpr std::string_view kMissingValueText = "(missing)";

// The tree's root item and the status text while it is selected.
inline constexpr std::string_view kRootText = "CashDrawer";
inline constexpr std::string_view kRootStatusText = "Cash Drawer device";

// Tree items are small numbers, never reused while the program runs, so a
// window that maps them to its own handles cannot mistake a removed item for
// a new one.
using ItemId = int;
inline constexpr ItemId kNoItem = 0;

struct TreeItem {
    ItemId id;
    std::string text;
};

struct Point {
    int x;
    int y;
    bool operator==(const Point&) const = default;
};

// Icon until the first selection, report for a device, list for the root.
enum class ListMode { Icon, Report, List };

struct ListColumn {
    std::string title;
    int width;  // pixels; every column is left aligned
    bool operator==(const ListColumn&) const = default;
};

struct ListRow {
    std::string label;
    std::string value;
    bool operator==(const ListRow&) const = default;
};

// What the list pane shows. Rows are top to bottom.
struct ListState {
    ListMode mode = ListMode::Icon;
    std::vector<ListColumn> columns;
    std::vector<ListRow> rows;
};

// Pane 0 of the status bar. Width 0: as the frame created it (stretching,
// with borders) until the first selection; after that a fixed width without
// borders.
struct StatusPane {
    std::string text{kIdleStatusText};
    int width = 0;
};

struct PopupMenu {
    int resource;  // kIdrLevel0 or kIdrLevel1
    Point at;      // the menu's left edge, in the coordinates the request came in
};

// What the window runs after a command; each is a modal dialog.
enum class Run { Nothing, AddDeviceWizard, LdnDialog, ModifyDialog, CheckHealth, PropertyPage };

// The main window's state and rules: the device tree, the settings list of
// the selected device, the status text, the command enable flags and the
// commands. The window copies these fields into its controls and forwards
// notifications and commands; it decides nothing. The tree has two levels:
// the root and one item per device entry; the presenter keeps the caret (the
// selected item) and the window mirrors it.
class LeftViewPresenter {
public:
    LeftViewPresenter(config::DeviceStore& store, config::UsbConfig& usb_config, config::Prompter& prompter)
        : store_(store), usb_(usb_config), prompter_(prompter) {}

    // Initial update: the root and one child per device key of a known type,
    // in enumeration order; only Add Device enabled.
    void fill_tree();

    // The tree's selection moved to item (the user clicked or used the keys).
    void on_selection_changed(ItemId item);
    // Re-reads the selected device into the list (or empties it for the root).
    void refresh_list();
    // Reads the device keys again (another program may have changed them):
    // items of keys still there keep their place and id, the caret stays on
    // its device while it exists (else it goes to the root), and the list
    // is read again.
    void refresh();

    // A right click: the caret item becomes SelectedItem; the window then asks
    // for the context menu at the cursor.
    void on_right_click();
    // A context-menu request at a point, (-1, -1) for the keyboard. hit_test
    // gives the item whose label, icon or state icon is at a point (kNoItem
    // elsewhere); a hit item becomes the caret.
    PopupMenu on_context_menu(Point requested, Point cursor, const std::function<ItemId(Point)>& hit_test);
    void on_double_click();

    // Whether a command is enabled. Only the tree pane handles the device and
    // property commands; while the list pane is active they are disabled.
    bool is_enabled(int command, bool tree_pane_active = true) const;
    // Carries out a command: removal here, the dialogs by the window, which
    // calls on_dialog_closed afterwards. A disabled command does nothing.
    Run on_command(int command);
    // finished: the dialog ended with Finish or OK.
    void on_dialog_closed(Run dialog, bool finished);

    // The root and then the device items, in tree order.
    std::vector<TreeItem> items() const;
    ItemId caret() const { return caret_; }
    std::string text_of(ItemId item) const;

    // Window state, read by the window; DialogDeviceKey and DialogLdn are also
    // written by the dialogs.
    ItemId RootItem = kNoItem;
    ItemId LastInsertedItem = kNoItem;
    ItemId SelectedItem = kNoItem;
    std::string SelectedText;
    std::string DialogDeviceKey;
    std::string DialogLdn;
    // Display values of the selected device; a value it does not hold (not
    // stored, or its key unreadable) shows as kMissingValueText.
    std::string RowDeviceName;
    std::string RowPort;
    std::string RowSerialSettings;
    std::string RowStatusIndicator;
    std::string RowOpenChar1;
    std::string RowOpenChar2;
    std::string RowDrawerNumber;
    std::vector<std::string> DeviceKeys;
    std::vector<std::string> DeviceLdns;
    bool EnableAddDevice = true;
    bool EnableLdn = false;
    bool EnableRemoveDevice = false;
    bool EnableModifySettings = false;
    bool EnableCheckHealth = false;

    ListState list;
    StatusPane status;

private:
    bool is_device(ItemId item) const;
    // Moves the caret; the list follows when it changed, as the tree's own
    // selection notification does.
    void select(ItemId item);
    void set_device_flags(bool enabled);
    void read_device_values(std::string_view key, std::int32_t device_id);
    void fill_rows(std::int32_t device_id);
    void remove_device();
    void add_device_item();

    config::DeviceStore& store_;
    config::UsbConfig& usb_;
    config::Prompter& prompter_;
    std::vector<TreeItem> devices_;  // the root's children in order
    ItemId caret_ = kNoItem;
    ItemId next_id_ = 1;
};

}  // namespace zrn::utility
