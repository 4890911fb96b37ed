#include "daemon/daemon.h"

#include "common/app_shell.h"
#include "common/text.h"
#include "common/virtual_device.h"
#include "daemon/encoder.h"

HWND controllerWindow;
HWND daemonWindow;

namespace {

// The daemon has two ways out: the watchdog's shutdown sequence, which
// writes the release reports through vendorDevice and then ends the
// process, and the runtime's exit after the daemon's own window was
// destroyed, whose destructors close vendorDevice. Both can start at the
// same moment; whichever claims the way out first is taken, so that the
// runtime never closes the handle while the watchdog writes through it.
const LONG WAY_OUT_OPEN = 0;
const LONG WAY_OUT_WATCHDOG = 1;       // the shutdown sequence is running
const LONG WAY_OUT_WATCHDOG_DONE = 2;  // its writes are done; the process is ending
const LONG WAY_OUT_RUNTIME = 3;        // the runtime's exit is closing the device
LONG volatile wayOut = WAY_OUT_OPEN;

const struct {
    const WCHAR* device;
    DWORD code;
} CLEANUP_REQUESTS[] = {
    {L"\\\\.\\hidfiltr_XT2B4F", IOCTL_HIDFILTR_CLEANUP},
    {L"\\\\.\\moufiltr_XT2B4F", IOCTL_MOUFILTR_CLEANUP},
};

// Opens the filter's control device exclusively and sends the request
// without buffers. A device that is not there is skipped. The handle stays
// open: the process ends a moment later.
void SendCleanupRequest(const WCHAR* device, DWORD code) {
    HANDLE control = CreateFileW(device, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (control == INVALID_HANDLE_VALUE) return;
    DWORD returned = 0;
    DeviceIoControl(control, code, NULL, 0, NULL, 0, &returned, NULL);
    // cppcheck-suppress resourceLeak
}

void ReleaseEverything() {
    SendKeyEvent(0, PackKeyUsage(USAGE_PAGE_KEYBOARD, 0), FALSE);
    MouseEvent buttonsUp = {};
    buttonsUp.kind = MOUSE_KIND_BUTTON;
    buttonsUp.buttonMask = 0x1F;
    buttonsUp.buttonPressed = 0;
    SendMouseEvent(0, &buttonsUp);
}

}  // namespace

void BindVendorCollection() {
    vendorDevice.interfaces.cursor = 0;
    if (!EnumerateHidInterfaces(&vendorDevice.interfaces)) return;
    for (LPCWSTR path; (path = NextHidInterface(&vendorDevice.interfaces)) != NULL;) {
        if (!PathMayBeVirtualDevice(path)) continue;
        if (!OpenHidDevice(&vendorDevice, path, TRUE, TRUE, FALSE)) continue;
        if (IsVirtualDeviceCollection(&vendorDevice, VENDOR_USAGE_REPORTS)) break;
        CloseHidDevice(&vendorDevice);
    }
    FreeHidDeviceList(&vendorDevice.interfaces);
}

HWND ReadControllerWindow(LPCWSTR tail) {
    if (tail == NULL || *tail == 0) return NULL;
    DWORD handle = static_cast<DWORD>(ReadHexNumber(tail, 64));
    return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(handle));
}

void DaemonEarlyStep(LPCWSTR tail) { controllerWindow = ReadControllerWindow(tail); }

void DaemonStartStep(LPCWSTR, HWND window) {
    daemonWindow = window;
    StartWorker(ControllerWatchdog);
}

DWORD WINAPI ControllerWatchdog(LPVOID) {
    PostMessageW(controllerWindow, WM_DAEMON_ANNOUNCE, reinterpret_cast<WPARAM>(daemonWindow), 0);
    while (IsWindow(controllerWindow)) Sleep(POLL_INTERVAL_MS);

    if (InterlockedCompareExchange(&wayOut, WAY_OUT_WATCHDOG, WAY_OUT_OPEN) != WAY_OUT_OPEN) {
        // The daemon's own window went first: the runtime is ending the process.
        for (;;) Sleep(INFINITE);
    }
    for (const auto& request : CLEANUP_REQUESTS) SendCleanupRequest(request.device, request.code);
    ReleaseEverything();
    InterlockedCompareExchange(&wayOut, WAY_OUT_WATCHDOG_DONE, WAY_OUT_WATCHDOG);
    ExitProcess(0);
}

VendorBinding::VendorBinding() { BindVendorCollection(); }

VendorBinding::~VendorBinding() {
    LONG previous = InterlockedCompareExchange(&wayOut, WAY_OUT_RUNTIME, WAY_OUT_OPEN);
    if (previous == WAY_OUT_WATCHDOG) {
        // The watchdog is writing the release reports through vendorDevice
        // and ends the process itself in a moment; closing now would pull
        // the handle from under it.
        for (;;) Sleep(INFINITE);
    }
    if (previous == WAY_OUT_OPEN) CloseHidDevice(&vendorDevice);
}
