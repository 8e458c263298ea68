// The settings store: one value at a time under a registry key, opening and
// closing the key on every call. The host's MainDlg offers them as members
// bound to its settings key.
#pragma once

#include <windows.h>

namespace toolkit {

// Largest text GetRegistry delivers, with its terminator.
const DWORD kRegistryTextSize = 128;

// Writes `name` under root\subkey, creating the key when needed: as text
// (its characters, no terminator) when strValue is given, else as the number
// dwValue. 1 when the key could be opened or created, else 0; a failed value
// write is not reported.
int SetRegistry(HKEY root, const char* subkey, const char* name, DWORD dwValue,
                const char* strValue);

// Reads `name` into the destination that suits its stored type: a number into
// dwValue, a text into strValue (room for kRegistryTextSize bytes). 1 when a
// value was delivered; 0 when the key or value is missing, has another type,
// has no destination given, or is a text of kRegistryTextSize characters or
// more (a stored terminator not counted). On 0 the destinations are
// untouched. Never creates the key.
int GetRegistry(HKEY root, const char* subkey, const char* name, DWORD* dwValue, char* strValue);

} // namespace toolkit
