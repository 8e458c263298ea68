#include "host/MainDlg.h"
#include "host/Resource.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    return MainDlg::Run(instance, showCommand, IDD_MAIN);
}
