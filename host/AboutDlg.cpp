#include "host/AboutDlg.h"

#include "host/PageMessages.h"

AboutDlg::AboutDlg(HINSTANCE instance, HWND parent, int32_t templateId)
    : page(instance, parent, templateId) {
    toolkit::thePage<AboutDlg> = this;
}

int AboutDlg::OpenModelessDlg(const toolkit::PageRect* rect) {
    return page.OpenModelessDlg(Procedure, rect);
}

void AboutDlg::CloseModelessDlg() {
    page.CloseModelessDlg();
}

INT_PTR CALLBACK AboutDlg::Procedure(HWND window, UINT message, WPARAM, LPARAM) {
    AboutDlg* self = toolkit::thePage<AboutDlg>;
    return CommonPageMessage(self ? &self->page : nullptr, window, message);
}
