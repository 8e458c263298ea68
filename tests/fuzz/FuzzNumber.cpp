// Any number text in any radix: no overrun, no undefined arithmetic.
#include "command/ToNumber.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const char radixes[] = {'B', 'D', 'H', 'b', 'd', 'h', 'Q', '\0'};
    char radix = radixes[data[0] % sizeof radixes];
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    text = text.substr(0, text.find('\0'));

    StringEx number(text.c_str());
    ToNumber(number, radix);
    if (number.GetLength() >= number.capacity || number.GetLength() > static_cast<int>(text.size()))
        std::abort();
    // The number parser's own buffers are small: a short one must hold too.
    StringEx shortText(8);
    shortText = text.c_str();
    ToNumber(shortText, radix);
    return 0;
}
