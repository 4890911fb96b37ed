#pragma once
// UTF-16 text helpers. The C runtime's wide-string functions are not used:
// the host build runs with a 16-bit wchar_t that glibc does not know.

#include "common/platform.h"

// Whole-string comparison in which only the ASCII letters A-Z are folded to
// a-z; every other unit must match exactly.
BOOL EqualsIgnoringAsciiCase(LPCWSTR a, LPCWSTR b);

// Reads an unsigned hexadecimal number the way the C runtime's strtoul
// family does, for a value `bits` wide (32 or 64): leading white space, one
// optional sign ("-" negates modulo 2^bits), one optional "0x"/"0X", then
// hexadecimal digits up to the first other unit. No digits give 0; a value
// that does not fit saturates to all bits set before the sign is applied.
ULONGLONG ReadHexNumber(LPCWSTR text, int bits);
