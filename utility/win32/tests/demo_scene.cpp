// The demo's utility scene: QVTUtility's real main window, a technician
// adding a smart-serial drawer on COM2 with a logical name through the
// wizard, then the interactive health check on the new entry through the
// Control Object, with drawersim springing the simulated drawer open.
// Every step is driven by window messages from a second thread (bounded
// waits), and a PNG of each window is left in the screenshot folder.
// With --docs (scripts/doc-images, the technician's guide) it also shows the
// main window before the drawer is added, the logical name dialog, the
// settings page, the health check's question and the information page.
//
//   zrn_utility_demo_scene --shots=DIR --drawersim=PATH [--docs]
//
// Expects the Service Object and a Control Object registered and the service
// settings pointing at the simulated drivers (scripts/demo does it).
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "dialog_driver.h"
#include "opos_client.h"
#include "resource.h"
#include "sim_win32.h"
#include "utility_app.h"
#include "zrn/device_config.h"
#include "zrn/text.h"

namespace {

namespace t = zrn::utility::win32::testing;

constexpr const char* kLogicalName = "CounterDrawer";
constexpr const char* kModel = "Model 347A Smart SerialLINE(r) Interface";
constexpr const char* kPort = "COM2";

struct Scene {
    std::string shots;      // Windows path of the screenshot folder
    std::string drawersim;  // Windows path of drawersim.exe
    bool docs = false;      // every window of the guide's steps
    bool ok = true;

    void step(const std::string& text) {
        std::printf("  %s\n", text.c_str());
        std::fflush(stdout);
    }
    // Ends the script at the first failed step; drive() cancels what is left open.
    bool check(bool good, const std::string& what) {
        if (!good) {
            std::printf("  FAILED: %s\n", what.c_str());
            std::fflush(stdout);
            ok = false;
        }
        return good;
    }
    bool shot(HWND window, const std::string& name) {
        return check(t::save_window_png(window, shots + "\\" + name + ".png"), "screenshot " + name);
    }
    // A message box's text on one line, as the demo prints it.
    static std::string one_line(std::string text) {
        std::string out;
        for (char c : text) {
            if (c == '\r') continue;
            if (c == '\n') {
                while (!out.empty() && out.back() == ' ') out.pop_back();
                out += " | ";
            } else {
                out += c;
            }
        }
        while (!out.empty() && out.back() == ' ') out.pop_back();
        return out;
    }
};

std::string option(int argc, char** argv, std::string_view name) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a.starts_with(name) && a.size() > name.size() && a[name.size()] == '=')
            return std::string(a.substr(name.size() + 1));
    }
    return {};
}

// The device key the wizard gave the new drawer, through its logical name.
std::string key_of(zrn::platform::Registry& registry, const std::string& logical_name) {
    const std::string key =
        zrn::config::translate_device_name(zrn::config::read_logical_names(registry), logical_name);
    return key == logical_name ? std::string() : key;
}

// The guide's steps after the wizard: a second logical name, and a look at
// the settings page.
bool names_and_settings(Scene& s, HWND main, const std::string& key) {
    s.step("Edit > Add LDN: a second logical name, Till7");
    PostMessageA(main, WM_COMMAND, ID_ADD_LDN, 0);
    HWND ldn = t::wait_window("Logical Device Name Setting");
    if (!s.check(ldn != nullptr, "the logical name dialog did not show")) return false;
    t::set_text(ldn, IDC_LDN_VALUE, "Till7");
    t::press(ldn, IDC_LDN_ADD);
    t::flush(ldn);
    s.step("names of " + key + ": " + zrn::join(t::list_items(ldn, IDC_LDN_LIST)));
    if (!s.shot(ldn, "logical-names")) return false;
    t::press(ldn, IDOK);
    if (!s.check(t::wait_gone(ldn), "the logical name dialog stayed open after Finish")) return false;
    t::flush(main);

    s.step("Tools > Modify Device Settings: the settings of " + key + ", then Cancel");
    PostMessageA(main, WM_COMMAND, ID_MODIFY_SETTINGS, 0);
    HWND modify = t::wait_window("Modify Cash Drawer Device Settings");
    if (!s.check(modify != nullptr, "the settings page did not show")) return false;
    if (!s.shot(modify, "modify-settings")) return false;
    t::press(modify, IDCANCEL);
    if (!s.check(t::wait_gone(modify), "the settings page stayed open after Cancel")) return false;
    t::flush(main);
    return true;
}

void run_script(Scene& s, HWND main, zrn::platform::Registry& registry) {
    struct CloseAtEnd {
        HWND w;
        ~CloseAtEnd() { PostMessageA(w, WM_CLOSE, 0, 0); }
    } close_at_end{main};

    if (s.docs) {
        t::flush(main);
        s.step("the main window of a freshly installed till: the USB drawer CD730");
        if (!s.shot(main, "utility-main")) return;
    }
    s.step("Edit > Add Device");
    PostMessageA(main, WM_COMMAND, ID_ADD_DEVICE, 0);
    HWND page1 = t::wait_window("Add New Cash Drawer Device [ZRN Device Key]");
    if (!s.check(page1 != nullptr, "the wizard's first page did not show")) return;
    if (!s.check(t::select_item(page1, IDC_MODEL, kModel), std::string("no model ") + kModel)) return;
    t::set_text(page1, IDC_PAGE1_LDN, kLogicalName);
    s.step(std::string("page 1: ") + kModel + ", logical name " + kLogicalName);
    if (!s.shot(page1, "add-device-page1")) return;
    t::press(page1, IDOK);

    HWND page2 = t::wait_window("Add New Cash Drawer Device Settings");
    if (!s.check(page2 != nullptr, "the wizard's second page did not show")) return;
    if (!s.check(t::select_item(page2, IDC_PORT, kPort), std::string("no port ") + kPort)) return;
    s.step("page 2: device key " + t::text_of(page2, IDC_KEY) + ", port " + t::text_of(page2, IDC_PORT) +
           ", " + t::text_of(page2, IDC_BAUD) + " baud; Finish");
    if (!s.shot(page2, "add-device-page2")) return;
    t::press(page2, IDOK);
    if (!s.check(t::wait_gone(page2), "the wizard stayed open after Finish")) return;
    t::flush(main);

    const std::string key = key_of(registry, kLogicalName);
    if (!s.check(!key.empty(), std::string("no logical name ") + kLogicalName + " in the registry")) return;
    s.step("the new entry " + key + " is selected in the tree");
    if (!s.shot(main, "utility-new-drawer")) return;
    if (s.docs && !(names_and_settings(s, main, key))) return;

    s.step("Edit > Check Health");
    PostMessageA(main, WM_COMMAND, ID_CHECK_HEALTH, 0);
    const std::string caption = key + " OPOS CheckHealth (Interactive)";
    HWND box = t::wait_window(key + " Cash Drawer Status: Device Enabling Required");
    if (!s.check(box != nullptr, "the health check's reminder did not show")) return;
    s.step("reminder: " + Scene::one_line(t::box_text(box)) + " -> OK");
    if (!s.shot(box, "health-check-reminder")) return;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    if (!s.check(t::wait_gone(box), "the reminder stayed open")) return;

    HWND ask = t::wait_window(caption);
    if (!s.check(ask != nullptr, "the health check's prompt did not show")) return;
    // The simulated drawer springs open as the Control Object fires it.
    s.step("prompt: " + Scene::one_line(t::box_text(ask)) + " -> OK (drawersim: the drawer on " + kPort +
           " springs open)");
    if (s.docs && !s.shot(ask, "health-check-prompt")) return;
    if (!s.check(t::run_program(s.drawersim, std::string("open ") + kPort), "drawersim open " + std::string(kPort)))
        return;
    PostMessageA(ask, WM_COMMAND, IDOK, 0);
    HWND report = t::wait_window(caption, ask);
    if (!s.check(report != nullptr, "no report after the drawer was fired")) return;
    const std::string text = t::box_text(report);
    s.step("report: " + Scene::one_line(text));
    if (!s.shot(report, "health-check-report")) return;
    if (!s.check(text.find("Cash Drawer open successful") != std::string::npos, "the drawer was not seen open"))
        return;
    PostMessageA(report, WM_COMMAND, IDOK, 0);
    if (!s.check(t::wait_gone(report), "the report stayed open")) return;

    s.step("drawersim: the drawer is pushed shut; the prompt again -> Cancel");
    t::run_program(s.drawersim, std::string("close ") + kPort);
    ask = t::wait_window(caption, report);
    if (!s.check(ask != nullptr, "the health check did not ask again")) return;
    PostMessageA(ask, WM_COMMAND, IDCANCEL, 0);
    if (!s.check(t::wait_gone(ask), "the prompt stayed open after Cancel")) return;
    t::flush(main);

    if (!s.docs) return;
    s.step("Edit > Property");
    PostMessageA(main, WM_COMMAND, ID_PROPERTY, 0);
    HWND page = t::wait_window("ZRN OPOS ADK [QVTUtility]");
    if (!s.check(page != nullptr, "the information page did not show")) return;
    s.step("trace: " + t::text_of(page, IDC_TRACE) + "; " + t::text_of(page, IDC_TRACE_KEPT));
    if (!s.shot(page, "information-page")) return;
    t::press(page, IDOK);
    s.check(t::wait_gone(page), "the information page stayed open");
    t::flush(main);
}

}  // namespace

int main(int argc, char** argv) {
    Scene scene;
    scene.shots = zrn::client::windows_path(option(argc, argv, "--shots"));
    scene.drawersim = zrn::client::windows_path(option(argc, argv, "--drawersim"));
    for (int i = 1; i < argc; ++i) scene.docs |= std::string_view(argv[i]) == "--docs";
    if (scene.shots.empty() || scene.drawersim.empty()) {
        std::fprintf(stderr, "usage: zrn_utility_demo_scene --shots=DIR --drawersim=PATH [--docs]\n");
        return 2;
    }
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    // The health check talks to the Control Object on this thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // The simulated drawers live as long as some process maps them: this one,
    // for the scene's length, so drawersim and the drivers meet the same drawer.
    if (zrn::sim::shared_state() == nullptr) {
        std::fprintf(stderr, "demo scene: cannot map the simulator block\n");
        return 1;
    }

    // The same windows and objects as QVTUtility's own WinMain.
    zrn::utility::win32::UtilityApp app(GetModuleHandleA(nullptr));
    if (!app.show(SW_SHOW)) {
        std::fprintf(stderr, "demo scene: the main window was not created\n");
        return 1;
    }
    HWND main = app.main_window();

    t::drive(
        [&] {
            MSG m;
            while (GetMessageA(&m, nullptr, 0, 0) > 0) {
                TranslateMessage(&m);
                DispatchMessageA(&m);
            }
        },
        [&] { run_script(scene, main, app.registry()); });
    if (SUCCEEDED(com)) CoUninitialize();
    return scene.ok ? 0 : 1;
}
