// Any command text with any arguments: the pending command is always a
// 12-byte block with a valid direction, whatever the text or the count and
// kinds of the arguments.
#include "command/CompileCommand.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static DeviceChannel channel(1024, ChannelUser::Host); // no layer: nothing is ever sent
    if (size < 2)
        return 0;
    // count, kinds, 4 bytes per argument, then text NUL string-argument
    int count = data[0] % 8;
    uint8_t kinds = data[1];
    size_t at = 2;
    uint32_t numbers[8] = {};
    for (int i = 0; i < count && at + 4 <= size; ++i, at += 4)
        std::memcpy(&numbers[i], data + at, 4);
    std::string rest(reinterpret_cast<const char*>(data + (at < size ? at : size)),
                     at < size ? size - at : 0);
    size_t split = rest.find('\0');
    std::string text = rest.substr(0, split);
    std::string argument = split == std::string::npos ? "" : rest.substr(split + 1);
    argument = argument.substr(0, argument.find('\0'));

    std::vector<CommandArgument> arguments;
    for (int i = 0; i < count; ++i) {
        if (kinds & (1u << i))
            arguments.emplace_back(argument.c_str());
        else
            arguments.emplace_back(numbers[i]);
    }
    if (CompileCommandList(channel, text.c_str(), arguments.data(), count) != 1)
        std::abort();
    if (channel.cdbLength != 12 || (channel.direction != 0x08 && channel.direction != 0x10))
        std::abort();
    // The variadic form with fewer arguments than placeholders.
    CompileCommand(channel, text.c_str(), numbers[0]);
    CompileCommand(channel, text.c_str());
    return 0;
}
