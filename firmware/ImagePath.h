// Which names the download page may open as a firmware image: a name the
// system takes whole, never a device. Opening a device (a serial port, the
// console, a pipe) blocks the reader for good, and a name cut to fit names
// another file.
#pragma once

#include <cstddef>

// Room for a path in the system's file calls, terminator included.
const size_t kMaxImagePath = 260;

// True when Windows takes `path` for a device whatever folder it names: a
// reserved name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9, LPT0-9) as its
// last part, with any extension, trailing blanks or colon; or a path in the
// device namespaces (\\.\ and \\?\), pipes included.
bool IsDeviceName(const char* path);

// True when `path` is not empty, fits kMaxImagePath whole and is no device name.
bool ImagePathAcceptable(const char* path);
