// QVTUtility: the cash drawer configuration utility's main window.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "utility_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    // The health check talks to the Control Object on this thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    int result = 1;
    {
        zrn::utility::win32::UtilityApp app(instance);
        if (app.show(show)) {
            MSG message;
            while (GetMessageA(&message, nullptr, 0, 0) > 0) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            result = static_cast<int>(message.wParam);
        }
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return result;
}
