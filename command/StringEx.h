// A zero-terminated 8-bit text in a buffer whose capacity is fixed at
// construction. Nothing ever reallocates the buffer: a text that would not
// fit is cut at the capacity, so no input can write past it.
//
// StringEx allocates its buffer; FixedStringEx<N> holds it inside the object,
// for texts whose capacity is known when the code is written.
#pragma once

#include <cstdint>

class StringEx {
  public:
    char* data;
    int capacity; // bytes of data, terminator included

    StringEx();
    explicit StringEx(int capacity);
    StringEx(const char* text);
    explicit StringEx(char ch);
    ~StringEx();

    // Always passed by reference: a copy would share or lose the buffer.
    StringEx(const StringEx&) = delete;

    StringEx& operator=(const char* text);
    StringEx& operator=(const StringEx& other);
    StringEx& operator+=(const char* text);
    StringEx& operator+=(const StringEx& other);

    // Copies at most count characters of text (fewer if it ends before).
    StringEx& Assign(const char* text, int count);

    int GetLength() const;
    // Address of the character at index, which is kept within the text.
    char* GetPtr(int index) const;
    StringEx& Delete(int count);
    int Find(const char* sub) const;
    int FindRange(char low, char high, int forward) const;
    // Letters a to z become A to Z; every other byte stays.
    StringEx& MakeUpper();

  protected:
    // A buffer the caller owns and keeps for the object's lifetime.
    StringEx(char* storage, int size);

  private:
    bool owned;
};

namespace detail {
template <int N> struct FixedStorage { char bytes[N]; };
} // namespace detail

// The storage base comes first, so it exists before StringEx writes into it.
template <int N> class FixedStringEx : private detail::FixedStorage<N>, public StringEx {
    static_assert(N >= 1, "room for the terminator");

  public:
    FixedStringEx() : StringEx(detail::FixedStorage<N>::bytes, N) {}
    FixedStringEx(const FixedStringEx&) = delete;
    using StringEx::operator=;
    FixedStringEx& operator=(const FixedStringEx& other) {
        StringEx::operator=(other);
        return *this;
    }
};
