#pragma once
// Identity of the virtual HID device that the driver package creates, and
// the two tests by which both programs recognise its collections.

#include "common/hid_device.h"

const USHORT VIRTUAL_VENDOR_ID = 0x1BCF;
const USHORT VIRTUAL_PRODUCT_ID = 0x05E3;
const USHORT VENDOR_USAGE_PAGE = 0xFF00;
const USHORT VENDOR_USAGE_REPORTS = 1;  // vendor collection 1, the report channel
const USHORT VENDOR_USAGE_SECOND = 2;   // vendor collection 2

// Hardware IDs, as the driver tools name them.
#define VIRTUAL_DEVICE_ROOT_ID L"{8FBC4165-480D-4230-B1DF-7B86F3E5A3CC}\\HID_DEVICE"
#define VIRTUAL_DEVICE_CHILD_ID L"HID\\Vid_1bcf&Pid_05e3&Col04"

// Path filter, applied before anything is opened: the numbers after the
// first "vid_" and "pid_" (any case) must name the virtual device in their
// low 16 bits. Interfaces of other devices are never opened.
BOOL PathMayBeVirtualDevice(LPCWSTR path);

// Identity test on a just-opened device: vendor, product, the vendor usage
// page and the wanted usage.
BOOL IsVirtualDeviceCollection(const HidDevice* device, USHORT usage);
