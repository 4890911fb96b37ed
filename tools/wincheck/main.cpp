// Touches every operation of the common library so the linker must resolve
// each platform function it calls against the real import libraries.

#include "common/hid_device.h"
#include "common/text.h"
#include "common/virtual_device.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    HidDevice device;
    int found = 0;
    if (EnumerateHidInterfaces(&device.interfaces)) {
        for (LPCWSTR path; (path = NextHidInterface(&device.interfaces)) != NULL;) {
            if (PathMayBeVirtualDevice(path) && OpenHidDevice(&device, path, FALSE, FALSE, FALSE) &&
                IsVirtualDeviceCollection(&device, VENDOR_USAGE_REPORTS))
                ++found;
            CloseHidDevice(&device);
        }
        FreeHidDeviceList(&device.interfaces);
    }
    return found + static_cast<int>(ReadHexNumber(L"0", 32)) + (EqualsIgnoringAsciiCase(L"a", L"A") ? 0 : 1);
}
