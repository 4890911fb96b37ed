#pragma once
// HID device interfaces: the list of interface paths one enumeration found,
// and a record that opens one interface and holds what the HID class
// driver reports about it.

#include "common/platform.h"

// The interface paths of one enumeration, in the platform's order. A slot
// is empty (null) when that member's interface data could not be read; every
// walk ends at the first empty slot, as at the end of the list.
struct HidDeviceList {
    LPWSTR* paths;  // null while the list holds nothing
    DWORD count;    // slots filled by the last successful enumeration
    DWORD cursor;   // next slot NextHidInterface hands out
};

struct HidDevice {
    HANDLE handle;                       // null when closed, never INVALID_HANDLE_VALUE
    WCHAR path[MAX_PATH];                // path of the interface last opened
    PHIDP_PREPARSED_DATA preparsedData;  // held only while handle is open
    HIDD_ATTRIBUTES attributes;          // valid right after a successful open
    HIDP_CAPS caps;                      // valid right after a successful open
    BOOL readAccess;
    BOOL writeAccess;
    BOOL exclusive;  // share for reading only: no other handle may write
    HidDeviceList interfaces;

    HidDevice();
    ~HidDevice();
    HidDevice(const HidDevice&) = delete;
    HidDevice& operator=(const HidDevice&) = delete;
};

// Fills an empty list with the paths of all present HID interfaces. On
// failure the list is left empty and nothing is left to free. Does not
// touch the cursor.
BOOL EnumerateHidInterfaces(HidDeviceList* list);

// The path at the cursor, or null past the end or at an empty slot. The
// path stays owned by the list.
LPCWSTR NextHidInterface(HidDeviceList* list);

// Frees every path and the array; the list is empty afterwards. Safe on an
// empty list.
void FreeHidDeviceList(HidDeviceList* list);

// Closes whatever the record holds, then opens `path` (cut to MAX_PATH - 1
// units) with the given options and queries its preparsed data, attributes
// and capabilities. On failure the record is closed.
BOOL OpenHidDevice(HidDevice* device, LPCWSTR path, BOOL readAccess, BOOL writeAccess, BOOL exclusive);

// Releases the preparsed data and the handle. Safe on a closed record.
void CloseHidDevice(HidDevice* device);
