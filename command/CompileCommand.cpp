#include "command/CompileCommand.h"

#include "command/DiscAddress.h"
#include "command/Match.h"
#include "command/ToNumber.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kMaxTokens = 19;
constexpr int kTokenCapacity = 15;
constexpr int kPartCapacity = 20;
constexpr int kCdbBytes = 12;

const char kSplitPattern[] = "* * * * * * * * * * * * * * * * * * *";

struct Tokens {
    FixedStringEx<kTokenCapacity> items[kMaxTokens];
    StringEx* list[kMaxTokens];

    Tokens() {
        for (int i = 0; i < kMaxTokens; ++i)
            list[i] = &items[i];
    }
};

class Emitter {
  public:
    explicit Emitter(uint8_t* cdb) : cdb_(cdb) {}

    void Put(uint32_t byte) {
        if (at_ < kCdbBytes)
            cdb_[at_] = static_cast<uint8_t>(byte);
        ++at_;
    }

    void Value(char width, uint32_t v) {
        switch (width) {
        case 'B':
            Put(v);
            break;
        case 'W':
            Put(v >> 8);
            Put(v);
            break;
        case 'D':
        case 'L':
            Put(v >> 24);
            Put(v >> 16);
            Put(v >> 8);
            Put(v);
            break;
        case 'M': {
            DiscAddress address;
            address.lba = static_cast<int32_t>(v);
            LbaToMsf(address);
            Put(static_cast<uint8_t>(address.minute));
            Put(static_cast<uint8_t>(address.second));
            Put(static_cast<uint8_t>(address.frame));
            break;
        }
        default:
            break;
        }
    }

  private:
    uint8_t* cdb_;
    int at_ = 0;
};

// The text that replaces the placeholder, or null when the token is dropped.
const char* FormatArgument(char letter, const CommandArgument* argument, char* scratch,
                           size_t size) {
    if (!argument)
        return nullptr;
    int number = argument->kind == CommandArgument::kNumber;
    switch (letter) {
    case 'D':
        if (!number)
            return nullptr;
        std::snprintf(scratch, size, "%" PRId32, static_cast<int32_t>(argument->number));
        return scratch;
    case 'X':
        if (!number)
            return nullptr;
        std::snprintf(scratch, size, "%" PRIx32, argument->number);
        return scratch;
    case 'S':
        if (number)
            return nullptr;
        return argument->text ? argument->text : "";
    default:
        return nullptr;
    }
}

int TakesArgument(char letter) {
    return letter == 'D' || letter == 'X' || letter == 'S';
}

} // namespace

int CompileCommandList(DeviceChannel& channel, const char* text, const CommandArgument* arguments,
                       int argumentCount) {
    // Split first, then capitalise: spaces are the same in either case, and
    // the tokens are ours to change while the text is the caller's.
    Tokens tokens;
    MatchList(text, kSplitPattern, tokens.list, kMaxTokens);
    for (StringEx& token : tokens.items)
        token.MakeUpper();

    std::memset(channel.cdb, 0, sizeof channel.cdb);
    channel.direction = aspi::SRB_DIR_IN;
    channel.dataLength = 0;
    channel.timeout = DeviceChannel::kDefaultTimeout;
    Emitter emit(channel.cdb);

    FixedStringEx<kPartCapacity> prefix, letter, rest;
    int nextArgument = 0;
    for (FixedStringEx<kTokenCapacity>& token : tokens.items) {
        if (token.GetLength() == 0)
            continue;

        if (Match(token, "*%?*", &prefix, &letter, &rest)) {
            char placeholder = letter.data[0];
            if (!TakesArgument(placeholder))
                continue;
            const CommandArgument* argument =
                nextArgument < argumentCount ? &arguments[nextArgument] : nullptr;
            ++nextArgument;
            char scratch[16];
            const char* inserted = FormatArgument(placeholder, argument, scratch, sizeof scratch);
            if (!inserted)
                continue;
            token = prefix;
            token += inserted;
            token += rest;
        }

        if (Match(token, "/?*", &letter, &rest)) {
            switch (letter.data[0]) {
            case 'R':
                channel.direction = aspi::SRB_DIR_IN;
                channel.dataLength = ToNumber(rest, 'D');
                break;
            case 'W':
                channel.direction = aspi::SRB_DIR_OUT;
                channel.dataLength = ToNumber(rest, 'D');
                break;
            case 'T':
                channel.timeout = ToNumber(rest, 'D') * 1000u;
                break;
            default:
                break;
            }
            continue;
        }

        if (Match(token, "?(*)", &letter, &rest))
            emit.Value(letter.data[0], ToNumber(rest, 'H'));
        else
            emit.Value('B', ToNumber(token, 'H'));
    }

    channel.SetCommand(channel.cdb, channel.direction, channel.dataLength);
    return 1;
}
