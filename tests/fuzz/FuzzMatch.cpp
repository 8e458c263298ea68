// Any pattern against any text: captures of every size stay within their
// capacity, and the text is left as it was.
#include "command/Match.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // pattern NUL text
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find('\0');
    std::string pattern = input.substr(0, split);
    std::string text = split == std::string::npos ? "" : input.substr(split + 1);
    text = text.substr(0, text.find('\0'));

    StringEx subject(text.c_str());
    StringEx one(1), two(2), small(5), wide(30), big(300);
    StringEx* captures[] = {&one, &two, &small, &wide, &big, nullptr};
    MatchList(subject, pattern.c_str(), captures, 6);
    Match(subject, pattern.c_str(), &small, &small, &subject);

    for (StringEx* capture : {&one, &two, &small, &wide, &big})
        if (capture->GetLength() >= capture->capacity)
            std::abort();
    if (subject.GetLength() >= subject.capacity)
        std::abort();
    return 0;
}
