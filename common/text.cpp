#include "common/text.h"

namespace {

WCHAR FoldAscii(WCHAR c) { return (c >= L'A' && c <= L'Z') ? static_cast<WCHAR>(c + (L'a' - L'A')) : c; }

// The white space the C runtime's number readers skip.
bool IsNumberSpace(WCHAR c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); }

int HexDigitValue(WCHAR c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

}  // namespace

BOOL EqualsIgnoringAsciiCase(LPCWSTR a, LPCWSTR b) {
    for (;; ++a, ++b) {
        if (FoldAscii(*a) != FoldAscii(*b)) return FALSE;
        if (*a == 0) return TRUE;
    }
}

ULONGLONG ReadHexNumber(LPCWSTR text, int bits) {
    const ULONGLONG all = bits >= 64 ? ~0ULL : (1ULL << bits) - 1;
    while (IsNumberSpace(*text)) ++text;
    bool negative = false;
    if (*text == L'+' || *text == L'-') {
        negative = *text == L'-';
        ++text;
    }
    if (text[0] == L'0' && (text[1] == L'x' || text[1] == L'X') && HexDigitValue(text[2]) >= 0) text += 2;
    ULONGLONG value = 0;
    bool overflow = false;
    for (int digit; (digit = HexDigitValue(*text)) >= 0; ++text) {
        if (value > (all >> 4)) overflow = true;
        value = ((value << 4) | static_cast<ULONGLONG>(digit)) & all;
    }
    if (overflow) value = all;
    return negative ? (0 - value) & all : value;
}
