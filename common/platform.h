#pragma once
// The Windows headers every product source needs, in one place. The HID
// headers of mingw-w64 declare their functions without C linkage, so they
// are wrapped here once.

#include <windows.h>
#include <setupapi.h>
#include <shellapi.h>
#include <shlwapi.h>

extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}
