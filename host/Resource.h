// Resource identifiers of Corvane.exe, shared by Corvane.rc and the code.
#pragma once

#define IDD_MAIN 102
#define IDD_DEVICE 105
#define IDI_PLAIN 107
#define IDI_FULL 108
#define IDI_ABOUT 128
#define IDD_ABOUT 131

// Main window
#define IDC_STATUS 1000
#define IDC_TABS 1001

// Device page
#define IDC_CURRENT_DEVICE 1001
#define IDC_DEVICE_LIST 1002
