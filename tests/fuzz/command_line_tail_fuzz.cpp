// The command-line tail: both programs take their only input from a command
// line that whoever starts them writes. For any command line the tail must
// be a suffix of it, and what it skips must be one program name followed by
// blanks and nothing else.

#include "common/app_shell.h"
#include "fuzz_support.h"

namespace {

bool IsBlank(char16_t unit) { return unit >= 0x0001 && unit <= 0x0020; }

// Where the name ends in the first `length` units of `line`: at the first
// unit at or below U+0020 that stands outside quotes, else at `length`.
size_t NameEnd(const std::u16string& line, size_t length) {
    bool quoted = false;
    for (size_t i = 0; i < length; ++i) {
        if (!quoted && line[i] <= 0x0020) return i;
        if (line[i] == u'"') quoted = !quoted;
    }
    return length;
}

void CheckTail(const std::u16string& line) {
    std::unique_ptr<WCHAR[]> text = ExactCopy(line);
    LPCWSTR tail = CommandLineTail(text.get());
    FUZZ_CHECK(tail >= text.get() && tail <= text.get() + line.size(), "tail outside the line %s",
               Printable(line).c_str());
    size_t skipped = static_cast<size_t>(tail - text.get());
    size_t nameEnd = NameEnd(line, skipped);

    // After the name only blanks are skipped...
    for (size_t i = nameEnd; i < skipped; ++i)
        FUZZ_CHECK(IsBlank(line[i]), "non-blank unit %zu skipped after the name in %s", i, Printable(line).c_str());
    // ...all of them: the tail never starts with one...
    FUZZ_CHECK(skipped == line.size() || !IsBlank(line[skipped]), "tail of %s starts with a blank",
               Printable(line).c_str());
    // ...and the name stops only at a blank outside quotes or at the end of
    // the line, never at a unit that belongs to it.
    FUZZ_CHECK(nameEnd < skipped || skipped == line.size(), "name of %s cut at unit %zu", Printable(line).c_str(),
               skipped);

    // What follows the arguments' start cannot move it.
    if (skipped < line.size()) {
        std::u16string longer = line + u" x\"y";
        std::unique_ptr<WCHAR[]> longerText = ExactCopy(longer);
        FUZZ_CHECK(CommandLineTail(longerText.get()) - longerText.get() == static_cast<ptrdiff_t>(skipped),
                   "appending text moved the tail of %s", Printable(line).c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool nullChecked = false;
    if (!nullChecked) {
        FUZZ_CHECK(CommandLineTail(NULL) != NULL && *CommandLineTail(NULL) == 0,
                   "no command line must give an empty tail");
        nullChecked = true;
    }
    CheckTail(TextOf(data, size));
    return 0;
}
