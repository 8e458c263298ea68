// What the host's own pages answer alike.
#pragma once

#include "toolkit/ModelessDlg.h"

// The page messages the About page and the device page share: handled or
// not, as a dialog procedure returns it. `page` may be null.
INT_PTR CommonPageMessage(toolkit::ModelessDlg* page, HWND window, UINT message);
