#include "host/DeviceDlg.h"

#include "host/PageMessages.h"
#include "host/Resource.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

int32_t lastSelectedRow = 0;

namespace {

const char* const kColumns[4] = {"Adapter", "Target", "Model", "Version"};
const int32_t kInitialWidths[4] = {61, 61, 238, 71};

} // namespace

DeviceDlg::DeviceDlg(HINSTANCE instance, HWND parent, DeviceChannel* channel_, int32_t templateId)
    : page(instance, parent, templateId), channel(channel_), list(nullptr), currentDevice(nullptr),
      showing(false) {
    for (int i = 0; i < 4; ++i)
        columnWidths[i] = kInitialWidths[i];
    toolkit::thePage<DeviceDlg> = this;
}

DeviceDlg::~DeviceDlg() {
    CloseModelessDlg();
    if (toolkit::thePage<DeviceDlg> == this)
        toolkit::thePage<DeviceDlg> = nullptr;
}

int DeviceDlg::OpenModelessDlg(const toolkit::PageRect* rect) {
    if (!page.CreatePage(Procedure) || !rect)
        return page.window ? 1 : 0;
    currentDevice = new toolkit::StaticCtrl(page.window, IDC_CURRENT_DEVICE);
    list = new toolkit::ListCtrl(page.window, IDC_DEVICE_LIST);
    for (int column = 0; column < 4; ++column) {
        list->SetItem(-1, column, kColumns[column], -1);
        list->SetColumnWidth(column, columnWidths[column]);
    }
    const int count = channel->deviceCount < DeviceChannel::kMaxDevices
                          ? channel->deviceCount
                          : static_cast<int>(DeviceChannel::kMaxDevices);
    for (int i = 0; i < count; ++i) {
        const DeviceEntry& entry = channel->devices[i];
        char number[8];
        std::snprintf(number, sizeof number, "%d", entry.adapter);
        list->SetItem(i, 0, number, -1);
        std::snprintf(number, sizeof number, "%d", entry.target);
        list->SetItem(i, 1, number, -1);
        list->SetItem(i, 2, entry.model, -1);
        list->SetItem(i, 3, entry.version, -1);
    }
    SelectRow(channel->FindSelectedDevice());
    page.ShowPage(*rect);
    return 1;
}

void DeviceDlg::CloseModelessDlg() {
    // The wrappers go even when the page closed itself (WM_CLOSE).
    if (page.window && list)
        for (int column = 0; column < 4; ++column)
            columnWidths[column] = list->GetColumnWidth(column);
    page.CloseModelessDlg();
    delete list;
    list = nullptr;
    delete currentDevice;
    currentDevice = nullptr;
}

void DeviceDlg::SelectRow(int row) {
    if (!list || !currentDevice)
        return;
    // No drive at all: nothing to read, and the channel keeps what it has.
    if (list->rowCount <= 0) {
        currentDevice->SetText("No device found");
        return;
    }
    if (row >= list->rowCount)
        row = -1;
    if (row < 0)
        row = lastSelectedRow < list->rowCount ? lastSelectedRow : 0;
    lastSelectedRow = row;

    channel->SetAdapter(static_cast<uint8_t>(std::strtol(list->GetItem(row, 0), nullptr, 10)));
    channel->SetTarget(static_cast<uint8_t>(std::strtol(list->GetItem(row, 1), nullptr, 10)));

    // Model 24 characters, two blanks, version 4: the list's buffer holds them.
    char line[toolkit::kListTextSize * 2 + 2];
    char model[toolkit::kListTextSize];
    list->GetItem(row, 2, model, sizeof model);
    std::snprintf(line, sizeof line, "%s  %s", model, list->GetItem(row, 3));
    currentDevice->SetText(line);
}

void DeviceDlg::ShowCurrent() {
    const int row = channel->FindSelectedDevice();
    if (!list || row < 0)
        return;
    showing = true;
    ListView_SetItemState(list->GetHwnd(), -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetItemState(list->GetHwnd(), row, LVIS_SELECTED | LVIS_FOCUSED,
                          LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(list->GetHwnd(), row, FALSE);
    showing = false;
    SelectRow(row);
}

INT_PTR CALLBACK DeviceDlg::Procedure(HWND window, UINT message, WPARAM, LPARAM lParam) {
    DeviceDlg* self = toolkit::thePage<DeviceDlg>;
    if (message == WM_NOTIFY) {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == IDC_DEVICE_LIST && header->code == LVN_ITEMCHANGED && self &&
            self->list && !self->showing)
            self->SelectRow(self->list->GetSelected());
        return TRUE;
    }
    return CommonPageMessage(self ? &self->page : nullptr, window, message);
}
