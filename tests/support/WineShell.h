// The Wine session's desktop shell (explorer.exe), for test programs that
// wait for it before a window is made.
#pragma once

#include <windows.h>

// A handle (SYNCHRONIZE, PROCESS_QUERY_INFORMATION) to the running shell;
// null when none runs. The caller closes it.
HANDLE OpenRunningShell();
