// The vendor report encoder, driven by arbitrary sequences of key and mouse
// events, with the virtual screen changing, the device now and then unbound
// and report writes failing. After every event: the held-key list has no
// duplicates and at most 28 entries, it and the button byte changed exactly
// as the event says, and the one report written (read back from the
// simulated platform's journal) is 30 bytes, report ID 6, the event's
// command, with its data where the layout puts it and zeros elsewhere. At
// the end a keyboard release of usage 0 and a button release of mask 0xFF
// must leave reports with no key and no button.

#include "common/virtual_device.h"
#include "daemon/encoder.h"
#include "fuzz_support.h"

#include <winsim/winsim.h>

#include <algorithm>
#include <vector>

// The daemon's program defines it; the encoder writes through its handle.
HidDevice vendorDevice;

namespace {

// ---- Reading events from the input -------------------------------------------

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at;
};

bool More(const Input& input) { return input.at < input.size; }
uint8_t Byte(Input& input) { return More(input) ? input.data[input.at++] : 0; }
uint16_t Word(Input& input) {
    uint16_t low = Byte(input);
    return static_cast<uint16_t>(low | (Byte(input) << 8));
}
uint32_t Long(Input& input) {
    uint32_t low = Word(input);
    return low | (static_cast<uint32_t>(Word(input)) << 16);
}

// Mostly a few dozen keyboard usages, so that repeats and a full list are
// common; now and then any 16-bit usage.
uint16_t KeyUsage(Input& input) {
    uint8_t pick = Byte(input);
    return pick < 0xC0 ? static_cast<uint16_t>(pick & 0x3F) : Word(input);
}

// ---- What the encoder holds ------------------------------------------------------

struct EncoderState {
    std::vector<BYTE> keys;
    BYTE buttons;
};

EncoderState Snapshot() {
    EncoderState state;
    // Read no further than the list's size, whatever the count says; the
    // count is checked on its own.
    state.keys.assign(pressedKeys, pressedKeys + std::min<DWORD>(pressedKeyCount, MAX_PRESSED_KEYS));
    state.buttons = mouseButtons;
    return state;
}

// " 04 16 ..." for a failure message.
template <typename Bytes>
std::string BytesText(const Bytes& bytes) {
    std::string text;
    for (int byte : bytes) {
        char hex[8];
        snprintf(hex, sizeof hex, " %02x", byte);
        text += hex;
    }
    return text;
}

// ---- Reports, from the journal ---------------------------------------------------

struct Written {
    std::vector<int> bytes;
    bool succeeded;
};

size_t journalRead = 0;   // journal lines already looked at
std::string boundHandle;  // the bound handle as the journal writes it

// The reports written since the last call.
std::vector<Written> NewReports() {
    std::vector<Written> reports;
    const std::vector<std::string>& journal = winsim::Journal();
    for (; journalRead < journal.size(); ++journalRead) {
        const std::string& line = journal[journalRead];
        if (line.rfind("WriteFile ", 0) != 0) continue;
        size_t open = line.find(" [");
        size_t close = line.find(']');
        FUZZ_CHECK(open != std::string::npos && close != std::string::npos, "journal line without data: %s",
                   line.c_str());
        FUZZ_CHECK(line.substr(10, open - 10) == boundHandle, "report not written to the bound device: %s",
                   line.c_str());
        std::string result = line.substr(close + 1);
        FUZZ_CHECK(result == " -> TRUE" || result.rfind(" -> FALSE", 0) == 0,
                   "report not written synchronously with a count of bytes: %s", line.c_str());
        Written report;
        for (size_t at = open + 2; at + 1 < close; at += 3)
            report.bytes.push_back(std::stoi(line.substr(at, 2), nullptr, 16));
        report.succeeded = result == " -> TRUE";
        reports.push_back(report);
    }
    return reports;
}

// ---- The events ---------------------------------------------------------------------

struct Event {
    bool isKey;
    DWORD usage;
    BOOL pressed;
    MouseEvent mouse;
};

struct Screen {
    int left, top, width, height;
};

// Nonzero in many forms, or 0.
BOOL Pressed(Input& input) {
    uint8_t pick = Byte(input);
    return (pick & 1) ? pick : 0;
}

Event KeyEvent(DWORD usage, BOOL pressed) { return {true, usage, pressed, {}}; }

Event MouseEventOf(Input& input) {
    Event event = {false, 0, FALSE, {}};
    uint8_t kind = Byte(input);
    event.mouse.kind = kind < 0xF0 ? static_cast<BYTE>(kind % 4) : kind;
    if (event.mouse.kind == MOUSE_KIND_BUTTON) {
        event.mouse.buttonMask = Byte(input);
        event.mouse.buttonPressed = static_cast<BYTE>(Pressed(input));
    } else if (event.mouse.kind == MOUSE_KIND_WHEEL) {
        event.mouse.wheelDelta = static_cast<signed char>(Byte(input));
    } else {
        event.mouse.x = static_cast<SHORT>(Word(input));
        event.mouse.y = static_cast<SHORT>(Word(input));
    }
    return event;
}

Event Buttons(BYTE mask, BOOL pressed) {
    Event event = {false, 0, FALSE, {}};
    event.mouse.kind = MOUSE_KIND_BUTTON;
    event.mouse.buttonMask = mask;
    event.mouse.buttonPressed = static_cast<BYTE>(pressed);
    return event;
}

// Screen sizes below 2 pixels (which cannot be scaled), ordinary ones, and
// any int at all; origins anywhere.
int Dimension(Input& input) {
    uint8_t pick = Byte(input);
    if (pick < 0x40) return pick & 3;
    if (pick < 0xC0) return Word(input);
    return static_cast<int>(Long(input));
}
int Origin(Input& input) {
    return Byte(input) < 0x80 ? static_cast<SHORT>(Word(input)) : static_cast<int>(Long(input));
}

// ---- What the event must do --------------------------------------------------------------

struct Outcome {
    bool writes;
    EncoderState state;
    std::vector<int> report;  // 30 bytes, when it writes
};

void PutWord(std::vector<int>& report, size_t at, int64_t value) {
    report[at] = static_cast<int>(value & 0xFF);
    report[at + 1] = static_cast<int>((value >> 8) & 0xFF);
}

// Absolute position on one axis: the first pixel maps to 0 and the last to
// 0x7FFF, then half a pixel's width in units of 1/0x8000 is added.
int64_t Scaled(int64_t coordinate, int64_t origin, int64_t size) {
    const __int128 low = origin;
    const __int128 high = origin + size - 1;
    const __int128 clamped = coordinate < low ? low : coordinate > high ? high : coordinate;
    return static_cast<int64_t>((clamped - low) * 0x7FFF / (high - low) + (0x8000 / size) / 2);
}

Outcome Expected(const Event& event, const EncoderState& before, bool bound, const Screen& screen) {
    Outcome outcome = {false, before, std::vector<int>(VENDOR_REPORT_LENGTH, 0)};
    if (!bound) return outcome;
    std::vector<int>& report = outcome.report;
    std::vector<BYTE>& keys = outcome.state.keys;
    BYTE& buttons = outcome.state.buttons;
    report[0] = VENDOR_REPORT_ID;
    if (event.isKey) {
        const uint16_t page = event.usage & 0xFFFF;
        const uint16_t usage = static_cast<uint16_t>(event.usage >> 16);
        if (page == USAGE_PAGE_KEYBOARD) {
            const BYTE key = static_cast<BYTE>(usage);
            const bool held = std::find(keys.begin(), keys.end(), key) != keys.end();
            if (event.pressed) {
                if (!held && keys.size() < MAX_PRESSED_KEYS) keys.push_back(key);
            } else if (usage == 0) {
                keys.clear();
            } else {
                keys.erase(std::remove(keys.begin(), keys.end(), key), keys.end());
            }
            report[1] = VENDOR_CMD_KEYBOARD;
            std::copy(keys.begin(), keys.end(), report.begin() + 2);
        } else if (page == USAGE_PAGE_CONSUMER) {
            report[1] = VENDOR_CMD_CONSUMER;
            if (event.pressed) PutWord(report, 2, usage);
        } else {
            return outcome;
        }
    } else {
        const MouseEvent& mouse = event.mouse;
        if (mouse.kind == MOUSE_KIND_BUTTON) {
            buttons = static_cast<BYTE>(mouse.buttonPressed ? buttons | mouse.buttonMask : buttons & ~mouse.buttonMask);
            report[1] = VENDOR_CMD_MOUSE;
            report[2] = buttons;
        } else if (mouse.kind == MOUSE_KIND_WHEEL) {
            report[1] = VENDOR_CMD_MOUSE;
            report[2] = buttons;
            PutWord(report, 3, mouse.wheelDelta);
        } else if (mouse.kind == MOUSE_KIND_ABSOLUTE) {
            if (screen.width < 2 || screen.height < 2) return outcome;
            report[1] = VENDOR_CMD_ABSOLUTE;
            PutWord(report, 5, Scaled(mouse.x, screen.left, screen.width));
            PutWord(report, 7, Scaled(mouse.y, screen.top, screen.height));
        } else if (mouse.kind == MOUSE_KIND_RELATIVE) {
            report[1] = VENDOR_CMD_MOUSE;
            report[2] = buttons;
            PutWord(report, 5, mouse.x);
            PutWord(report, 7, mouse.y);
        } else {
            return outcome;
        }
    }
    outcome.writes = true;
    return outcome;
}

std::string EventText(const Event& event) {
    char text[96];
    if (event.isKey)
        snprintf(text, sizeof text, "key page 0x%x usage 0x%x pressed %d", event.usage & 0xFFFF, event.usage >> 16,
                 event.pressed);
    else
        snprintf(text, sizeof text, "mouse kind %u, first bytes %02x %02x, x %d y %d", event.mouse.kind,
                 event.mouse.buttonMask, event.mouse.buttonPressed, event.mouse.x, event.mouse.y);
    return text;
}

// ---- One event through the encoder ----------------------------------------------------------

// How the next event is sent.
struct Conditions {
    HANDLE unboundAs;  // NULL or INVALID_HANDLE_VALUE in place of the bound handle, for one event
    bool unbound;
    bool writeFails;  // the next report write fails (armed in the platform)
    unsigned writes;  // report writes so far
    Screen screen;
};

// Sends the event and checks everything it must and must not do. Returns
// the report written, if any.
std::vector<int> SendAndCheck(const Event& event, Conditions& conditions) {
    const EncoderState before = Snapshot();
    const HANDLE bound = vendorDevice.handle;
    if (conditions.unbound) vendorDevice.handle = conditions.unboundAs;
    const BOOL result = event.isKey ? SendKeyEvent(0, event.usage, event.pressed) : SendMouseEvent(0, &event.mouse);
    vendorDevice.handle = bound;
    const Outcome expected = Expected(event, before, !conditions.unbound, conditions.screen);
    conditions.unbound = false;

    FUZZ_CHECK(pressedKeyCount <= MAX_PRESSED_KEYS, "%s: %u keys held", EventText(event).c_str(), pressedKeyCount);
    const EncoderState after = Snapshot();
    std::vector<BYTE> sorted = after.keys;
    std::sort(sorted.begin(), sorted.end());
    FUZZ_CHECK(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end(), "%s: a key is held twice: %s",
               EventText(event).c_str(), BytesText(after.keys).c_str());
    FUZZ_CHECK(after.keys == expected.state.keys, "%s: keys %s became %s instead of %s", EventText(event).c_str(),
               BytesText(before.keys).c_str(), BytesText(after.keys).c_str(), BytesText(expected.state.keys).c_str());
    FUZZ_CHECK(after.buttons == expected.state.buttons, "%s: buttons %02x became %02x instead of %02x",
               EventText(event).c_str(), before.buttons, after.buttons, expected.state.buttons);

    const std::vector<Written> reports = NewReports();
    if (!expected.writes) {
        FUZZ_CHECK(reports.empty() && result == FALSE, "%s: wrote %zu reports, result %d, where nothing may be sent",
                   EventText(event).c_str(), reports.size(), result);
        return {};
    }
    FUZZ_CHECK(reports.size() == 1, "%s: %zu reports written instead of one", EventText(event).c_str(), reports.size());
    ++conditions.writes;
    const Written& report = reports[0];
    FUZZ_CHECK(report.bytes.size() == VENDOR_REPORT_LENGTH && report.bytes[0] == VENDOR_REPORT_ID,
               "%s: a report of %zu bytes starting with %d", EventText(event).c_str(), report.bytes.size(),
               report.bytes.empty() ? -1 : report.bytes[0]);
    FUZZ_CHECK(report.succeeded == !conditions.writeFails, "%s: the write %s", EventText(event).c_str(),
               report.succeeded ? "succeeded" : "failed");
    conditions.writeFails = false;
    FUZZ_CHECK((result != FALSE) == report.succeeded, "%s: result %d for a write that %s", EventText(event).c_str(),
               result, report.succeeded ? "succeeded" : "failed");
    FUZZ_CHECK(report.bytes == expected.report, "%s:\n  report %s\n  wanted %s", EventText(event).c_str(),
               BytesText(report.bytes).c_str(), BytesText(expected.report).c_str());
    return report.bytes;
}

void CheckNothingHeld(const std::vector<int>& report, const char* after) {
    if (report.empty()) return;  // a failed write still shows its bytes; only an unbound device sends none
    FUZZ_CHECK(std::all_of(report.begin() + 2, report.end(), [](int byte) { return byte == 0; }),
               "report after %s holds a key or a button", after);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    winsim::Reset();
    journalRead = 0;
    winsim::HidInterface channel;
    channel.path = u"\\\\?\\hid#vid_1bcf&pid_05e3&col01#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    channel.vendorId = VIRTUAL_VENDOR_ID;
    channel.productId = VIRTUAL_PRODUCT_ID;
    channel.usagePage = VENDOR_USAGE_PAGE;
    channel.usage = VENDOR_USAGE_REPORTS;
    winsim::AddHidInterface(channel);
    std::unique_ptr<WCHAR[]> path = ExactCopy(channel.path);
    FUZZ_CHECK(OpenHidDevice(&vendorDevice, path.get(), TRUE, TRUE, FALSE), "the report channel does not open");
    char handle[32];
    snprintf(handle, sizeof handle, "0x%llx",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(vendorDevice.handle)));
    boundHandle = handle;

    // The state a process starts with.
    std::fill(std::begin(pressedKeys), std::end(pressedKeys), 0);
    pressedKeyCount = 0;
    mouseButtons = 0;
    Conditions conditions = {NULL, false, false, 0, {0, 0, 1024, 768}};
    winsim::SetVirtualScreen(0, 0, 1024, 768);

    Input input = {data, size, 0};
    while (More(input)) {
        uint8_t choice = Byte(input);
        switch (choice % 10) {
        case 0:
        case 1:
        case 2:
        case 3: {
            uint16_t usage = KeyUsage(input);
            SendAndCheck(KeyEvent(PackKeyUsage(USAGE_PAGE_KEYBOARD, usage), Pressed(input)), conditions);
            break;
        }
        case 4: {
            uint16_t usage = Word(input);
            SendAndCheck(KeyEvent(PackKeyUsage(USAGE_PAGE_CONSUMER, usage), Pressed(input)), conditions);
            break;
        }
        case 5: {
            DWORD usage = Long(input);
            SendAndCheck(KeyEvent(usage, static_cast<BOOL>(Long(input))), conditions);
            break;
        }
        case 6:
        case 7:
            SendAndCheck(MouseEventOf(input), conditions);
            break;
        case 8: {
            Screen& screen = conditions.screen;
            screen.left = Origin(input);
            screen.top = Origin(input);
            screen.width = Dimension(input);
            screen.height = Dimension(input);
            winsim::SetVirtualScreen(screen.left, screen.top, screen.width, screen.height);
            break;
        }
        default: {
            uint8_t how = Byte(input);
            if (how & 1) {
                conditions.unbound = true;
                conditions.unboundAs = (how & 2) ? INVALID_HANDLE_VALUE : NULL;
            }
            if ((how & 4) && !conditions.writeFails) {
                winsim::FailCall("WriteFile", conditions.writes + 1);
                conditions.writeFails = true;
            }
            break;
        }
        }
    }

    // Whatever the events left held, these two release it all, and the
    // reports after them show nothing held.
    conditions.unbound = false;
    CheckNothingHeld(SendAndCheck(KeyEvent(PackKeyUsage(USAGE_PAGE_KEYBOARD, 0), FALSE), conditions),
                     "a release of usage 0");
    FUZZ_CHECK(pressedKeyCount == 0, "%u keys held after a release of usage 0", pressedKeyCount);
    std::vector<int> report = SendAndCheck(Buttons(0xFF, FALSE), conditions);
    FUZZ_CHECK(mouseButtons == 0, "buttons %02x held after a release of all eight", mouseButtons);
    if (!report.empty()) FUZZ_CHECK(report[2] == 0, "the button release reports buttons %02x", report[2]);
    Event still = {false, 0, FALSE, {}};
    still.mouse.kind = MOUSE_KIND_RELATIVE;
    CheckNothingHeld(SendAndCheck(still, conditions), "the releases (relative move)");
    CheckNothingHeld(SendAndCheck(KeyEvent(PackKeyUsage(USAGE_PAGE_KEYBOARD, 0x04), FALSE), conditions),
                     "the releases (key release)");

    CloseHidDevice(&vendorDevice);
    for (const std::string& error : winsim::Errors())
        FUZZ_CHECK(false, "platform misuse: %s", error.c_str());
    return 0;
}
