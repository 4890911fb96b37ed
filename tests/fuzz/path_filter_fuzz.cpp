// The path filter of the virtual device: interface paths come from the
// system's enumeration, and any device can name itself. Only a path whose
// first "vid_" and first "pid_" (any case) are followed by numbers with the
// virtual device's IDs in their low 16 bits may pass; nothing else is ever
// opened.

#include "common/virtual_device.h"
#include "fuzz_support.h"

namespace {

char16_t AsciiLower(char16_t unit) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}
char16_t AsciiUpper(char16_t unit) {
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - u'a' + u'A') : unit;
}

std::u16string Mapped(std::u16string text, char16_t (*map)(char16_t)) {
    for (char16_t& unit : text)
        unit = map(unit);
    return text;
}

// Whether the number after the first `marker` (lower case) has `id` in its
// low 16 bits.
bool IdAfterMarker(const std::u16string& path, const std::u16string& marker, uint16_t id) {
    size_t found = Mapped(path, AsciiLower).find(marker);
    if (found == std::u16string::npos) return false;
    return (ReferenceHexNumber(path, found + marker.size(), 32) & 0xFFFF) == id;
}

bool Passes(const std::u16string& path) {
    std::unique_ptr<WCHAR[]> text = ExactCopy(path);
    return PathMayBeVirtualDevice(text.get()) != FALSE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string path = TextOf(data, size);
    bool expected = IdAfterMarker(path, u"vid_", 0x1BCF) && IdAfterMarker(path, u"pid_", 0x05E3);
    bool passed = Passes(path);
    FUZZ_CHECK(passed == expected, "path %s %s the filter", Printable(path).c_str(), passed ? "passed" : "failed");
    // Markers and hexadecimal digits count in either case.
    FUZZ_CHECK(Passes(Mapped(path, AsciiUpper)) == passed && Passes(Mapped(path, AsciiLower)) == passed,
               "the case of path %s changed the outcome", Printable(path).c_str());
    return 0;
}
