#include "common/hid_device.h"

#include <stddef.h>

#if defined(_WIN32) && !defined(_WIN64)
// The sizes the 32-bit setup API checks cbSize against.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "32-bit SP_DEVICE_INTERFACE_DATA");
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 6, "32-bit fixed part of SP_DEVICE_INTERFACE_DETAIL_DATA_W");
#endif

namespace {

// The first array has 8 slots; each growth doubles it.
const DWORD INITIAL_CAPACITY = 4;

// A set whose interface data keeps failing for a reason other than its end
// is broken; without a bound such a set would grow the array until memory
// runs out. This many failing members in a row fail the enumeration.
const DWORD MAX_FAILED_MEMBER_RUN = 32;

// No device path is longer than the longest NT path; a detail size beyond
// that is not believed.
const DWORD MAX_DETAIL_BYTES = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + 32768 * sizeof(WCHAR);

void* Allocate(SIZE_T bytes, DWORD flags) { return HeapAlloc(GetProcessHeap(), flags, bytes); }
void Release(void* block) {
    if (block != NULL) HeapFree(GetProcessHeap(), 0, block);
}

// Frees the first `count` slots and the array itself.
void FreePaths(LPWSTR* paths, DWORD count) {
    if (paths == NULL) return;
    for (DWORD i = 0; i < count; ++i) Release(paths[i]);
    Release(paths);
}

// Doubles the array; the new slots are empty. False when it cannot grow.
BOOL GrowPaths(LPWSTR** paths, DWORD* capacity) {
    if (*capacity > 0x7FFFFFFF / sizeof(LPWSTR) / 2) return FALSE;
    DWORD grown = *capacity * 2;
    LPWSTR* larger = static_cast<LPWSTR*>(Allocate(grown * sizeof(LPWSTR), HEAP_ZERO_MEMORY));
    if (larger == NULL) return FALSE;
    if (*paths != NULL) {
        for (DWORD i = 0; i < *capacity; ++i) larger[i] = (*paths)[i];
        Release(*paths);
    }
    *paths = larger;
    *capacity = grown;
    return TRUE;
}

// Reads the device path of one interface into a new heap string, or null.
LPWSTR ReadInterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data) {
    DWORD required = 0;
    // This call always "fails" with ERROR_INSUFFICIENT_BUFFER; only the size counts.
    SetupDiGetDeviceInterfaceDetailW(set, data, NULL, 0, &required, NULL);
    // The interface may have gone between the calls and the size with it. A
    // buffer below the fixed part could not even take cbSize.
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || required > MAX_DETAIL_BYTES) return NULL;

    auto* detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(Allocate(required, 0));
    if (detail == NULL) return NULL;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    LPWSTR path = NULL;
    if (SetupDiGetDeviceInterfaceDetailW(set, data, detail, required, NULL, NULL)) {
        // Trust the terminator only within the buffer.
        DWORD units = static_cast<DWORD>((required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) / sizeof(WCHAR));
        DWORD length = 0;
        while (length < units && detail->DevicePath[length] != 0) ++length;
        if (length < units) {
            path = static_cast<LPWSTR>(Allocate((length + 1) * sizeof(WCHAR), 0));
            if (path != NULL)
                for (DWORD i = 0; i <= length; ++i) path[i] = detail->DevicePath[i];
        }
    }
    Release(detail);
    return path;
}

}  // namespace

HidDevice::HidDevice()
    : handle(NULL), path(), preparsedData(NULL), attributes(), caps(), readAccess(FALSE), writeAccess(FALSE),
      exclusive(FALSE), interfaces() {}

HidDevice::~HidDevice() {
    CloseHidDevice(this);
    FreeHidDeviceList(&interfaces);
}

BOOL EnumerateHidInterfaces(HidDeviceList* list) {
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    list->paths = NULL;
    list->count = 0;

    HDEVINFO set = SetupDiGetClassDevsW(&hidGuid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return FALSE;

    LPWSTR* paths = NULL;
    DWORD capacity = INITIAL_CAPACITY;
    DWORD failedRun = 0;
    BOOL complete = FALSE;
    for (DWORD index = 0;; ++index) {
        if ((paths == NULL || index == capacity) && !GrowPaths(&paths, &capacity)) break;
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set, NULL, &hidGuid, index, &data)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS) {
                list->paths = paths;
                list->count = index;
                complete = TRUE;
                break;
            }
            if (++failedRun == MAX_FAILED_MEMBER_RUN) break;
            continue;  // the slot stays empty; the index still counts
        }
        failedRun = 0;
        paths[index] = ReadInterfacePath(set, &data);
        if (paths[index] == NULL) break;
    }
    if (!complete) FreePaths(paths, capacity);
    SetupDiDestroyDeviceInfoList(set);
    return complete;
}

LPCWSTR NextHidInterface(HidDeviceList* list) {
    if (list->paths == NULL || list->cursor >= list->count) return NULL;
    return list->paths[list->cursor++];
}

void FreeHidDeviceList(HidDeviceList* list) {
    if (list->paths == NULL) return;
    FreePaths(list->paths, list->count);
    list->paths = NULL;
    list->count = 0;
}

BOOL OpenHidDevice(HidDevice* device, LPCWSTR path, BOOL readAccess, BOOL writeAccess, BOOL exclusive) {
    device->readAccess = readAccess;
    device->writeAccess = writeAccess;
    device->exclusive = exclusive;
    lstrcpynW(device->path, path, MAX_PATH);
    CloseHidDevice(device);

    DWORD access = (readAccess ? GENERIC_READ : 0) | (writeAccess ? GENERIC_WRITE : 0);
    DWORD share = exclusive ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE handle = CreateFileW(device->path, access, share, NULL, OPEN_EXISTING, 0, NULL);
    if (handle == INVALID_HANDLE_VALUE) return FALSE;

    PHIDP_PREPARSED_DATA preparsed = NULL;
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    HIDP_CAPS caps = {};
    BOOL gotPreparsed = HidD_GetPreparsedData(handle, &preparsed) != FALSE;
    BOOL opened = gotPreparsed && HidD_GetAttributes(handle, &attributes) != FALSE &&
                  HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    if (opened) {
        device->handle = handle;
        device->preparsedData = preparsed;
        device->attributes = attributes;
        device->caps = caps;
        return TRUE;
    }
    if (gotPreparsed) HidD_FreePreparsedData(preparsed);
    CloseHandle(handle);
    return FALSE;
}

void CloseHidDevice(HidDevice* device) {
    if (device->preparsedData != NULL) {
        HidD_FreePreparsedData(device->preparsedData);
        device->preparsedData = NULL;
    }
    if (device->handle != NULL) {
        CloseHandle(device->handle);
        device->handle = NULL;
    }
}
