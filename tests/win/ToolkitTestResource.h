// Identifiers of the test-only dialogs in ToolkitTest.rc.
#pragma once

// A host-like top-level window: tab control, list, button and status line.
#define IDD_TOOLKIT_TEST 200
#define IDC_TEST_STATUS 1000
#define IDC_TEST_TABS 1001
#define IDC_TEST_LIST 1002
#define IDC_TEST_BUTTON 1003

// A page: a modeless child dialog with a line, a list and a button.
#define IDD_TOOLKIT_PAGE 201
#define IDC_PAGE_LINE 1010
#define IDC_PAGE_LIST 1011
#define IDC_PAGE_BUTTON 1012

// No template has this number.
#define IDD_MISSING 299
