#pragma once
// The driver installer's job: probe for the virtual HID device, then
// install or remove the two driver packages with devcon and DIFxCmd, run
// one at a time through the command interpreter from the program's folder.

#include "common/platform.h"

// Vendor collections with usage 1 of the virtual device that are present
// and can be opened: one per virtual device. 0 when enumeration fails.
int CountVirtualDevices();

// 1 when every vendor collection (usage 1 or 2) of the virtual device that
// opens can be opened again for reading with read-only sharing, that is
// when no other program holds one open for writing; 0 otherwise or when
// enumeration fails.
int VendorCollectionsAvailable();

void InstallDriverPackages();
void UninstallDriverPackages();

DWORD WINAPI InstallWorker(LPVOID unused);
DWORD WINAPI UninstallWorker(LPVOID unused);
DWORD WINAPI SmartUninstallWorker(LPVOID unused);

// The worker the command-line tail selects: "/Uninstall" and
// "/SmartUninstall" as whole strings, ASCII letters in any case; anything
// else installs.
LPTHREAD_START_ROUTINE ChooseWorker(LPCWSTR tail);

// The installer's start step in the application shell.
void InstallerStartStep(LPCWSTR tail, HWND window);
