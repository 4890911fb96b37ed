#pragma once
// The controller side of the cleanup daemon (Wirrelkin).
//
// A controller application that drives the virtual keyboard-and-mouse device
// starts Wirrelkin once, right after creating its main window, and passes that
// window's handle on the command line. The daemon answers by posting
// WM_DAEMON_ANNOUNCE to the window, with its own hidden window in wParam.
// From then on it tests the window once a second; when the window is gone
// (the controller closed normally, crashed or was killed) it tells both filter
// drivers to clean up, releases every key and mouse button still held through
// the device, and exits with code 0.
//
// The controller never needs to stop the daemon: destroying its own main
// window is enough. To stop the daemon while the controller keeps running,
// post WM_CLOSE (or WM_COMMAND with DAEMON_COMMAND_EXIT) to the announced
// window; the daemon then exits at once, without the cleanup.
//
// Copy this file and daemon_link.cpp into the controller; they need only
// kernel32 and user32.
#include <windows.h>

const UINT WM_DAEMON_ANNOUNCE = 0x4854;
const WORD DAEMON_COMMAND_ABOUT = 104;
const WORD DAEMON_COMMAND_EXIT = 105;
const wchar_t DAEMON_WINDOW_CLASS[] = L"WIRRELKIN";
const wchar_t DAEMON_FILE_NAME[] = L"Wirrelkin.exe";

const int DAEMON_COMMAND_LINE_SIZE = MAX_PATH + 40;

struct DaemonLink {
    PROCESS_INFORMATION process;                      // hProcess and dwProcessId once started
    HWND window;                                      // the daemon's hidden window, once announced
    wchar_t commandLine[DAEMON_COMMAND_LINE_SIZE];    // as given to the daemon, for logs
};

// Starts the daemon at daemonPath (null: Wirrelkin.exe beside the running
// program) for controllerWindow. The window must be a top-level window that
// lives as long as the controller wants the daemon to watch it.
bool StartCleanupDaemon(DaemonLink& link, HWND controllerWindow, const wchar_t* daemonPath);

// Call from the controller window's procedure for WM_DAEMON_ANNOUNCE. Accepts
// the announced window only when it is a hidden window of class "WIRRELKIN"
// that belongs to the daemon this link started, and then keeps it in
// link.window. Any other process can post this message number, so the check
// matters before the handle is used.
bool AcceptDaemonAnnouncement(DaemonLink& link, WPARAM announcedWindow);

// Runs the calling thread's messages until the announcement has been
// accepted, the daemon has exited, or timeoutMs has passed. Returns whether
// the announcement arrived. A controller with its own message loop does not
// need this: it sees the announcement in its window procedure.
bool WaitForDaemonAnnouncement(DaemonLink& link, DWORD timeoutMs);

// Asks the daemon to exit now, without its cleanup. The controller window
// stays as it is.
bool StopCleanupDaemon(const DaemonLink& link);

// Closes the process and thread handles. The daemon keeps running.
void CloseDaemonLink(DaemonLink& link);
