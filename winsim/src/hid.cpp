// Simulated setupapi and hid.dll: the enumeration of HID device interfaces
// and the queries on an opened interface.

#include "world.h"

#include <cstddef>
#include <cstring>

using namespace winsim;

namespace {

const GUID HID_GUID = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const DWORD DETAIL_FIXED_PART = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);

std::string HandleText(const void* handle) { return Hex(reinterpret_cast<uintptr_t>(handle)); }

bool IsOpenDevInfo(HDEVINFO set) {
    HandleRecord* record = FindHandle(set);
    return record != nullptr && record->open && record->kind == HandleKind::DevInfo;
}

HidRecord* OpenHid(HANDLE device) {
    HandleRecord* record = FindHandle(device);
    if (record == nullptr || !record->open || record->kind != HandleKind::Hid) return nullptr;
    return &W().hids[record->hidIndex];
}

BOOL FailWith(DWORD error) {
    Current().lastError = error;
    return FALSE;
}

// The heap block that holds `p`, if the product allocated it on the heap.
bool HeapBlockSize(const void* p, SIZE_T* size) {
    for (const auto& [block, bytes] : W().heapBlocks) {
        const char* start = static_cast<const char*>(block);
        if (p >= start && p < start + bytes) {
            *size = bytes - static_cast<SIZE_T>(static_cast<const char*>(p) - start);
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" {

void WINAPI HidD_GetHidGuid(LPGUID hidGuid) {
    Count("HidD_GetHidGuid");
    *hidGuid = HID_GUID;
    Log("HidD_GetHidGuid");
}

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags) {
    World& w = W();
    std::string head = std::string("SetupDiGetClassDevsW ") +
                       (classGuid && memcmp(classGuid, &HID_GUID, sizeof(GUID)) == 0 ? "hid" : "other") +
                       " enumerator=" + (enumerator ? Text(enumerator) : "null") + " parent=" + (parent ? "set" : "null") +
                       " flags=" + Hex(flags);
    DWORD error;
    if (ShouldFail("SetupDiGetClassDevsW", &error) || w.failDeviceInfoSet) {
        Current().lastError = error;
        Log("%s -> INVALID_HANDLE_VALUE", head.c_str());
        return INVALID_HANDLE_VALUE;
    }
    HandleRecord record;
    record.kind = HandleKind::DevInfo;
    uintptr_t handle = NewHandle(record);
    Log("%s -> %s", head.c_str(), Hex(handle).c_str());
    AfterCall("SetupDiGetClassDevsW");
    return reinterpret_cast<HDEVINFO>(handle);
}

BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfoData, const GUID* interfaceClassGuid,
                                        DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA data) {
    World& w = W();
    std::string head = "SetupDiEnumDeviceInterfaces " + HandleText(set) + " index=" + std::to_string(memberIndex) +
                       (deviceInfoData ? " devinfo" : "");
    auto fail = [&](DWORD error) {
        Log("%s -> FALSE (error %u)", head.c_str(), error);
        AfterCall("SetupDiEnumDeviceInterfaces");
        return FailWith(error);
    };
    if (!IsOpenDevInfo(set)) {
        Error("SetupDiEnumDeviceInterfaces on a set that is not open");
        return fail(ERROR_INVALID_HANDLE);
    }
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) return fail(ERROR_INVALID_USER_BUFFER);
    DWORD error;
    if (ShouldFail("SetupDiEnumDeviceInterfaces", &error)) return fail(error);
    for (const EnumFault& fault : w.enumFaults)
        if (memberIndex == fault.index || (fault.andAllAfter && memberIndex > fault.index)) return fail(fault.error);
    if (interfaceClassGuid == nullptr || memcmp(interfaceClassGuid, &HID_GUID, sizeof(GUID)) != 0 ||
        memberIndex >= w.hids.size())
        return fail(ERROR_NO_MORE_ITEMS);
    data->InterfaceClassGuid = HID_GUID;
    data->Flags = 1;  // SPINT_ACTIVE
    data->Reserved = memberIndex + 1;
    Log("%s -> TRUE", head.c_str());
    AfterCall("SetupDiEnumDeviceInterfaces");
    return TRUE;
}

BOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                             PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                             PDWORD requiredSize, PSP_DEVINFO_DATA deviceInfoData) {
    World& w = W();
    DWORD index = data != nullptr && data->Reserved != 0 ? static_cast<DWORD>(data->Reserved - 1) : UINT32_MAX;
    std::string head = "SetupDiGetDeviceInterfaceDetailW " + HandleText(set) + " index=" + std::to_string(index) +
                       " buffer=" + (detail ? "set" : "null") + " size=" + std::to_string(detailSize) +
                       (deviceInfoData ? " devinfo" : "");
    auto fail = [&](DWORD error, const std::string& note = "") {
        Log("%s -> FALSE (error %u)%s", head.c_str(), error, note.c_str());
        AfterCall("SetupDiGetDeviceInterfaceDetailW");
        return FailWith(error);
    };
    if (!IsOpenDevInfo(set)) {
        Error("SetupDiGetDeviceInterfaceDetailW on a set that is not open");
        return fail(ERROR_INVALID_HANDLE);
    }
    if (index >= w.hids.size()) return fail(ERROR_INVALID_PARAMETER);
    DWORD error;
    if (ShouldFail("SetupDiGetDeviceInterfaceDetailW", &error)) return fail(error);
    const std::u16string& path = w.hids[index].hid.path;
    DWORD needed = DETAIL_FIXED_PART + static_cast<DWORD>((path.size() + 1) * sizeof(WCHAR));
    if (detail == nullptr) {
        if (detailSize != 0) return fail(ERROR_INVALID_USER_BUFFER);
        auto reported = w.detailSizes.find(index);
        DWORD size = reported != w.detailSizes.end() ? reported->second : needed;
        if (requiredSize) *requiredSize = size;
        return fail(ERROR_INSUFFICIENT_BUFFER, " required=" + std::to_string(size));
    }
    SIZE_T available;
    if (HeapBlockSize(detail, &available) && available < detailSize)
        Error("detail buffer of %zu bytes passed as %u bytes", available, detailSize);
    if (detailSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
        return fail(ERROR_INVALID_USER_BUFFER);
    if (w.detailReadFailures.count(index)) return fail(ERROR_GEN_FAILURE);
    if (detailSize < needed) {
        if (requiredSize) *requiredSize = needed;
        return fail(ERROR_INSUFFICIENT_BUFFER, " required=" + std::to_string(needed));
    }
    for (size_t i = 0; i < path.size(); ++i) detail->DevicePath[i] = static_cast<WCHAR>(path[i]);
    detail->DevicePath[path.size()] = 0;
    if (requiredSize) *requiredSize = needed;
    Log("%s -> TRUE %s", head.c_str(), Text(path).c_str());
    AfterCall("SetupDiGetDeviceInterfaceDetailW");
    return TRUE;
}

BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    Count("SetupDiDestroyDeviceInfoList");
    HandleRecord* record = FindHandle(set);
    if (record == nullptr || !record->open || record->kind != HandleKind::DevInfo) {
        Error("SetupDiDestroyDeviceInfoList of %s set %s", record ? "a released" : "an unknown", HandleText(set).c_str());
        Log("SetupDiDestroyDeviceInfoList %s -> FALSE", HandleText(set).c_str());
        return FailWith(ERROR_INVALID_HANDLE);
    }
    record->open = false;
    Log("SetupDiDestroyDeviceInfoList %s -> TRUE", HandleText(set).c_str());
    return TRUE;
}

BOOLEAN WINAPI HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData) {
    World& w = W();
    HidRecord* hid = OpenHid(device);
    std::string head = "HidD_GetPreparsedData " + HandleText(device);
    DWORD error;
    if (hid == nullptr) {
        Error("HidD_GetPreparsedData on a handle that is not an open HID interface");
        Log("%s -> FALSE", head.c_str());
        return FALSE;
    }
    if (ShouldFail("HidD_GetPreparsedData", &error) || hid->hid.preparsedFails) {
        Log("%s -> FALSE", head.c_str());
        AfterCall("HidD_GetPreparsedData");
        return FALSE;
    }
    // The address encodes the interface so that HidP_GetCaps can find it.
    uintptr_t value = w.nextPreparsed;
    w.nextPreparsed += 0x100;
    w.preparsed.insert(value + FindHandle(device)->hidIndex);
    *preparsedData = reinterpret_cast<PHIDP_PREPARSED_DATA>(value + FindHandle(device)->hidIndex);
    Log("%s -> TRUE", head.c_str());
    AfterCall("HidD_GetPreparsedData");
    return TRUE;
}

BOOLEAN WINAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) {
    World& w = W();
    Count("HidD_FreePreparsedData");
    uintptr_t value = reinterpret_cast<uintptr_t>(preparsedData);
    if (w.preparsed.erase(value) == 0) {
        Error("HidD_FreePreparsedData of %s preparsed data", w.freedPreparsed.count(value) ? "freed" : "unknown");
        Log("HidD_FreePreparsedData -> FALSE");
        return FALSE;
    }
    w.freedPreparsed.insert(value);
    Log("HidD_FreePreparsedData -> TRUE");
    return TRUE;
}

BOOLEAN WINAPI HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
    HidRecord* hid = OpenHid(device);
    std::string head = "HidD_GetAttributes " + HandleText(device);
    DWORD error;
    if (hid == nullptr) {
        Error("HidD_GetAttributes on a handle that is not an open HID interface");
        Log("%s -> FALSE", head.c_str());
        return FALSE;
    }
    if (ShouldFail("HidD_GetAttributes", &error) || hid->hid.attributesFail) {
        Log("%s -> FALSE", head.c_str());
        AfterCall("HidD_GetAttributes");
        return FALSE;
    }
    attributes->Size = sizeof(HIDD_ATTRIBUTES);
    attributes->VendorID = hid->hid.vendorId;
    attributes->ProductID = hid->hid.productId;
    attributes->VersionNumber = 0x0100;
    char ids[64];
    snprintf(ids, sizeof ids, " vid=0x%04x pid=0x%04x", hid->hid.vendorId, hid->hid.productId);
    Log("%s -> TRUE%s", head.c_str(), ids);
    AfterCall("HidD_GetAttributes");
    return TRUE;
}

NTSTATUS WINAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS capabilities) {
    World& w = W();
    uintptr_t value = reinterpret_cast<uintptr_t>(preparsedData);
    DWORD error;
    if (w.preparsed.count(value) == 0) {
        Error("HidP_GetCaps with preparsed data that is not held");
        Log("HidP_GetCaps -> HIDP_STATUS_INVALID_PREPARSED_DATA");
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    }
    const HidInterface& hid = w.hids[value & 0xFF].hid;
    if (ShouldFail("HidP_GetCaps", &error) || hid.capsFail) {
        Log("HidP_GetCaps -> HIDP_STATUS_INVALID_PREPARSED_DATA");
        AfterCall("HidP_GetCaps");
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    }
    memset(capabilities, 0, sizeof *capabilities);
    capabilities->UsagePage = hid.usagePage;
    capabilities->Usage = hid.usage;
    capabilities->OutputReportByteLength = hid.usagePage == 0xFF00 ? 30 : 0;
    char text[64];
    snprintf(text, sizeof text, " page=0x%04x usage=0x%04x", hid.usagePage, hid.usage);
    Log("HidP_GetCaps -> HIDP_STATUS_SUCCESS%s", text);
    AfterCall("HidP_GetCaps");
    return HIDP_STATUS_SUCCESS;
}

}  // extern "C"

namespace winsim {

size_t AddHidInterface(const HidInterface& hid) {
    W().hids.push_back(HidRecord{hid, {}});
    return W().hids.size() - 1;
}

void HoldHidInterface(size_t index, DWORD access, DWORD shareMode) {
    W().hids.at(index).foreignHandles.push_back({access, shareMode});
}

void FailDeviceInfoSet() { W().failDeviceInfoSet = true; }
void FailInterfaceData(DWORD index, DWORD error, bool andAllAfter) { W().enumFaults.push_back({index, error, andAllAfter}); }
void ReportDetailSize(DWORD index, DWORD bytes) { W().detailSizes[index] = bytes; }
void FailDetailRead(DWORD index) { W().detailReadFailures.insert(index); }
void AddControlDevice(const std::u16string& name) { W().controlDevices.push_back(name); }
void SetCommandLine(const std::u16string& commandLine) {
    W().commandLine = commandLine;
    W().commandLineBuffer.clear();
}
void SetModulePath(const std::u16string& path, bool terminateWhenCut) {
    W().modulePath = path;
    W().terminateWhenCut = terminateWhenCut;
}
void SetChildRunTime(DWORD milliseconds) { W().childRunTime = milliseconds; }

}  // namespace winsim
