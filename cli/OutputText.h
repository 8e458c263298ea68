// Text that comes from an image or a drive, as both tools print it. Such
// bytes are data, not terminal commands: a NUL must not cut a model short
// and an escape byte must not clear the screen or hide the rest of a line.
#pragma once

#include <cstddef>
#include <string>

namespace corvane {

// The bytes of a fixed-size field up to its last non-NUL byte (the NULs
// after it are padding); NULs inside stay.
std::string FieldText(const char* field, size_t size);

// For a terminal or a text file: NUL as a blank, every other byte outside
// printable ASCII as \xHH (control bytes, DEL, and bytes above 0x7F, which a
// terminal may take as the start of a control sequence).
std::string DisplayText(const std::string& text);

} // namespace corvane
