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

// The command as it is being compiled; the channel gets it whole at the end.
struct Compiled {
    uint8_t cdb[kCdbBytes] = {};
    uint8_t direction = aspi::SRB_DIR_IN;
    uint32_t dataLength = 0;
    uint32_t timeout = DeviceChannel::kDefaultTimeout;
};

// The arguments the placeholders take, one after the other.
struct ArgumentList {
    const CommandArgument* items;
    int count;
    int next;
};

// Puts the next argument in place of the token's placeholder. 0 drops the
// token: an unknown placeholder, or no argument of the kind it wants.
int Substitute(FixedStringEx<kTokenCapacity>& token, ArgumentList& arguments) {
    FixedStringEx<kPartCapacity> prefix, letter, rest;
    if (!Match(token, "*%?*", &prefix, &letter, &rest))
        return 1;
    char placeholder = letter.data[0];
    if (!TakesArgument(placeholder))
        return 0;
    const CommandArgument* argument =
        arguments.next < arguments.count ? &arguments.items[arguments.next] : nullptr;
    ++arguments.next;
    char scratch[16];
    const char* inserted = FormatArgument(placeholder, argument, scratch, sizeof scratch);
    if (!inserted)
        return 0;
    token = prefix;
    token += inserted;
    token += rest;
    return 1;
}

// 1 when the token is an option (/R, /W, /T or an unknown one).
int ApplyOption(StringEx& token, Compiled& command) {
    FixedStringEx<kPartCapacity> letter, rest;
    if (!Match(token, "/?*", &letter, &rest))
        return 0;
    switch (letter.data[0]) {
    case 'R':
        command.direction = aspi::SRB_DIR_IN;
        command.dataLength = ToNumber(rest, 'D');
        break;
    case 'W':
        command.direction = aspi::SRB_DIR_OUT;
        command.dataLength = ToNumber(rest, 'D');
        break;
    case 'T':
        command.timeout = ToNumber(rest, 'D') * 1000u;
        break;
    default:
        break;
    }
    return 1;
}

void EmitValue(StringEx& token, Emitter& emit) {
    FixedStringEx<kPartCapacity> letter, rest;
    if (Match(token, "?(*)", &letter, &rest))
        emit.Value(letter.data[0], ToNumber(rest, 'H'));
    else
        emit.Value('B', ToNumber(token, 'H'));
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

    Compiled command;
    Emitter emit(command.cdb);
    ArgumentList list = {arguments, argumentCount, 0};
    for (FixedStringEx<kTokenCapacity>& token : tokens.items) {
        if (token.GetLength() == 0 || !Substitute(token, list))
            continue;
        if (!ApplyOption(token, command))
            EmitValue(token, emit);
    }

    channel.timeout = command.timeout;
    channel.SetCommand(command.cdb, command.direction, command.dataLength);
    return 1;
}
