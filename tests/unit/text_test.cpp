#include "common/text.h"

#include <gtest/gtest.h>
#include <winsim/winsim.h>

namespace {

struct NumberCase {
    const char* text;
    int bits;
    unsigned long long expected;
};

TEST(ReadHexNumber, FollowsTheRuntimeNumberRules) {
    const NumberCase cases[] = {
        {"1bcf", 32, 0x1BCF},
        {"1BCF", 32, 0x1BCF},
        {"  \t1bcf", 32, 0x1BCF},
        {"+1bcf", 32, 0x1BCF},
        {"0x1bcf", 32, 0x1BCF},
        {"0X1BCF", 32, 0x1BCF},
        {"1bcf&pid_05e3", 32, 0x1BCF},
        {"-1", 32, 0xFFFFFFFF},
        {"-e431", 32, 0xFFFF1BCF},
        {"", 32, 0},
        {"&pid", 32, 0},
        {"0x", 32, 0},
        {"0xg", 32, 0},
        {"- 5", 32, 0},
        {"+-5", 32, 0},
        {"ffffffff", 32, 0xFFFFFFFF},
        {"100000000", 32, 0xFFFFFFFF},          // too wide: all bits set
        {"-100000000", 32, 1},                   // saturated, then negated
        {"00000000000000001bcf", 32, 0x1BCF},   // leading zeros never overflow
        {"123456789abcdef0", 64, 0x123456789ABCDEF0},
        {"10000000000000000", 64, ~0ULL},
        {"-1", 64, ~0ULL},
        {"-2", 64, ~0ULL - 1},
    };
    for (const NumberCase& c : cases) {
        std::u16string text = winsim::Utf16(c.text);
        EXPECT_EQ(ReadHexNumber(reinterpret_cast<LPCWSTR>(text.c_str()), c.bits), c.expected)
            << '"' << c.text << "\" as " << c.bits << " bits";
    }
}

TEST(EqualsIgnoringAsciiCase, FoldsOnlyAsciiLettersAndComparesWholeStrings) {
    const struct {
        const char* a;
        const char* b;
        bool equal;
    } cases[] = {
        {"/Uninstall", "/uninstall", true},  {"/Uninstall", "/UNINSTALL", true},
        {"/Uninstall", "/Uninstall ", false}, {"/Uninstall", "/Uninstal", false},
        {"/Uninstall", "-Uninstall", false}, {"", "", true},
        {"\xc3\x9c", "\xc3\xbc", false},  // no folding beyond ASCII
        {"@", "`", false},                  // neighbours of the letter ranges
        {"[", "{", false},
    };
    for (const auto& c : cases) {
        std::u16string a = winsim::Utf16(c.a), b = winsim::Utf16(c.b);
        EXPECT_EQ(EqualsIgnoringAsciiCase(reinterpret_cast<LPCWSTR>(a.c_str()), reinterpret_cast<LPCWSTR>(b.c_str())) != 0,
                  c.equal)
            << c.a << " vs " << c.b;
    }
}

}  // namespace
