// QVTUtility: the cash drawer configuration utility's main window.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "device_dialogs.h"
#include "main_frame.h"
#include "win32_prompter.h"
#include "zrn/utility/device_store.h"
#include "zrn/utility/main_presenter.h"
#include "zrn/utility/usb_config.h"
#include "zrn/win32/win32_platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    // The health check talks to the Control Object on this thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    zrn::win32::Win32Registry registry;
    zrn::win32::Win32Files files;
    zrn::utility::win32::Win32Prompter prompter;
    zrn::utility::DeviceStore store(registry, prompter);
    zrn::utility::UsbConfig usb_config(files);
    zrn::utility::LeftViewPresenter presenter(store, usb_config, prompter);

    zrn::win32::Win32Clock clock;
    zrn::utility::win32::DialogHost dialogs(instance, store, prompter, clock);

    zrn::utility::win32::CMainFrame frame(presenter, prompter);
    frame.set_dialog_host(&dialogs);
    if (!frame.Create(instance)) return 1;
    ShowWindow(frame.hwnd(), show);
    UpdateWindow(frame.hwnd());

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return static_cast<int>(message.wParam);
}
