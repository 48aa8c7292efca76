// Resource ids shared by qvtutility.rc and the window classes. The menu,
// pop-up and command ids are the presenter's (zrn/utility/main_presenter.h);
// the window classes check at compile time that both agree.
#pragma once

#define IDR_MAINFRAME 128
#define IDR_LEVEL0 130
#define IDR_LEVEL1 133

#define ID_ADD_DEVICE 132
#define ID_ADD_LDN 139
#define ID_REMOVE_DEVICE 32782
#define ID_PROPERTY 134
#define ID_CHECK_HEALTH 147
#define ID_MODIFY_SETTINGS 146
#define ID_APP_EXIT_CMD 57665
#define ID_APP_ABOUT_CMD 57664

#define IDD_ABOUTBOX 100
#define IDC_ABOUT_ICON 1000
#define IDC_ABOUT_VERSION 1001

// The idle text of the status bar's message pane.
#define IDS_READY 57345
