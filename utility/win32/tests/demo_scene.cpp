// The demo's utility scene: QVTUtility's real main window, a technician
// adding a smart-serial drawer on COM2 with a logical name through the
// wizard, then the interactive health check on the new entry through the
// Control Object, with drawersim springing the simulated drawer open.
// Every step is driven by window messages from a second thread (bounded
// waits), and a PNG of each window is left in the screenshot folder.
//
//   zrn_utility_demo_scene --shots=DIR --drawersim=PATH
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

namespace {

namespace t = zrn::utility::win32::testing;

constexpr const char* kLogicalName = "CounterDrawer";
constexpr const char* kModel = "Model 347A Smart SerialLINE(r) Interface";
constexpr const char* kPort = "COM2";

struct Scene {
    std::string shots;      // Windows path of the screenshot folder
    std::string drawersim;  // Windows path of drawersim.exe
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

void run_script(Scene& s, HWND main, zrn::platform::Registry& registry) {
    struct CloseAtEnd {
        HWND w;
        ~CloseAtEnd() { PostMessageA(w, WM_CLOSE, 0, 0); }
    } close_at_end{main};

    s.step("Edit > Add Device");
    PostMessageA(main, WM_COMMAND, ID_ADD_DEVICE, 0);
    HWND page1 = t::wait_window("Add New Cash Drawer Device [ZRN Device Key]");
    if (!s.check(page1 != nullptr, "the wizard's first page did not show")) return;
    if (!s.check(t::select_item(page1, IDC_MODEL, kModel), std::string("no model ") + kModel)) return;
    t::set_text(page1, IDC_PAGE1_LDN, kLogicalName);
    s.step(std::string("page 1: ") + kModel + ", logical name " + kLogicalName);
    if (!s.shot(page1, "1_add_device_page1")) return;
    t::press(page1, IDOK);

    HWND page2 = t::wait_window("Add New Cash Drawer Device Settings");
    if (!s.check(page2 != nullptr, "the wizard's second page did not show")) return;
    if (!s.check(t::select_item(page2, IDC_PORT, kPort), std::string("no port ") + kPort)) return;
    s.step("page 2: device key " + t::text_of(page2, IDC_KEY) + ", port " + t::text_of(page2, IDC_PORT) +
           ", " + t::text_of(page2, IDC_BAUD) + " baud; Finish");
    if (!s.shot(page2, "2_add_device_page2")) return;
    t::press(page2, IDOK);
    if (!s.check(t::wait_gone(page2), "the wizard stayed open after Finish")) return;
    t::flush(main);

    const std::string key = key_of(registry, kLogicalName);
    if (!s.check(!key.empty(), std::string("no logical name ") + kLogicalName + " in the registry")) return;
    s.step("the new entry " + key + " is selected in the tree");
    if (!s.shot(main, "3_main_window")) return;

    s.step("Edit > Check Health");
    PostMessageA(main, WM_COMMAND, ID_CHECK_HEALTH, 0);
    const std::string caption = key + " OPOS CheckHealth (Interactive)";
    HWND box = t::wait_window(key + " Cash Drawer Status: Device Enabling Required");
    if (!s.check(box != nullptr, "the health check's reminder did not show")) return;
    s.step("reminder: " + Scene::one_line(t::box_text(box)) + " -> OK");
    if (!s.shot(box, "4_health_check_reminder")) return;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    if (!s.check(t::wait_gone(box), "the reminder stayed open")) return;

    HWND ask = t::wait_window(caption);
    if (!s.check(ask != nullptr, "the health check's prompt did not show")) return;
    // The simulated drawer springs open as the Control Object fires it.
    s.step("prompt: " + Scene::one_line(t::box_text(ask)) + " -> OK (drawersim: the drawer on " + kPort +
           " springs open)");
    if (!s.check(t::run_program(s.drawersim, std::string("open ") + kPort), "drawersim open " + std::string(kPort)))
        return;
    PostMessageA(ask, WM_COMMAND, IDOK, 0);
    HWND report = t::wait_window(caption, ask);
    if (!s.check(report != nullptr, "no report after the drawer was fired")) return;
    const std::string text = t::box_text(report);
    s.step("report: " + Scene::one_line(text));
    if (!s.shot(report, "5_health_check_report")) return;
    if (!s.check(text.find("Cash Drawer open successful") != std::string::npos, "the drawer was not seen open"))
        return;
    PostMessageA(report, WM_COMMAND, IDOK, 0);
    if (!s.check(t::wait_gone(report), "the report stayed open")) return;

    s.step("drawersim: the drawer is pushed shut; the prompt again -> Cancel");
    t::run_program(s.drawersim, std::string("close ") + kPort);
    ask = t::wait_window(caption, report);
    if (!s.check(ask != nullptr, "the health check did not ask again")) return;
    PostMessageA(ask, WM_COMMAND, IDCANCEL, 0);
    s.check(t::wait_gone(ask), "the prompt stayed open after Cancel");
    t::flush(main);
}

}  // namespace

int main(int argc, char** argv) {
    Scene scene;
    scene.shots = zrn::client::windows_path(option(argc, argv, "--shots"));
    scene.drawersim = zrn::client::windows_path(option(argc, argv, "--drawersim"));
    if (scene.shots.empty() || scene.drawersim.empty()) {
        std::fprintf(stderr, "usage: zrn_utility_demo_scene --shots=DIR --drawersim=PATH\n");
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
