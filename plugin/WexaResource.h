// Resource and control identifiers of the plug-in's page.
#pragma once

#define IDD_DOWNLOAD_PAGE 101
#define IDB_LCD_WAIT 103
#define IDB_LCD_OK 104
#define IDB_LCD_NG 106
#define IDB_LCD_IDLE 108
#define IDI_OPEN_FILE 109
#define IDI_ROW_BLANK 111
#define IDI_ROW_WORKING 112
#define IDI_ROW_FAILED 113
#define IDI_ROW_DONE 114

#define IDC_DOWNLOAD 1
#define IDC_MESSAGE_LINE 1001
#define IDC_FILE_NAME 1002
#define IDC_OPEN_FILE 1004
#define IDC_STATUS_LIST 1006
#define IDC_LCD_PAD 1017
