#pragma once
// Simulated light-weight string utilities (shlwapi.dll).
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

PWSTR WINAPI StrStrIW(PCWSTR string, PCWSTR search);

#ifdef __cplusplus
}
#endif
