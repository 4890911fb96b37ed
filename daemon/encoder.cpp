#include "daemon/encoder.h"

BYTE pressedKeys[MAX_PRESSED_KEYS];
DWORD pressedKeyCount;
BYTE mouseButtons;

namespace {

// Where the commands put their data.
const DWORD OFFSET_COMMAND = 1;
const DWORD OFFSET_KEYS = 2;
const DWORD OFFSET_CONSUMER = 2;
const DWORD OFFSET_BUTTONS = 2;
const DWORD OFFSET_WHEEL = 3;
const DWORD OFFSET_X = 5;
const DWORD OFFSET_Y = 7;

// The device's absolute range: the first pixel maps to 0, the last to
// ABSOLUTE_LAST, and every value is moved by half a pixel's width in
// units of 1/ABSOLUTE_UNITS, to point at the pixel's middle.
const LONGLONG ABSOLUTE_UNITS = 0x8000;
const LONGLONG ABSOLUTE_LAST = 0x7FFF;

void PutWord(BYTE* at, USHORT value) {
    at[0] = static_cast<BYTE>(value & 0xFF);
    at[1] = static_cast<BYTE>(value >> 8);
}

// ---- Keyboard and consumer control ------------------------------------------

void PressKey(BYTE key) {
    for (DWORD i = 0; i < pressedKeyCount; ++i)
        if (pressedKeys[i] == key) return;
    // The report has no room for more; the press is lost, as on a keyboard
    // that rolls over.
    if (pressedKeyCount < MAX_PRESSED_KEYS) pressedKeys[pressedKeyCount++] = key;
}

// Drops the key where it is held; the keys behind it move down in order.
void ReleaseKey(BYTE key) {
    DWORD kept = 0;
    for (DWORD i = 0; i < pressedKeyCount; ++i)
        if (pressedKeys[i] != key) pressedKeys[kept++] = pressedKeys[i];
    pressedKeyCount = kept;
}

// The list holds only the low 8 bits of a usage, so a usage above 0xFF
// presses and releases the key of its low byte. Only a release of usage 0
// itself releases them all.
void EncodeKeyboard(USHORT usage, BOOL pressed, BYTE* report) {
    BYTE key = static_cast<BYTE>(usage & 0xFF);
    if (pressed) PressKey(key);
    else if (usage == 0) pressedKeyCount = 0;
    else ReleaseKey(key);
    for (DWORD i = 0; i < pressedKeyCount; ++i) report[OFFSET_KEYS + i] = pressedKeys[i];
}

// Consumer keys are not held in a list: a release is "no key".
void EncodeConsumer(USHORT usage, BOOL pressed, BYTE* report) {
    if (pressed) PutWord(report + OFFSET_CONSUMER, usage);
}

struct KeyPage {
    USHORT page;
    BYTE command;
    void (*encode)(USHORT usage, BOOL pressed, BYTE* report);
};

const KeyPage KEY_PAGES[] = {
    {USAGE_PAGE_KEYBOARD, VENDOR_CMD_KEYBOARD, EncodeKeyboard},
    {USAGE_PAGE_CONSUMER, VENDOR_CMD_CONSUMER, EncodeConsumer},
};

// ---- Mouse ----------------------------------------------------------------------

// One axis. The bounds are wider than 32 bits so that no metric values can
// overflow; for every screen up to 65,536 pixels the result is exactly that
// of the same formula in 32-bit arithmetic. Needs high > low.
LONG ScaleAxis(LONG coordinate, LONGLONG low, LONGLONG high) {
    LONGLONG step = ABSOLUTE_UNITS / (high - low + 1);
    LONGLONG clamped = coordinate < low ? low : coordinate > high ? high : coordinate;
    // At most 0x7FFF + 0x4000.
    return static_cast<LONG>((clamped - low) * ABSOLUTE_LAST / (high - low) + step / 2);
}

struct ScreenBounds {
    LONGLONG left, right, top, bottom;  // inclusive
};

// Maps a virtual-screen position to the device's absolute coordinates. A
// screen less than 2 pixels wide or high cannot be scaled (the formula
// divides by its size less one): false, and nothing is stored.
BOOL ScaleToAbsolute(LONG x, LONG y, const ScreenBounds* screen, LONG* absoluteX, LONG* absoluteY) {
    if (screen->right <= screen->left || screen->bottom <= screen->top) return FALSE;
    *absoluteX = ScaleAxis(x, screen->left, screen->right);
    *absoluteY = ScaleAxis(y, screen->top, screen->bottom);
    return TRUE;
}

BOOL EncodeButtons(const MouseEvent* event, BYTE* report) {
    if (event->buttonPressed) mouseButtons = static_cast<BYTE>(mouseButtons | event->buttonMask);
    else mouseButtons = static_cast<BYTE>(mouseButtons & ~event->buttonMask);
    report[OFFSET_BUTTONS] = mouseButtons;
    return TRUE;
}

BOOL EncodeWheel(const MouseEvent* event, BYTE* report) {
    report[OFFSET_BUTTONS] = mouseButtons;
    PutWord(report + OFFSET_WHEEL, static_cast<USHORT>(static_cast<SHORT>(event->wheelDelta)));
    return TRUE;
}

// The virtual screen is read anew for every move: monitors come and go.
// When it cannot be read its size is 0 and the move is not sent, rather
// than sent to a made-up place.
BOOL EncodeAbsolute(const MouseEvent* event, BYTE* report) {
    int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    ScreenBounds screen = {left, static_cast<LONGLONG>(left) + width - 1, top, static_cast<LONGLONG>(top) + height - 1};
    LONG x = 0;
    LONG y = 0;
    if (!ScaleToAbsolute(event->x, event->y, &screen, &x, &y)) return FALSE;
    PutWord(report + OFFSET_X, static_cast<USHORT>(x & 0xFFFF));
    PutWord(report + OFFSET_Y, static_cast<USHORT>(y & 0xFFFF));
    return TRUE;
}

BOOL EncodeRelative(const MouseEvent* event, BYTE* report) {
    report[OFFSET_BUTTONS] = mouseButtons;
    PutWord(report + OFFSET_X, static_cast<USHORT>(event->x));
    PutWord(report + OFFSET_Y, static_cast<USHORT>(event->y));
    return TRUE;
}

struct MouseKind {
    BYTE kind;
    BYTE command;
    BOOL (*encode)(const MouseEvent* event, BYTE* report);  // false: nothing to send
};

const MouseKind MOUSE_KINDS[] = {
    {MOUSE_KIND_BUTTON, VENDOR_CMD_MOUSE, EncodeButtons},
    {MOUSE_KIND_WHEEL, VENDOR_CMD_MOUSE, EncodeWheel},
    {MOUSE_KIND_ABSOLUTE, VENDOR_CMD_ABSOLUTE, EncodeAbsolute},
    {MOUSE_KIND_RELATIVE, VENDOR_CMD_MOUSE, EncodeRelative},
};

// ---- The report ------------------------------------------------------------------

// The handle is read at every call: the daemon may not have bound a device.
HANDLE BoundHandle() {
    HANDLE handle = vendorDevice.handle;
    return handle == INVALID_HANDLE_VALUE ? NULL : handle;
}

void StartReport(BYTE* report, BYTE command) {
    for (DWORD i = 0; i < VENDOR_REPORT_LENGTH; ++i) report[i] = 0;
    report[0] = VENDOR_REPORT_ID;
    report[OFFSET_COMMAND] = command;
}

// One synchronous write of the whole report; the handle is not overlapped.
BOOL WriteReport(HANDLE handle, const BYTE* report) {
    DWORD written = 0;
    return WriteFile(handle, report, VENDOR_REPORT_LENGTH, &written, NULL) ? TRUE : FALSE;
}

}  // namespace

BOOL SendKeyEvent(DWORD /*context*/, DWORD usage, BOOL pressed) {
    HANDLE handle = BoundHandle();
    if (handle == NULL) return FALSE;
    USHORT page = static_cast<USHORT>(usage & 0xFFFF);
    USHORT id = static_cast<USHORT>(usage >> 16);
    for (const KeyPage& entry : KEY_PAGES) {
        if (entry.page != page) continue;
        BYTE report[VENDOR_REPORT_LENGTH];
        StartReport(report, entry.command);
        entry.encode(id, pressed, report);
        // A state change stands when the write fails: the list describes
        // what the caller pressed, not what the device has seen.
        return WriteReport(handle, report);
    }
    return FALSE;
}

BOOL SendMouseEvent(DWORD /*context*/, const MouseEvent* event) {
    HANDLE handle = BoundHandle();
    if (handle == NULL || event == NULL) return FALSE;
    for (const MouseKind& entry : MOUSE_KINDS) {
        if (entry.kind != event->kind) continue;
        BYTE report[VENDOR_REPORT_LENGTH];
        StartReport(report, entry.command);
        if (!entry.encode(event, report)) return FALSE;
        return WriteReport(handle, report);
    }
    return FALSE;
}
