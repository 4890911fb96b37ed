#pragma once
// Shared by the fuzz targets: the input as UTF-16 text in a buffer of
// exactly its size (so that AddressSanitizer sees any read past the
// terminator), a check that stops the run with a readable message (libFuzzer
// then keeps the input as a crash file), and the reference reading of
// hexadecimal numbers that the targets compare the product against.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

// The input as UTF-16 units, two bytes each, little-endian (an odd last byte
// is dropped), cut at the first zero unit: the text the product sees.
inline std::u16string TextOf(const uint8_t* data, size_t size) {
    std::u16string text;
    for (size_t i = 0; i + 1 < size; i += 2) {
        char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) break;
        text.push_back(unit);
    }
    return text;
}

// A zero-terminated copy of `text` on the heap, with no spare room after
// the terminator.
inline std::unique_ptr<WCHAR[]> ExactCopy(const std::u16string& text) {
    std::unique_ptr<WCHAR[]> copy(new WCHAR[text.size() + 1]);
    for (size_t i = 0; i < text.size(); ++i)
        copy[i] = static_cast<WCHAR>(text[i]);
    copy[text.size()] = 0;
    return copy;
}

// The text for a failure message: printable ASCII as it is, every other
// unit as \uXXXX.
inline std::string Printable(const std::u16string& text) {
    std::string out = "\"";
    for (char16_t unit : text) {
        if (unit >= 0x20 && unit < 0x7F && unit != u'\\' && unit != u'"') {
            out.push_back(static_cast<char>(unit));
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(unit));
            out += escaped;
        }
    }
    return out + "\"";
}

#define FUZZ_CHECK(condition, ...)                                                                 \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fprintf(stderr, "\nproperty violated at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
            fprintf(stderr, __VA_ARGS__);                                                          \
            fputc('\n', stderr);                                                                   \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

// ---- Reference reading of a hexadecimal number ------------------------------
// Written from the documented rule, in the plainest way, with 128-bit
// arithmetic so that nothing has to be caught before it overflows: skip the
// C locale's white space, take one sign, one "0x" or "0X", then the digits;
// a value of 2^bits or more becomes all bits set, and a "-" then negates
// modulo 2^bits.

inline bool IsCSpace(char16_t unit) {
    return unit == u' ' || unit == u'\t' || unit == u'\n' || unit == u'\v' || unit == u'\f' || unit == u'\r';
}

inline int HexValue(char16_t unit) {
    const char16_t* digits = u"0123456789abcdef";
    const char16_t* upper = u"0123456789ABCDEF";
    for (int value = 0; value < 16; ++value)
        if (unit == digits[value] || unit == upper[value]) return value;
    return -1;
}

inline uint64_t ReferenceHexNumber(const std::u16string& text, size_t at, int bits) {
    const unsigned __int128 limit = static_cast<unsigned __int128>(1) << bits;  // first value that does not fit
    const uint64_t all = static_cast<uint64_t>(limit - 1);
    while (at < text.size() && IsCSpace(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) {
        negative = text[at] == u'-';
        ++at;
    }
    // "0x" with no digit after it is the number 0 followed by an "x": the
    // same value as skipping the prefix and finding no digits.
    if (at + 1 < text.size() && text[at] == u'0' && (text[at + 1] == u'x' || text[at + 1] == u'X')) at += 2;
    unsigned __int128 value = 0;
    for (; at < text.size() && HexValue(text[at]) >= 0; ++at) {
        value = value * 16 + static_cast<unsigned>(HexValue(text[at]));
        if (value >= limit) value = limit;  // stays "too large", and cannot wrap
    }
    uint64_t result = value >= limit ? all : static_cast<uint64_t>(value);
    if (negative) result = static_cast<uint64_t>((limit - result) % limit);
    return result;
}
