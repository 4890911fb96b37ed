// The installer's mode choice: the command-line tail alone decides whether
// the driver packages are installed or removed. Only the two option words
// as whole strings, ASCII letters in any case, may select a removal;
// everything else installs.

#include "installer/installer.h"
#include "fuzz_support.h"

namespace {

std::u16string AsciiLower(std::u16string text) {
    for (char16_t& unit : text)
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
    return text;
}

LPTHREAD_START_ROUTINE ExpectedWorker(const std::u16string& tail) {
    const std::u16string folded = AsciiLower(tail);
    if (folded == u"/uninstall") return UninstallWorker;
    if (folded == u"/smartuninstall") return SmartUninstallWorker;
    return InstallWorker;
}

const char* WorkerName(LPTHREAD_START_ROUTINE worker) {
    if (worker == InstallWorker) return "InstallWorker";
    if (worker == UninstallWorker) return "UninstallWorker";
    if (worker == SmartUninstallWorker) return "SmartUninstallWorker";
    return "an unknown routine";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string tail = TextOf(data, size);
    std::unique_ptr<WCHAR[]> text = ExactCopy(tail);
    LPTHREAD_START_ROUTINE chosen = ChooseWorker(text.get());
    LPTHREAD_START_ROUTINE expected = ExpectedWorker(tail);
    FUZZ_CHECK(chosen == expected, "tail %s chose %s instead of %s", Printable(tail).c_str(), WorkerName(chosen),
               WorkerName(expected));
    return 0;
}
