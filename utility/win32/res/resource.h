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
#define ID_VIEW_REFRESH 32790
#define ID_NEXT_PANE_CMD 57680
#define ID_PREV_PANE_CMD 57681

#define IDD_ABOUTBOX 100
#define IDC_ABOUT_ICON 1000
#define IDC_ABOUT_VERSION 1001

// The idle text of the status bar's message pane.
#define IDS_READY 57345

// Dialog templates; their ids are the commands that open them.
#define IDD_ADD_DEVICE 132
#define IDD_ADD_SETTINGS 143
#define IDD_MODIFY_SETTINGS 146
#define IDD_LDN 139
#define IDD_CHECK_HEALTH 147
#define IDD_PROPERTY 134

// Page 1 of the wizard.
#define IDC_MODEL 1001
#define IDC_MASTER_ID 1002
#define IDC_UPOS 1004
#define IDC_PAGE1_LDN 1005

// The settings pages.
#define IDC_KEY 1002
#define IDC_BAUD 1003
#define IDC_DATA_BITS 1004
#define IDC_STOP_BITS 1005
#define IDC_PARITY 1006
#define IDC_HAND_SHAKING 1007
#define IDC_CTS 1009
#define IDC_RING 1010
#define IDC_BACK 1012
#define IDC_PORT_GROUP 1013
#define IDC_SECOND_OC 1014
#define IDC_DRAWER_NO 1015
#define IDC_COMM_GROUP 1017
#define IDC_STATUS_GROUP 1018
#define IDC_DRAWER_GROUP 1019
#define IDC_DATA_GROUP 1020
#define IDC_BAUD_LABEL 1021
#define IDC_DATA_BITS_LABEL 1022
#define IDC_STOP_BITS_LABEL 1023
#define IDC_PARITY_LABEL 1024
#define IDC_HAND_SHAKING_LABEL 1025
#define IDC_FIRST_OC_LABEL 1026
#define IDC_SECOND_OC_LABEL 1027
#define IDC_PORT 1028
#define IDC_FIRST_OC 1029
#define IDC_DRAWER_NO_LABEL 1030
#define IDC_HEALTH_CHECK 1031
#define IDC_STATUS_LABEL 1032

// The logical device name dialog.
#define IDC_LDN_ADD 5
#define IDC_LDN_REMOVE 6
#define IDC_LDN_LIST 1033
#define IDC_LDN_VALUE 1034

// The health check's control site.
#define IDC_CASH_DRAWER 1035

// The information page.
#define IDC_CO_DESCRIPTION 1001
#define IDC_CO_CLASS 1002
#define IDC_SO_DESCRIPTION 1003
#define IDC_SO_RELEASE 1004
#define IDC_CO_VERSION 1005
#define IDC_SO_VERSION 1006
#define IDC_TRACE 1007
#define IDC_TRACE_KEPT 1008
