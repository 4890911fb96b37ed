#include "common/virtual_device.h"

#include "common/text.h"

namespace {

// The low 16 bits of the number after the first `marker` in `path`, or
// false when the marker is missing.
BOOL ReadIdAfter(LPCWSTR path, LPCWSTR marker, USHORT* id) {
    LPCWSTR found = StrStrIW(path, marker);
    if (found == NULL) return FALSE;
    *id = static_cast<USHORT>(ReadHexNumber(found + lstrlenW(marker), 32) & 0xFFFF);
    return TRUE;
}

}  // namespace

BOOL PathMayBeVirtualDevice(LPCWSTR path) {
    USHORT vendor = 0;
    USHORT product = 0;
    return ReadIdAfter(path, L"vid_", &vendor) && vendor == VIRTUAL_VENDOR_ID && ReadIdAfter(path, L"pid_", &product) &&
           product == VIRTUAL_PRODUCT_ID;
}

BOOL IsVirtualDeviceCollection(const HidDevice* device, USHORT usage) {
    return device->attributes.VendorID == VIRTUAL_VENDOR_ID && device->attributes.ProductID == VIRTUAL_PRODUCT_ID &&
           device->caps.UsagePage == VENDOR_USAGE_PAGE && device->caps.Usage == usage;
}
