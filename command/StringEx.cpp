#include "command/StringEx.h"

#include <cstring>
#include <new>

namespace {

// Stands in for the buffer when it could not be allocated: capacity 0 means
// nothing is ever written to it.
char noStorage[1] = "";

int Length(const char* text) {
    return text ? static_cast<int>(std::strlen(text)) : 0;
}

} // namespace

StringEx::StringEx() : StringEx(260) {}

StringEx::StringEx(int size) : data(nullptr), capacity(0), owned(true) {
    if (size < 1)
        size = 1;
    data = new (std::nothrow) char[size];
    if (!data) {
        data = noStorage;
        return;
    }
    capacity = size;
    data[0] = 0;
}

StringEx::StringEx(const char* text) : StringEx(Length(text) + 2) {
    *this = text;
}

StringEx::StringEx(char ch) : StringEx(2) {
    if (capacity >= 2) {
        data[0] = ch;
        data[1] = 0;
    }
}

StringEx::StringEx(char* storage, int size) : data(storage), capacity(size), owned(false) {
    data[0] = 0;
}

StringEx::~StringEx() {
    if (owned && data != noStorage)
        delete[] data;
}

StringEx& StringEx::Assign(const char* text, int count) {
    if (capacity < 1)
        return *this;
    int n = 0;
    if (text)
        while (n < count && text[n])
            ++n;
    if (n > capacity - 1)
        n = capacity - 1;
    // memmove: the text may be a part of this buffer.
    if (n > 0)
        std::memmove(data, text, static_cast<size_t>(n));
    data[n] = 0;
    return *this;
}

StringEx& StringEx::operator=(const char* text) {
    return Assign(text, Length(text));
}

StringEx& StringEx::operator=(const StringEx& other) {
    return Assign(other.data, other.GetLength());
}

StringEx& StringEx::operator+=(const char* text) {
    if (capacity < 1)
        return *this;
    int length = GetLength();
    int n = Length(text);
    if (n > capacity - 1 - length)
        n = capacity - 1 - length;
    if (n <= 0)
        return *this;
    std::memmove(data + length, text, static_cast<size_t>(n));
    data[length + n] = 0;
    return *this;
}

StringEx& StringEx::operator+=(const StringEx& other) {
    return *this += other.data;
}

int StringEx::GetLength() const {
    return Length(data);
}

char* StringEx::GetPtr(int index) const {
    int length = GetLength();
    if (index < 0)
        index = 0;
    if (index > length)
        index = length;
    return data + index;
}

StringEx& StringEx::Delete(int count) {
    int length = GetLength();
    if (count <= 0)
        return *this;
    if (count > length)
        count = length;
    std::memmove(data, data + count, static_cast<size_t>(length - count + 1));
    return *this;
}

int StringEx::Find(const char* sub) const {
    const char* found = std::strstr(data, sub ? sub : "");
    return found ? static_cast<int>(found - data) : -1;
}

int StringEx::FindRange(char low, char high, int forward) const {
    int length = GetLength();
    signed char lo = static_cast<signed char>(low);
    signed char hi = static_cast<signed char>(high);
    for (int i = 0; i < length; ++i) {
        int at = forward ? i : length - 1 - i;
        signed char c = static_cast<signed char>(data[at]);
        if (lo <= c && c <= hi)
            return at;
    }
    return length;
}

StringEx& StringEx::MakeUpper() {
    for (char* p = data; *p; ++p)
        if (*p >= 'a' && *p <= 'z')
            *p = static_cast<char>(*p - 'a' + 'A');
    return *this;
}
