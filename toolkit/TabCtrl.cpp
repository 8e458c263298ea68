#include "toolkit/TabCtrl.h"

#include <cstring>

namespace toolkit {

TabCtrl::TabCtrl(HWND parent_, int controlId)
    : parent(parent_), control(GetDlgItem(parent_, controlId)), tabCount(0) {
    std::memset(&item, 0, sizeof item);
}

int TabCtrl::AddItem(const char* caption) {
    return InsertItem(tabCount, caption);
}

int TabCtrl::InsertItem(int index, const char* caption) {
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(caption);
    tabCount++;
    return static_cast<int>(
        SendMessageA(control, TCM_INSERTITEMA, index, reinterpret_cast<LPARAM>(&item)));
}

int TabCtrl::GetCurSel() {
    return static_cast<int>(SendMessageA(control, TCM_GETCURSEL, 0, 0));
}

HWND TabCtrl::GetHwnd() {
    return control;
}

} // namespace toolkit
