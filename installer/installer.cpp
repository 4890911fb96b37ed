#include "installer/installer.h"

#include "common/app_shell.h"
#include "common/text.h"
#include "common/virtual_device.h"

namespace {

const WCHAR* const INSTALL_COMMANDS[] = {
    L"/c devcon.exe install ZelphHid_0.inf \"" VIRTUAL_DEVICE_ROOT_ID L"\"",
    L"/c DIFxCmd.exe /i ZelphMouFiltr_0.inf",
};

const WCHAR* const UNINSTALL_COMMANDS[] = {
    L"/c DIFxCmd.exe /u ZelphMouFiltr_0.inf 2.DRIVER_PACKAGE_SILENT 4.DRIVER_PACKAGE_FORCE 32.DRIVER_PACKAGE_DELETE_FILES",
    L"/c devcon.exe remove \"" VIRTUAL_DEVICE_CHILD_ID L"\"",
    L"/c DIFxCmd.exe /u ZelphHid_0.inf 2.DRIVER_PACKAGE_SILENT 4.DRIVER_PACKAGE_FORCE 32.DRIVER_PACKAGE_DELETE_FILES",
    L"/c devcon.exe remove \"" VIRTUAL_DEVICE_ROOT_ID L"\"",
};

const struct {
    const WCHAR* tail;
    LPTHREAD_START_ROUTINE worker;
} MODES[] = {
    {L"/Uninstall", UninstallWorker},
    {L"/SmartUninstall", SmartUninstallWorker},
};

// The folder of the running program with its trailing backslash: its drive
// and directory parts. False when the path did not fit the buffer (then it
// is cut, and on older systems not even terminated) or names no folder:
// the tools must never be started in a wrong folder.
BOOL ReadProgramFolder(WCHAR (&folder)[MAX_PATH]) {
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return FALSE;
    path[length] = 0;

    WCHAR drive[MAX_PATH] = {};
    WCHAR directory[MAX_PATH] = {};
    DWORD start = 0;
    if (length >= 2 && path[1] == L':') {
        drive[0] = path[0];
        drive[1] = L':';
        start = 2;
    }
    DWORD end = 0;  // one past the last separator
    for (DWORD i = start; i < length; ++i)
        if (path[i] == L'\\' || path[i] == L'/') end = i + 1;
    if (end == 0) return FALSE;
    for (DWORD i = start; i < end; ++i) directory[i - start] = path[i];

    lstrcpynW(folder, drive, MAX_PATH);
    lstrcpynW(folder + lstrlenW(folder), directory, MAX_PATH - lstrlenW(folder));
    return TRUE;
}

// Starts "cmd" with each command line in turn from the program's folder and
// waits for each to end before the next starts. A launch or a tool that
// fails does not stop the sequence.
template <size_t N>
void RunCommandSequence(const WCHAR* const (&commands)[N]) {
    SHELLEXECUTEINFOW launch = {};
    WCHAR folder[MAX_PATH];
    if (!ReadProgramFolder(folder)) return;
    WCHAR parameters[MAX_PATH];

    launch.cbSize = sizeof launch;
    launch.fMask = SEE_MASK_NOCLOSEPROCESS;
    launch.hwnd = NULL;
    launch.lpVerb = L"open";
    launch.lpFile = L"cmd";
    launch.lpParameters = parameters;
    launch.lpDirectory = folder;
    launch.nShow = SW_HIDE;
    launch.hInstApp = NULL;

    for (const WCHAR* command : commands) {
        lstrcpynW(parameters, command, MAX_PATH);
        ShellExecuteExW(&launch);
        // The handles end with the process, which the worker ends right after.
        WaitForSingleObject(launch.hProcess, INFINITE);
    }
}

// Walks every present HID interface that may belong to the virtual device
// and calls `visit` on each one that opens for queries; `visit` returns
// false to stop the walk. False when the enumeration fails.
template <typename Visit>
BOOL ForEachVirtualCandidate(HidDevice* device, Visit visit) {
    device->interfaces.cursor = 0;
    if (!EnumerateHidInterfaces(&device->interfaces)) return FALSE;
    for (LPCWSTR path; (path = NextHidInterface(&device->interfaces)) != NULL;) {
        if (!PathMayBeVirtualDevice(path)) continue;
        if (!OpenHidDevice(device, path, FALSE, FALSE, FALSE)) continue;
        bool goOn = visit(path);
        CloseHidDevice(device);
        if (!goOn) break;
    }
    FreeHidDeviceList(&device->interfaces);
    return TRUE;
}

}  // namespace

int CountVirtualDevices() {
    HidDevice device;
    int count = 0;
    ForEachVirtualCandidate(&device, [&](LPCWSTR) {
        if (IsVirtualDeviceCollection(&device, VENDOR_USAGE_REPORTS)) ++count;
        return true;
    });
    return count;
}

int VendorCollectionsAvailable() {
    HidDevice device;
    int available = 1;
    BOOL enumerated = ForEachVirtualCandidate(&device, [&](LPCWSTR path) {
        if (!IsVirtualDeviceCollection(&device, VENDOR_USAGE_REPORTS) &&
            !IsVirtualDeviceCollection(&device, VENDOR_USAGE_SECOND))
            return true;
        // A read-only share fails while any other handle has write access.
        // `path` belongs to the list, not to the record being reopened.
        if (!OpenHidDevice(&device, path, TRUE, FALSE, TRUE)) {
            available = 0;
            return false;
        }
        return true;
    });
    return enumerated ? available : 0;
}

void InstallDriverPackages() { RunCommandSequence(INSTALL_COMMANDS); }

void UninstallDriverPackages() { RunCommandSequence(UNINSTALL_COMMANDS); }

DWORD WINAPI InstallWorker(LPVOID) {
    if (CountVirtualDevices() <= 0) InstallDriverPackages();
    ExitProcess(0);
}

DWORD WINAPI UninstallWorker(LPVOID) {
    if (CountVirtualDevices() > 0) UninstallDriverPackages();
    ExitProcess(0);
}

DWORD WINAPI SmartUninstallWorker(LPVOID) {
    if (CountVirtualDevices() > 0 && VendorCollectionsAvailable()) UninstallDriverPackages();
    ExitProcess(0);
}

LPTHREAD_START_ROUTINE ChooseWorker(LPCWSTR tail) {
    for (const auto& mode : MODES)
        if (EqualsIgnoringAsciiCase(tail, mode.tail)) return mode.worker;
    return InstallWorker;
}

void InstallerStartStep(LPCWSTR tail, HWND) { StartWorker(ChooseWorker(tail)); }
