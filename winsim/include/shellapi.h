#pragma once
// Simulated shell (shell32.dll): starting programs.
#include <windows.h>

#define SEE_MASK_NOCLOSEPROCESS 0x00000040u

typedef struct _SHELLEXECUTEINFOW {
    DWORD cbSize;
    ULONG fMask;
    HWND hwnd;
    LPCWSTR lpVerb;
    LPCWSTR lpFile;
    LPCWSTR lpParameters;
    LPCWSTR lpDirectory;
    int nShow;
    HINSTANCE hInstApp;
    void* lpIDList;
    LPCWSTR lpClass;
    HKEY hkeyClass;
    DWORD dwHotKey;
    union {
        HANDLE hIcon;
        HANDLE hMonitor;
    };
    HANDLE hProcess;
} SHELLEXECUTEINFOW, *LPSHELLEXECUTEINFOW;

#ifdef __cplusplus
extern "C" {
#endif

BOOL WINAPI ShellExecuteExW(SHELLEXECUTEINFOW* executeInfo);

#ifdef __cplusplus
}
#endif
