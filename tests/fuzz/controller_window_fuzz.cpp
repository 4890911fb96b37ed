// The daemon's number rule: the controller's window handle is read from a
// command-line tail that the controller writes. The product's reader must
// agree with the reference reading on every text, for the daemon's 64-bit
// rule (of which it keeps the low 32 bits) and for the 32-bit rule that
// the path filter uses on device paths.

#include "common/text.h"
#include "daemon/daemon.h"
#include "fuzz_support.h"

// The daemon's program defines it; daemon_core refers to it.
HidDevice vendorDevice;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string tail = TextOf(data, size);
    std::unique_ptr<WCHAR[]> text = ExactCopy(tail);

    uintptr_t handle = reinterpret_cast<uintptr_t>(ReadControllerWindow(text.get()));
    // An empty tail leaves the handle null; any other is a number.
    uintptr_t expected = tail.empty() ? 0 : static_cast<uint32_t>(ReferenceHexNumber(tail, 0, 64));
    FUZZ_CHECK(handle == expected, "tail %s gave window 0x%llx instead of 0x%llx", Printable(tail).c_str(),
               static_cast<unsigned long long>(handle), static_cast<unsigned long long>(expected));

    uint64_t narrow = ReadHexNumber(text.get(), 32);
    uint64_t narrowExpected = ReferenceHexNumber(tail, 0, 32);
    FUZZ_CHECK(narrow == narrowExpected, "text %s read as 0x%llx in 32 bits instead of 0x%llx", Printable(tail).c_str(),
               static_cast<unsigned long long>(narrow), static_cast<unsigned long long>(narrowExpected));
    return 0;
}
