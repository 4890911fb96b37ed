#include "daemon/encoder.h"

#include "common/virtual_device.h"
#include "support/sim_test.h"

#include <climits>

// The daemon program defines it in its main source; the tests bind it here.
HidDevice vendorDevice;

namespace {

using winsim::JournalOf;

// One event as a caller hands it to the encoder.
struct Event {
    bool isKey;
    DWORD usage;
    BOOL pressed;
    MouseEvent mouse;
};

Event KeyEvent(USHORT page, USHORT usage, bool down) { return {true, PackKeyUsage(page, usage), down, {}}; }
Event Press(USHORT usage) { return KeyEvent(USAGE_PAGE_KEYBOARD, usage, true); }
Event Release(USHORT usage) { return KeyEvent(USAGE_PAGE_KEYBOARD, usage, false); }
Event ConsumerPress(USHORT usage) { return KeyEvent(USAGE_PAGE_CONSUMER, usage, true); }
Event ConsumerRelease(USHORT usage) { return KeyEvent(USAGE_PAGE_CONSUMER, usage, false); }

Event Mouse(BYTE kind) {
    Event event = {false, 0, FALSE, {}};
    event.mouse.kind = kind;
    return event;
}
Event Buttons(BYTE mask, bool down) {
    Event event = Mouse(MOUSE_KIND_BUTTON);
    event.mouse.buttonMask = mask;
    event.mouse.buttonPressed = down ? 1 : 0;
    return event;
}
Event Wheel(signed char delta) {
    Event event = Mouse(MOUSE_KIND_WHEEL);
    event.mouse.wheelDelta = delta;
    return event;
}
Event Move(BYTE kind, SHORT x, SHORT y) {
    Event event = Mouse(kind);
    event.mouse.x = x;
    event.mouse.y = y;
    return event;
}
Event Absolute(SHORT x, SHORT y) { return Move(MOUSE_KIND_ABSOLUTE, x, y); }
Event Relative(SHORT x, SHORT y) { return Move(MOUSE_KIND_RELATIVE, x, y); }

BOOL Send(const Event& event) {
    return event.isKey ? SendKeyEvent(0, event.usage, event.pressed) : SendMouseEvent(0, &event.mouse);
}

// A whole 30-byte report as the journal shows it, from its leading bytes.
std::string Report(const std::string& leading) {
    std::string bytes = leading;
    size_t count = (leading.size() + 1) / 3;
    for (; count < 30; ++count) bytes += " 00";
    return bytes;
}

// The journal line of a report written through the bound handle.
std::string Written(const std::string& leading, const char* result = "TRUE") {
    return "WriteFile " + HandleText(vendorDevice.handle) + " [" + Report(leading) + "] -> " + result;
}

std::string ByteList(const std::vector<int>& bytes) {
    std::string text;
    for (int value : bytes) {
        char hex[4];
        snprintf(hex, sizeof hex, "%02x", value);
        text += std::string(text.empty() ? "" : " ") + hex;
    }
    return text;
}

class EncoderTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ClearState();
        BindVendorCollection();
    }
    // Vendor collection 1, opened as the daemon opens it.
    static void BindVendorCollection() {
        winsim::AddHidInterface(VirtualCollection(VENDOR_USAGE_REPORTS));
        ASSERT_TRUE(OpenHidDevice(&vendorDevice, Wide(VirtualCollection(VENDOR_USAGE_REPORTS).path), TRUE, TRUE, FALSE));
        winsim::ClearJournal();
    }
    void TearDown() override {
        CloseHidDevice(&vendorDevice);
        SimTest::TearDown();
    }
    // The state a process starts with.
    static void ClearState() {
        for (BYTE& key : pressedKeys) key = 0;
        pressedKeyCount = 0;
        mouseButtons = 0;
    }
    // Sends one event that must be written, and checks the one report.
    static void ExpectReport(const Event& event, const std::string& leading) {
        winsim::ClearJournal();
        EXPECT_EQ(Send(event), TRUE);
        EXPECT_EQ(JournalOf("WriteFile"), std::vector<std::string>{Written(leading)});
    }
    static std::vector<int> HeldKeys() { return std::vector<int>(pressedKeys, pressedKeys + pressedKeyCount); }
};

struct Step {
    Event event;
    const char* report;  // its leading bytes; the rest are 0
};
struct Sequence {
    const char* what;
    std::vector<Step> steps;
};

void RunSequences(const std::vector<Sequence>& sequences) {
    for (const Sequence& sequence : sequences) {
        SCOPED_TRACE(sequence.what);
        for (BYTE& key : pressedKeys) key = 0;
        pressedKeyCount = 0;
        mouseButtons = 0;
        for (size_t i = 0; i < sequence.steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i + 1));
            winsim::ClearJournal();
            EXPECT_EQ(Send(sequence.steps[i].event), TRUE);
            EXPECT_EQ(JournalOf("WriteFile"), std::vector<std::string>{Written(sequence.steps[i].report)});
        }
    }
}

TEST_F(EncoderTest, KeyEventsSendTheHeldListOrTheConsumerUsage) {
    RunSequences({
        {"two presses, then the first released",
         {{Press(0x04), "06 04 04"}, {Press(0x16), "06 04 04 16"}, {Release(0x04), "06 04 16"}}},
        {"a second press of a held key repeats the list",
         {{Press(0x04), "06 04 04"}, {Press(0x05), "06 04 04 05"}, {Press(0x04), "06 04 04 05"}}},
        {"release of a key not held still sends the list",
         {{Press(0x04), "06 04 04"}, {Release(0x05), "06 04 04"}, {Release(0x04), "06 04"}, {Release(0x04), "06 04"}}},
        {"release in the middle keeps the others in order",
         {{Press(0x04), "06 04 04"},
          {Press(0x05), "06 04 04 05"},
          {Press(0x06), "06 04 04 05 06"},
          {Release(0x05), "06 04 04 06"},
          {Press(0x05), "06 04 04 06 05"}}},
        {"release of usage 0 releases every key",
         {{Press(0x04), "06 04 04"}, {Press(0xE1), "06 04 04 e1"}, {Release(0x00), "06 04"}, {Press(0x05), "06 04 05"}}},
        {"usage 0 is held like any key, and 0x0100 releases only it",
         {{Press(0x00), "06 04 00"},
          {Press(0x04), "06 04 00 04"},
          {Release(0x0100), "06 04 04"},
          {Press(0x00), "06 04 04 00"},
          {Release(0x00), "06 04"}}},
        {"usages above 0xFF count by their low byte",
         {{Press(0x0104), "06 04 04"},
          {Press(0x0004), "06 04 04"},
          {Press(0xFF05), "06 04 04 05"},
          {Release(0x0104), "06 04 05"},
          {Release(0x0305), "06 04"}}},
        {"consumer press sends the whole usage, any release sends 0",
         {{ConsumerPress(0x00E9), "06 05 e9 00"},
          {ConsumerRelease(0x00E9), "06 05 00 00"},
          {ConsumerPress(0x0223), "06 05 23 02"},
          {ConsumerRelease(0x00EA), "06 05 00 00"},
          {ConsumerRelease(0x0000), "06 05 00 00"}}},
        {"consumer keys leave the held list alone",
         {{Press(0x04), "06 04 04"},
          {ConsumerPress(0x0004), "06 05 04 00"},
          {ConsumerRelease(0x0004), "06 05 00 00"},
          {Press(0x05), "06 04 04 05"}}},
    });
}

TEST_F(EncoderTest, MouseEventsCarryTheButtonStateExceptAbsoluteMoves) {
    winsim::SetVirtualScreen(0, 0, 1024, 768);
    RunSequences({
        {"button changes",
         {{Buttons(0x01, true), "06 03 01"},
          {Buttons(0x04, true), "06 03 05"},
          {Buttons(0x01, false), "06 03 04"},
          {Buttons(0x02, false), "06 03 04"},
          {Buttons(0x06, true), "06 03 06"},
          {Buttons(0x06, true), "06 03 06"},
          {Buttons(0xFF, false), "06 03 00"}}},
        {"wheel steps extended by sign, with the held buttons",
         {{Buttons(0x01, true), "06 03 01"},
          {Wheel(-1), "06 03 01 ff ff"},
          {Wheel(3), "06 03 01 03 00"},
          {Wheel(-128), "06 03 01 80 ff"},
          {Wheel(127), "06 03 01 7f 00"},
          {Wheel(0), "06 03 01"}}},
        {"relative moves copied, with the held buttons",
         {{Relative(-3, 5), "06 03 00 00 00 fd ff 05 00"},
          {Buttons(0x03, true), "06 03 03"},
          {Relative(-3, 5), "06 03 03 00 00 fd ff 05 00"},
          {Relative(-32768, 32767), "06 03 03 00 00 00 80 ff 7f"},
          {Relative(0, 0), "06 03 03"}}},
        {"absolute moves carry no buttons and leave them held",
         {{Buttons(0x07, true), "06 03 07"},
          {Absolute(512, 384), "06 02 00 00 00 1f 40 29 40"},
          {Wheel(1), "06 03 07 01 00"}}},
        {"keyboard and mouse state are apart",
         {{Press(0x04), "06 04 04"}, {Buttons(0x01, true), "06 03 01"}, {Press(0x05), "06 04 04 05"}, {Wheel(-1), "06 03 01 ff ff"}}},
        {"the daemon's shutdown releases with nothing held",
         {{Release(0x00), "06 04"}, {Buttons(0x1F, false), "06 03"}}},
        {"the daemon's shutdown releases after keys and buttons were held",
         {{Press(0x04), "06 04 04"},
          {Press(0x05), "06 04 04 05"},
          {Buttons(0x21, true), "06 03 21"},
          {Release(0x00), "06 04"},
          {Buttons(0x1F, false), "06 03 20"}}},
    });
}

TEST_F(EncoderTest, TwentyNinthPressIsDroppedButTheFullListIsStillSent) {
    std::vector<int> held;
    for (USHORT usage = 0x04; usage < 0x04 + MAX_PRESSED_KEYS; ++usage) {
        held.push_back(usage);
        ExpectReport(Press(usage), "06 04 " + ByteList(held));
    }
    ASSERT_EQ(held.size(), 28u);
    ASSERT_EQ(held.back(), 0x1F);
    const std::string full = "06 04 " + ByteList(held);
    ASSERT_EQ(Report(full), full) << "28 keys fill the report to its last byte";

    ExpectReport(Press(0x20), full);
    ExpectReport(Press(0x04), full);
    EXPECT_EQ(HeldKeys(), held);

    // A release makes room again; the next press goes to the end.
    held.erase(held.begin() + 10);
    held.push_back(0x20);
    ExpectReport(Release(0x0E), "06 04 " + ByteList(std::vector<int>(held.begin(), held.end() - 1)));
    ExpectReport(Press(0x20), "06 04 " + ByteList(held));
    EXPECT_EQ(HeldKeys(), held);
}

TEST_F(EncoderTest, AbsoluteMovesScaleToTheVirtualScreen) {
    const struct {
        const char* what;
        int left, top, width, height;
        SHORT x, y;
        const char* report;
    } cases[] = {
        {"middle", 0, 0, 1024, 768, 512, 384, "06 02 00 00 00 1f 40 29 40"},
        {"first pixel", 0, 0, 1024, 768, 0, 0, "06 02 00 00 00 10 00 15 00"},
        {"last pixel, above 0x7FFF", 0, 0, 1024, 768, 1023, 767, "06 02 00 00 00 0f 80 14 80"},
        {"outside, clamped", 0, 0, 1024, 768, 5000, -10, "06 02 00 00 00 0f 80 15 00"},
        {"two monitors, middle", -1920, 0, 3840, 1080, 0, 540, "06 02 00 00 00 07 40 1d 40"},
        {"two monitors, first pixel", -1920, 0, 3840, 1080, -1920, 0, "06 02 00 00 00 04 00 0f 00"},
        {"two monitors, last pixel", -1920, 0, 3840, 1080, 1919, 1079, "06 02 00 00 00 03 80 0e 80"},
        {"two monitors, clamped left and below", -1920, 0, 3840, 1080, -32768, 32767, "06 02 00 00 00 04 00 0e 80"},
        {"two monitors, clamped right and above", -1920, 0, 3840, 1080, 32767, -32768, "06 02 00 00 00 03 80 0f 00"},
        {"smallest screen, first pixel", 0, 0, 2, 2, 0, 0, "06 02 00 00 00 00 20 00 20"},
        {"smallest screen, last pixel", 0, 0, 2, 2, 1, 1, "06 02 00 00 00 ff 9f ff 9f"},
        // 65,535 x 32,767 is the largest product of the formula on 65,536 pixels.
        {"65,536 pixels, last pixel", -32768, 0, 65536, 768, 32767, 0, "06 02 00 00 00 ff 7f 15 00"},
        // From here the products no longer fit in 32 bits.
        {"wider than 65,536 pixels", -50000, -40000, 100000, 80000, 32767, -32768, "06 02 00 00 00 f0 69 92 0b"},
        {"widest metrics", INT_MIN, 0, INT_MAX, 768, 0, 0, "06 02 00 00 00 ff 7f 15 00"},
        {"origin where the right edge passes INT_MAX", INT_MAX, 0, 10, 768, 0, 0, "06 02 00 00 00 66 06 15 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        winsim::SetVirtualScreen(c.left, c.top, c.width, c.height);
        ExpectReport(Absolute(c.x, c.y), c.report);
    }
}

// Monitors come and go: each absolute move reads the screen again; nothing
// else reads it.
TEST_F(EncoderTest, EveryAbsoluteMoveReadsTheVirtualScreenAnew) {
    const std::vector<std::string> metrics1024 = {"GetSystemMetrics 76 -> 0", "GetSystemMetrics 77 -> 0",
                                                  "GetSystemMetrics 78 -> 1024", "GetSystemMetrics 79 -> 768"};
    winsim::SetVirtualScreen(0, 0, 1024, 768);
    for (const Event& event : {Press(0x04), ConsumerPress(0xE9), Buttons(0x01, true), Wheel(1), Relative(1, 1)})
        EXPECT_EQ(Send(event), TRUE);
    EXPECT_TRUE(JournalOf("GetSystemMetrics").empty());

    ExpectReport(Absolute(0, 540), "06 02 00 00 00 10 00 32 5a");
    winsim::ClearJournal();
    winsim::SetVirtualScreen(-1920, 0, 3840, 1080);
    EXPECT_EQ(Send(Absolute(0, 540)), TRUE);
    EXPECT_EQ(JournalOf("GetSystemMetrics WriteFile"),
              (std::vector<std::string>{"GetSystemMetrics 76 -> -1920", "GetSystemMetrics 77 -> 0",
                                        "GetSystemMetrics 78 -> 3840", "GetSystemMetrics 79 -> 1080",
                                        Written("06 02 00 00 00 07 40 1d 40")}));
}

// The formula divides by the size and by the size less one; a screen that
// small, or one whose size could not be read, has no position to send.
TEST_F(EncoderTest, ScreenTooSmallToScaleSendsNothing) {
    const struct {
        const char* what;
        int width, height;
        unsigned failingMetric;  // 1-based GetSystemMetrics call that fails, 0 for none
    } cases[] = {
        {"no width", 0, 768, 0},          {"no height", 1024, 0, 0},        {"one pixel wide", 1, 768, 0},
        {"one pixel high", 1024, 1, 0},   {"negative width", -1024, 768, 0}, {"negative height", 1024, INT_MIN, 0},
        {"width unreadable", 1024, 768, 3}, {"height unreadable", 1024, 768, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CloseHidDevice(&vendorDevice);
        winsim::Reset();  // the failing call is counted from here
        BindVendorCollection();
        winsim::SetVirtualScreen(0, 0, c.width, c.height);
        if (c.failingMetric) winsim::FailCall("GetSystemMetrics", c.failingMetric);
        winsim::ClearJournal();
        EXPECT_EQ(Send(Absolute(0, 0)), FALSE);
        EXPECT_EQ(JournalOf("GetSystemMetrics").size(), 4u);
        EXPECT_TRUE(JournalOf("WriteFile").empty());
    }
}

TEST_F(EncoderTest, WithoutABoundDeviceNothingIsSentOrRemembered) {
    ExpectReport(Press(0x04), "06 04 04");
    ExpectReport(Buttons(0x01, true), "06 03 01");
    const HANDLE unbound[] = {NULL, INVALID_HANDLE_VALUE};
    for (HANDLE handle : unbound) {
        SCOPED_TRACE(HandleText(handle));
        CloseHidDevice(&vendorDevice);
        vendorDevice.handle = handle;
        winsim::ClearJournal();
        for (const Event& event : {Press(0x05), Release(0x04), Release(0x00), ConsumerPress(0xE9), Buttons(0x02, true),
                                   Buttons(0xFF, false), Wheel(1), Absolute(10, 10), Relative(1, 1)})
            EXPECT_EQ(Send(event), FALSE);
        EXPECT_TRUE(winsim::Journal().empty()) << Joined(winsim::Journal());
        EXPECT_EQ(HeldKeys(), std::vector<int>{0x04});
        EXPECT_EQ(mouseButtons, 0x01);
        vendorDevice.handle = NULL;
        // Bound again (possibly to another handle): the next call writes through it.
        ASSERT_TRUE(OpenHidDevice(&vendorDevice, Wide(VirtualCollection(VENDOR_USAGE_REPORTS).path), TRUE, TRUE, FALSE));
        ExpectReport(Press(0x06), "06 04 04 06");
        ExpectReport(Release(0x06), "06 04 04");
    }
}

TEST_F(EncoderTest, UnhandledPagesAndKindsSendNothingAndChangeNothing) {
    ExpectReport(Press(0x04), "06 04 04");
    ExpectReport(Buttons(0x01, true), "06 03 01");
    winsim::ClearJournal();
    const USHORT pages[] = {0x00, 0x01 /* Generic Desktop */, 0x08 /* LED */, 0x09 /* Button */, 0xFF00, 0x0107, 0x070C};
    for (USHORT page : pages) {
        SCOPED_TRACE(page);
        EXPECT_EQ(Send(KeyEvent(page, 0x05, true)), FALSE);
        EXPECT_EQ(Send(KeyEvent(page, 0x00, false)), FALSE);
        EXPECT_EQ(Send(KeyEvent(page, 0x04, false)), FALSE);
    }
    const BYTE kinds[] = {4, 5, 0x80, 0xFF};
    for (BYTE kind : kinds) {
        SCOPED_TRACE(kind);
        Event event = Buttons(0xFF, false);
        event.mouse.kind = kind;
        EXPECT_EQ(Send(event), FALSE);
    }
    EXPECT_EQ(SendMouseEvent(0, NULL), FALSE);
    EXPECT_TRUE(winsim::Journal().empty()) << Joined(winsim::Journal());
    EXPECT_EQ(HeldKeys(), std::vector<int>{0x04});
    EXPECT_EQ(mouseButtons, 0x01);
}

// The state follows what the caller pressed, whether or not the device
// took the report: no retry, and the next report carries it.
TEST_F(EncoderTest, FailedWriteReturnsZeroAndKeepsTheStateChange) {
    winsim::FailCall("WriteFile", 2);
    ExpectReport(Press(0x04), "06 04 04");
    winsim::ClearJournal();
    EXPECT_EQ(Send(Press(0x05)), FALSE);
    EXPECT_EQ(JournalOf("WriteFile"), std::vector<std::string>{Written("06 04 04 05", "FALSE (error 31)")});
    ExpectReport(Press(0x06), "06 04 04 05 06");

    winsim::FailCall("WriteFile", 4);
    winsim::ClearJournal();
    EXPECT_EQ(Send(Buttons(0x02, true)), FALSE);
    EXPECT_EQ(JournalOf("WriteFile"), std::vector<std::string>{Written("06 03 02", "FALSE (error 31)")});
    ExpectReport(Wheel(-1), "06 03 02 ff ff");

    // Read-only handle: the device refuses every report.
    CloseHidDevice(&vendorDevice);
    ASSERT_TRUE(OpenHidDevice(&vendorDevice, Wide(VirtualCollection(VENDOR_USAGE_REPORTS).path), TRUE, FALSE, FALSE));
    winsim::ClearJournal();
    EXPECT_EQ(Send(Release(0x00)), FALSE);
    EXPECT_EQ(Send(Buttons(0x1F, false)), FALSE);
    EXPECT_EQ(pressedKeyCount, 0u);
    EXPECT_EQ(mouseButtons, 0x00);
}

}  // namespace
