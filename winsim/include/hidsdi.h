#pragma once
// Simulated HID class interface (hid.dll), the HidD_ functions.
#include <windows.h>
#include <hidpi.h>

typedef struct _HIDD_ATTRIBUTES {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
} HIDD_ATTRIBUTES, *PHIDD_ATTRIBUTES;

#ifdef __cplusplus
extern "C" {
#endif

void WINAPI HidD_GetHidGuid(LPGUID hidGuid);
BOOLEAN WINAPI HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData);
BOOLEAN WINAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData);
BOOLEAN WINAPI HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes);

#ifdef __cplusplus
}
#endif
