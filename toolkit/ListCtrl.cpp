#include "toolkit/ListCtrl.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

namespace toolkit {
namespace {

char listText[kListTextSize];

// Room offered to the list: 78 characters and a terminator, one byte spare.
const int kTextRoom = static_cast<int>(kListTextSize) - 1;

} // namespace

ListCtrl::ListCtrl(HWND parent_, int controlId)
    : parent(parent_), control(GetDlgItem(parent_, controlId)), columnCount(0), rowCount(0) {}

int ListCtrl::SetItem(int row, int column, const char* text, int image) {
    if (row == -1) {
        LVCOLUMNA header;
        std::memset(&header, 0, sizeof header);
        // Text only: a new column stays 0 pixels wide until SetColumnWidth.
        header.mask = LVCF_TEXT;
        header.pszText = const_cast<char*>(text);
        if (column >= columnCount) {
            LRESULT index = SendMessageA(control, LVM_INSERTCOLUMNA, columnCount,
                                         reinterpret_cast<LPARAM>(&header));
            columnCount++;
            return static_cast<int>(index);
        }
        return SendMessageA(control, LVM_SETCOLUMNA, column, reinterpret_cast<LPARAM>(&header)) ? 1
                                                                                                : 0;
    }

    const int target = std::min(row, static_cast<int>(rowCount));
    const int subItem = std::max(column, 0);
    LVITEMA item;
    std::memset(&item, 0, sizeof item);
    item.mask = LVIF_TEXT;
    if (image >= 0)
        item.mask |= LVIF_IMAGE;
    item.iItem = target;
    item.iSubItem = subItem;
    item.pszText = const_cast<char*>(text);
    item.iImage = std::max(image, 0);

    if (row >= rowCount) {
        // The list inserts rows through column 0 only; any other column is refused.
        item.mask |= LVIF_PARAM;
        item.lParam = target * 100 + subItem;
        LRESULT index = SendMessageA(control, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        if (index != -1)
            SendMessageA(control, LVM_SCROLL, 0, 32230); // far enough to show the last row
        rowCount++;
        return static_cast<int>(index);
    }
    return SendMessageA(control, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item)) ? 1 : 0;
}

char* ListCtrl::GetItem(int row, int column) {
    // Emptied first: a list that cannot read the text may leave the buffer as it was.
    listText[0] = '\0';
    if (row == -1) {
        LVCOLUMNA header;
        std::memset(&header, 0, sizeof header);
        header.mask = LVCF_TEXT;
        header.pszText = listText;
        header.cchTextMax = kTextRoom;
        SendMessageA(control, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&header));
    } else {
        LVITEMA item;
        std::memset(&item, 0, sizeof item);
        item.iSubItem = column;
        item.pszText = listText;
        item.cchTextMax = kTextRoom;
        SendMessageA(control, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    }
    // Some lists fill the whole room and leave out the terminator (Wine does);
    // ending the room with one keeps every platform to 78 characters.
    listText[kTextRoom - 1] = '\0';
    return listText;
}

char* ListCtrl::GetItem(int row, int column, char* destination, size_t destinationSize) {
    char* text = GetItem(row, column);
    if (destination && destinationSize > 0) {
        size_t length = std::min(std::strlen(text), destinationSize - 1);
        std::memcpy(destination, text, length);
        destination[length] = '\0';
    }
    return text;
}

int ListCtrl::SetColumnWidth(int column, int width) {
    return static_cast<int>(
        SendMessageA(control, LVM_SETCOLUMNWIDTH, column, MAKELPARAM(width, 0)));
}

int ListCtrl::GetColumnWidth(int column) {
    return static_cast<int>(SendMessageA(control, LVM_GETCOLUMNWIDTH, column, 0));
}

int ListCtrl::GetSelected() {
    for (int row = 0; row < rowCount; row++) {
        if (SendMessageA(control, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED)
            return row;
    }
    return -1;
}

HWND ListCtrl::GetHwnd() {
    return control;
}

} // namespace toolkit
