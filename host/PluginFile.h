// Which files of the program's folder are plug-ins.
#pragma once

// True when the file's own name ends in ".dll" (any letter case) and has
// something before it. The system's "*.dll" search also matches the short
// 8.3 name of "Wexa.dll_old" or "Wexa.dll.bak", which are no plug-ins.
bool IsPluginFileName(const char* name);
