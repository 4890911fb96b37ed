#include "daemon_link.h"

#include <cwchar>

namespace {

// A handle printed in hexadecimal without prefix, as the daemon reads it.
// Window handles are 32-bit values even in 64-bit processes, so the daemon's
// 32-bit reading loses nothing.
void FormatWindowHandle(HWND window, wchar_t* out, size_t capacity)
{
    _snwprintf(out, capacity, L"%llx", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(window)));
    out[capacity - 1] = L'\0';
}

bool DefaultDaemonPath(wchar_t* out, DWORD capacity)
{
    DWORD length = GetModuleFileNameW(nullptr, out, capacity);
    if (length == 0 || length >= capacity)
        return false;
    wchar_t* slash = wcsrchr(out, L'\\');
    if (slash == nullptr)
        return false;
    size_t folderLength = static_cast<size_t>(slash + 1 - out);
    if (folderLength + lstrlenW(DAEMON_FILE_NAME) + 1 > capacity)
        return false;
    lstrcpyW(slash + 1, DAEMON_FILE_NAME);
    return true;
}

}  // namespace

bool StartCleanupDaemon(DaemonLink& link, HWND controllerWindow, const wchar_t* daemonPath)
{
    link = DaemonLink();

    wchar_t ownPath[MAX_PATH];
    if (daemonPath == nullptr) {
        if (!DefaultDaemonPath(ownPath, MAX_PATH))
            return false;
        daemonPath = ownPath;
    }

    // The program name goes first and quoted, so that a path with blanks
    // stays one name; the daemon reads the handle from what follows it.
    wchar_t handleText[32];
    FormatWindowHandle(controllerWindow, handleText, 32);
    int length = _snwprintf(link.commandLine, DAEMON_COMMAND_LINE_SIZE, L"\"%ls\" %ls", daemonPath, handleText);
    if (length < 0 || length >= DAEMON_COMMAND_LINE_SIZE)
        return false;

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    // No handles are inherited: the daemon outlives the controller, and an
    // inherited pipe or file would stay open as long as it runs.
    if (!CreateProcessW(daemonPath, link.commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &link.process))
        return false;
    return true;
}

bool AcceptDaemonAnnouncement(DaemonLink& link, WPARAM announcedWindow)
{
    HWND window = reinterpret_cast<HWND>(announcedWindow);
    if (link.process.hProcess == nullptr || !IsWindow(window) || IsWindowVisible(window))
        return false;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != link.process.dwProcessId)
        return false;
    wchar_t className[32];
    if (GetClassNameW(window, className, 32) == 0 || lstrcmpW(className, DAEMON_WINDOW_CLASS) != 0)
        return false;
    link.window = window;
    return true;
}

bool WaitForDaemonAnnouncement(DaemonLink& link, DWORD timeoutMs)
{
    DWORD started = GetTickCount();
    while (link.window == nullptr) {
        DWORD elapsed = GetTickCount() - started;
        if (elapsed >= timeoutMs)
            return false;
        DWORD wakeReason = MsgWaitForMultipleObjects(1, &link.process.hProcess, FALSE, timeoutMs - elapsed,
                                                     QS_ALLINPUT);
        if (wakeReason == WAIT_OBJECT_0)
            return false;  // the daemon exited before announcing itself
        if (wakeReason != WAIT_OBJECT_0 + 1)
            return false;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                // Leave the quit request to the caller's own loop.
                PostQuitMessage(static_cast<int>(message.wParam));
                return false;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return true;
}

bool StopCleanupDaemon(const DaemonLink& link)
{
    return link.window != nullptr && PostMessageW(link.window, WM_CLOSE, 0, 0) != FALSE;
}

void CloseDaemonLink(DaemonLink& link)
{
    if (link.process.hThread != nullptr)
        CloseHandle(link.process.hThread);
    if (link.process.hProcess != nullptr)
        CloseHandle(link.process.hProcess);
    link = DaemonLink();
}
