// Lists the paths of all present HID device interfaces, one per line, without
// opening any of them. The tests use it to learn which interfaces Wine offers
// of its own, so that they can check that the programs leave them alone.
#include <windows.h>

#include <setupapi.h>

#include <cstdio>

namespace {

// GUID_DEVINTERFACE_HID, spelled out to avoid linking hid.lib for one value.
const GUID HID_INTERFACE_CLASS = {0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

}  // namespace

int wmain()
{
    HDEVINFO devices = SetupDiGetClassDevsW(&HID_INTERFACE_CLASS, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (devices == INVALID_HANDLE_VALUE)
        return 1;
    SP_DEVICE_INTERFACE_DATA interfaceData = {};
    interfaceData.cbSize = sizeof interfaceData;
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(devices, nullptr, &HID_INTERFACE_CLASS, index, &interfaceData);
         ++index) {
        union {
            SP_DEVICE_INTERFACE_DETAIL_DATA_W detail;
            char bytes[4096];
        } buffer;
        buffer.detail.cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(devices, &interfaceData, &buffer.detail, sizeof buffer, nullptr,
                                              nullptr))
            continue;
        char utf8[2048];
        if (WideCharToMultiByte(CP_UTF8, 0, buffer.detail.DevicePath, -1, utf8, sizeof utf8, nullptr, nullptr) > 0)
            printf("%s\n", utf8);
    }
    SetupDiDestroyDeviceInfoList(devices);
    return 0;
}
