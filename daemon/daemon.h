#pragma once
// The cleanup daemon's life: it binds the virtual device's report channel
// before its entry runs, announces its hidden window to the controller
// application that started it, polls the controller's window once a
// second, and when that window is gone tells both filter drivers to clean
// up, releases every key and mouse button, and ends the process.

#include "common/hid_device.h"

// Posted once to the controller, wParam = the daemon's hidden window.
const UINT WM_DAEMON_ANNOUNCE = 0x4854;
const DWORD POLL_INTERVAL_MS = 1000;

// Windows I/O control codes: device type 0x22 (FILE_DEVICE_UNKNOWN) << 16,
// any access, function << 2, METHOD_BUFFERED.
constexpr DWORD DeviceControlCode(DWORD deviceType, DWORD function) { return (deviceType << 16) | (function << 2); }
const DWORD IOCTL_HIDFILTR_CLEANUP = DeviceControlCode(0x22, 0x846);
const DWORD IOCTL_MOUFILTR_CLEANUP = DeviceControlCode(0x22, 0x845);
static_assert(IOCTL_HIDFILTR_CLEANUP == 0x222118 && IOCTL_MOUFILTR_CLEANUP == 0x222114, "filter control codes");

extern HWND controllerWindow;
extern HWND daemonWindow;

// Opens vendorDevice on the first collection in enumeration order that
// passes the path filter, opens for reading and writing (shared) and is
// the virtual device's vendor collection 1; leaves it closed when there is
// none. The interface list is freed either way.
void BindVendorCollection();

// The controller's window handle from the command-line tail: a hexadecimal
// number read as the C runtime's 64-bit reader does, its low 32 bits kept.
HWND ReadControllerWindow(LPCWSTR tail);

void DaemonEarlyStep(LPCWSTR tail);
void DaemonStartStep(LPCWSTR tail, HWND window);
DWORD WINAPI ControllerWatchdog(LPVOID unused);

// Exists for its constructor, which binds the vendor collection before the
// entry runs, and its destructor, which closes it at the runtime's exit.
struct VendorBinding {
    VendorBinding();
    ~VendorBinding();
    VendorBinding(const VendorBinding&) = delete;
    VendorBinding& operator=(const VendorBinding&) = delete;
};
