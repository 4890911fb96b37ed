#pragma once
// Control surface of the simulated Windows platform, for tests and for the
// scenario files that drive whole host programs. A test sets up a world
// (devices, windows, faults, timed events), runs product code against it,
// then reads the journal of platform calls and the bookkeeping.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

// ---- The world ------------------------------------------------------------
// Fresh world: no devices, no windows, clock 0, empty journal, no faults.
void Reset();

// ---- Journal ----------------------------------------------------------------
// One line per platform call in call order, "Name args -> result".
const std::vector<std::string>& Journal();
// The journal lines whose function name is one of `names` (space separated).
std::vector<std::string> JournalOf(const std::string& names);
// The same filter over any journal, such as one a whole program wrote.
std::vector<std::string> LinesOf(const std::vector<std::string>& journal, const std::string& names);
void ClearJournal();
// Stream every journal line to this file as it is recorded (whole programs).
void SetJournalFile(const std::string& path);

// ---- Bookkeeping --------------------------------------------------------------
// Faults found in the product's use of the platform: a close or free of
// something unknown or already released, a write through a closed handle...
const std::vector<std::string>& Errors();
// What is still held: heap blocks, open handles by kind, preparsed data,
// device information sets. "heap=0 file=0 ..." in a fixed order.
std::string Outstanding();
size_t LiveHeapBlocks();
size_t OpenHandleCount(const char* kind);  // "hid", "control", "devinfo", "process", "thread"
size_t LivePreparsedData();

// ---- Faults -----------------------------------------------------------------
// The nth call (1-based) of the named function fails the way that function
// fails on Windows, with `error` as last error where it has one.
void FailCall(const std::string& function, unsigned nth, DWORD error = ERROR_GEN_FAILURE);
// The nth failable call of any function fails (for sweeps), counted from Reset.
void FailNthCall(unsigned nth);
// How many failable calls the run has made so far.
unsigned FailableCallCount();
// After the nth call of `function` the calling thread is held back for
// `milliseconds` of virtual time (0: it only lets the others run first), as
// if the system had not scheduled it: the way to force a race.
void StallAfter(const std::string& function, unsigned nth, DWORD milliseconds);

// ---- HID interfaces and their enumeration -------------------------------------
struct HidInterface {
    std::u16string path;
    USHORT vendorId = 0;
    USHORT productId = 0;
    USHORT usagePage = 0;
    USHORT usage = 0;
    bool openFails = false;           // CreateFileW fails with ERROR_ACCESS_DENIED
    bool preparsedFails = false;      // HidD_GetPreparsedData fails
    bool attributesFail = false;      // HidD_GetAttributes fails
    bool capsFail = false;            // HidP_GetCaps returns an error status
};
// Adds an interface at the end of the enumeration order; returns its index.
size_t AddHidInterface(const HidInterface& hid);
// A handle that another program holds on the interface.
void HoldHidInterface(size_t index, DWORD access, DWORD shareMode);
// SetupDiGetClassDevsW returns INVALID_HANDLE_VALUE.
void FailDeviceInfoSet();
// SetupDiEnumDeviceInterfaces fails for this member index (and, with
// `andAllAfter`, for every index after it) with `error`.
void FailInterfaceData(DWORD index, DWORD error, bool andAllAfter = false);
// The detail size query for this member index reports `bytes`.
void ReportDetailSize(DWORD index, DWORD bytes);
// The detail read for this member index fails.
void FailDetailRead(DWORD index);

// ---- Files beside the program -------------------------------------------------
// Control devices that CreateFileW can open by name (for example "\\.\hidfiltr_XT2B4F").
void AddControlDevice(const std::u16string& name);

// ---- Process, clock and threads -------------------------------------------------
void SetCommandLine(const std::u16string& commandLine);
void SetModulePath(const std::u16string& path, bool terminateWhenCut = true);
// How long each process that ShellExecuteExW starts runs, in virtual ms.
void SetChildRunTime(DWORD milliseconds);
uint64_t Now();  // virtual milliseconds since Reset

// ---- Windows, messages and resources ---------------------------------------------
void AddString(UINT id, const std::u16string& text);
void SetAcceleratorTable(bool present);
void FailWindowCreation();
// The command the About box receives when it is shown (IDOK or IDCANCEL).
void SetDialogAnswer(int command);
// A window of another process; it exists until `lifetimeMs` of virtual time
// has passed or IsWindow has seen it `lifetimeTests` times, whichever is set.
void AddForeignWindow(HWND window, uint64_t lifetimeMs, unsigned lifetimeTests = 0);
// At virtual time `at`, another process posts this message to the program's
// main window (the first top-level window it created).
void PostToMainWindowAt(uint64_t at, UINT message, WPARAM wParam, LPARAM lParam);
// The main window's handle, or null before one exists.
HWND MainWindow();

// ---- Screen metrics ----------------------------------------------------------------
void SetVirtualScreen(int left, int top, int width, int height);

// ---- Whole programs ------------------------------------------------------------------
// Reads a scenario file (see scenario.cpp for its lines) into the world.
// Returns false and prints the offending line when the file is malformed.
bool LoadScenario(const std::string& path);

// ---- Text helpers for tests ------------------------------------------------------------
std::u16string Utf16(const std::string& utf8);
std::string Utf8(const std::u16string& text);
std::string Utf8(const WCHAR* text);

}  // namespace winsim
