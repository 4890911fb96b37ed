#pragma once
// The vendor output report: how keyboard, consumer-control and mouse events
// are handed to the virtual device through its vendor collection 1. Every
// report is 30 bytes: report ID 6, a command byte, then the command's data
// (little-endian; every byte a command does not set is 0).

#include "common/hid_device.h"

const BYTE VENDOR_REPORT_ID = 6;
const DWORD VENDOR_REPORT_LENGTH = 30;

// Commands (report byte 1).
const BYTE VENDOR_CMD_ABSOLUTE = 2;  // absolute X at 5, Y at 7; no button state
const BYTE VENDOR_CMD_MOUSE = 3;     // buttons at 2, wheel at 3, relative X at 5, Y at 7
const BYTE VENDOR_CMD_KEYBOARD = 4;  // the held keyboard usages from byte 2 on
const BYTE VENDOR_CMD_CONSUMER = 5;  // one consumer usage at 2, 0 when released

// Usage pages a key event may name (low 16 bits of the packed usage).
const USHORT USAGE_PAGE_KEYBOARD = 0x07;
const USHORT USAGE_PAGE_CONSUMER = 0x0C;

// A keyboard report has room for this many held usages (bytes 2 to 29).
const DWORD MAX_PRESSED_KEYS = 28;

const BYTE MOUSE_KIND_BUTTON = 0;
const BYTE MOUSE_KIND_WHEEL = 1;
const BYTE MOUSE_KIND_ABSOLUTE = 2;  // x, y in virtual-screen pixels
const BYTE MOUSE_KIND_RELATIVE = 3;  // x, y as motion

// One mouse event, built by the caller and only read by SendMouseEvent.
struct MouseEvent {
    BYTE kind;
    union {
        struct {
            BYTE buttonMask;     // the buttons that change
            BYTE buttonPressed;  // nonzero: they go down; 0: they go up
        };
        signed char wheelDelta;
        struct {
            SHORT x;
            SHORT y;
        };
    };
};

// The collection the reports go to. The daemon binds it at start-up; the
// encoder only reads its handle, at every call, and never opens or closes it.
extern HidDevice vendorDevice;

// Encoder state, shared by the whole process and changed only by the two
// operations below (tests read and preset it).
extern BYTE pressedKeys[MAX_PRESSED_KEYS];  // held keyboard usages, in press order, no duplicates
extern DWORD pressedKeyCount;
extern BYTE mouseButtons;  // one bit per button

// Packs a usage page and a usage into the `usage` argument of SendKeyEvent.
inline DWORD PackKeyUsage(USHORT page, USHORT usage) {
    return static_cast<DWORD>(page) | (static_cast<DWORD>(usage) << 16);
}

// A key goes down (`pressed` nonzero) or up on the keyboard page (0x07) or
// the consumer page (0x0C); `usage` holds the page in its low 16 bits and
// the usage in its high 16 bits. Keyboard usages are kept by their low 8
// bits; a keyboard release of usage 0 releases every held key. `context` is
// ignored. Returns WriteFile's result, or 0 when nothing was written: no
// bound device, or a page the device does not take.
BOOL SendKeyEvent(DWORD context, DWORD usage, BOOL pressed);

// A button change, wheel step, absolute or relative move. `context` is
// ignored. Returns WriteFile's result, or 0 when nothing was written: no
// bound device, an unknown kind, or an absolute move while the virtual
// screen is less than 2 pixels wide or high (its size could not be read).
BOOL SendMouseEvent(DWORD context, const MouseEvent* event);
