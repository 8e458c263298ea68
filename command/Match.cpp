#include "command/Match.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

class CaptureList {
  public:
    CaptureList(StringEx* const* list, int count) : list_(list), count_(count) {}

    void Write(const char* text, int length) {
        StringEx* capture = next_ < count_ ? list_[next_] : nullptr;
        ++next_;
        if (capture)
            capture->Assign(text, length);
    }

  private:
    StringEx* const* list_;
    int count_;
    int next_ = 0;
};

// Walks the pattern along the text, writing each wildcard's part.
bool Walk(const char* text, const char* pattern, CaptureList& out) {
    const char* rest = text;
    for (;;) {
        if (!*rest) {
            if (*pattern == '*') {
                out.Write(rest, 0);
                ++pattern;
            }
            return *pattern == 0;
        }
        switch (*pattern) {
        case 0:
            return false;
        case '*': {
            char stop = *++pattern;
            const char* end = stop ? std::strchr(rest, stop) : nullptr;
            int taken = end ? static_cast<int>(end - rest) : static_cast<int>(std::strlen(rest));
            out.Write(rest, taken);
            rest += taken;
            break;
        }
        case '?':
            out.Write(rest, 1);
            ++rest;
            ++pattern;
            break;
        default:
            if (*rest != *pattern)
                return false;
            ++rest;
            ++pattern;
            break;
        }
    }
}

bool OverlapsACapture(const char* subject, int length, StringEx* const* captures,
                      int captureCount) {
    for (int i = 0; i < captureCount; ++i)
        if (captures[i] && captures[i]->data < subject + length + 1 &&
            subject < captures[i]->data + captures[i]->capacity)
            return true;
    return false;
}

} // namespace

bool MatchList(const StringEx& subject, const char* pattern, StringEx* const* captures,
               int captureCount) {
    return MatchList(subject.data, pattern, captures, captureCount);
}

bool MatchList(const char* subject, const char* pattern, StringEx* const* captures,
               int captureCount) {
    if (!pattern)
        pattern = "";
    if (!subject)
        subject = "";
    // A capture may write into the subject itself: then the match runs on a
    // private copy.
    int length = static_cast<int>(std::strlen(subject));
    char local[128];
    std::unique_ptr<char[]> heap;
    const char* text = subject;
    if (OverlapsACapture(subject, length, captures, captureCount)) {
        char* copy = local;
        if (length >= static_cast<int>(sizeof local)) {
            heap.reset(new (std::nothrow) char[length + 1]);
            if (!heap)
                return false;
            copy = heap.get();
        }
        std::memcpy(copy, subject, static_cast<size_t>(length) + 1);
        text = copy;
    }
    CaptureList out(captures, captureCount);
    return Walk(text, pattern, out);
}
