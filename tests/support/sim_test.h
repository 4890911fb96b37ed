#pragma once
// Test helpers: a fixture with a fresh simulated world that fails the test
// when the product misused the platform, and short ways to name paths.

#include <gtest/gtest.h>
#include <winsim/winsim.h>

#include <cstdio>
#include <string>
#include <vector>

class SimTest : public ::testing::Test {
protected:
    void SetUp() override { winsim::Reset(); }
    void TearDown() override {
        for (const std::string& error : winsim::Errors()) ADD_FAILURE() << "platform misuse: " << error;
    }
};

// A HID interface path in the platform's form; `ids` is the part after "hid#".
inline std::u16string HidPath(const std::string& ids, int instance = 0) {
    return winsim::Utf16("\\\\?\\hid#" + ids + "#7&1a2b3c4d&0&" + std::to_string(1000 + instance) +
                         "#{4d1e55b2-f16f-11cf-88cb-001111000030}");
}

// A collection of the virtual device with the given usage.
inline winsim::HidInterface VirtualCollection(USHORT usage, int instance = 0) {
    winsim::HidInterface hid;
    hid.path = HidPath("vid_1bcf&pid_05e3&col0" + std::to_string(usage), instance);
    hid.vendorId = 0x1BCF;
    hid.productId = 0x05E3;
    hid.usagePage = 0xFF00;
    hid.usage = usage;
    return hid;
}

// Some other HID device (Wine's own, for example).
inline winsim::HidInterface OtherDevice(int instance = 0) {
    winsim::HidInterface hid;
    hid.path = HidPath("vid_845e&pid_0001", instance);
    hid.vendorId = 0x845E;
    hid.productId = 0x0001;
    hid.usagePage = 0x0001;
    hid.usage = 0x0006;
    return hid;
}

inline std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

inline LPCWSTR Wide(const std::u16string& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }

// A handle as the journal writes it.
inline std::string HandleText(const void* handle) {
    char text[32];
    snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)));
    return text;
}
