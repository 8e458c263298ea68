// What a channel's scan finds, through the layer in use, as one line.
#pragma once

#include "command/DeviceChannel.h"

#include <string>

// "adapter:target=PRODUCT " for each drive, the product up to its first space.
inline std::string ScanText() {
    DeviceChannel channel(1024, ChannelUser::Host);
    channel.ScanDevices();
    std::string found;
    for (int i = 0; i < channel.deviceCount; ++i) {
        std::string product(channel.devices[i].model + 8, 16);
        found += std::to_string(channel.devices[i].adapter) + ":" +
                 std::to_string(channel.devices[i].target) + "=" +
                 product.substr(0, product.find(' ')) + " ";
    }
    return found;
}
