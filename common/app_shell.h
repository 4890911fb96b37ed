#pragma once
// The frame both programs share: a Unicode GUI entry that never shows a
// window. It creates a hidden main window that other processes can post
// to, lets the program start its worker thread, and pumps messages until
// the window is destroyed. The worker does the job and ends the process.

#include "common/platform.h"

// What a program adds to the frame. The early step runs after the strings
// are loaded and before the window class is registered; the start step
// runs once the hidden window exists. Either may be null.
struct ShellSteps {
    void (*earlyStep)(LPCWSTR tail);
    void (*startStep)(LPCWSTR tail, HWND window);
};

// The command line without the program's name and the blanks after it.
// The name ends at the first unit at or below U+0020 outside double quotes
// (each quote toggles); blanks are U+0001 to U+0020. Trailing blanks stay.
LPCWSTR CommandLineTail(LPCWSTR commandLine);

// The entry sequence; returns the exit value (0 when no window could be
// created, else the wParam of WM_QUIT).
int RunApplicationShell(HINSTANCE instance, HINSTANCE previous, LPCWSTR tail, int show, const ShellSteps* steps);

ATOM RegisterMainWindowClass(HINSTANCE instance);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Starts the program's single worker thread. A worker that cannot be
// started runs on the calling thread instead: every worker ends the
// process itself, and a hidden program whose job never starts would
// otherwise stay invisible in its message loop for ever.
void StartWorker(LPTHREAD_START_ROUTINE worker);
