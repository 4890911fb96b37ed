// Sample controller application for the cleanup daemon.
//
// It does what a real controller does at start-up (create its main window,
// start Wirrelkin with that window's handle, accept the announcement) and
// then ends in one of the ways a controller can end, measuring how the
// daemon reacts. The end-to-end tests, the demo and the benchmark run it;
// daemon_link.h/.cpp are the part to copy into a controller.
//
//   controller [--daemon PATH] [--end MODE] [--hold MS] [--about]
//              [--announce-timeout MS] [--exit-timeout MS]
//
// MODE: "window"  destroy the main window (a controller closing normally);
//       "crash"   terminate the controller's own process abruptly, as a crash
//                 or a kill from the task manager would; a watcher process
//                 started just before measures the daemon's exit;
//       "close"   post WM_CLOSE to the daemon's window, keep the main window;
//       "command" post WM_COMMAND 105 (exit) to the daemon's window.
// --hold MS keeps the main window alive that long after the announcement and
// reports the daemon's CPU time over it. --about opens the daemon's About box
// with WM_COMMAND 104, then closes it again.
//
// Results go to standard output as "key=value" lines (UTF-8). The exit code
// is 0 when the daemon announced itself and exited with 0 in time.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>

#include "daemon_link.h"

namespace {

const wchar_t CONTROLLER_CLASS[] = L"ZelphSampleController";
const DWORD DEFAULT_ANNOUNCE_TIMEOUT_MS = 10000;
const DWORD DEFAULT_EXIT_TIMEOUT_MS = 5000;
const DWORD ABOUT_BOX_TIMEOUT_MS = 3000;
const DWORD WATCHER_READY_TIMEOUT_MS = 10000;
const UINT CRASH_EXIT_CODE = 3;

enum EndMode { END_WINDOW, END_CRASH, END_CLOSE_DAEMON, END_COMMAND_DAEMON };

struct EndModeName {
    const wchar_t* name;
    EndMode mode;
};

const EndModeName END_MODES[] = {
    {L"window", END_WINDOW},
    {L"crash", END_CRASH},
    {L"close", END_CLOSE_DAEMON},
    {L"command", END_COMMAND_DAEMON},
};

struct ControllerOptions {
    const wchar_t* daemonPath = nullptr;
    EndMode endMode = END_WINDOW;
    DWORD holdMs = 0;
    bool openAbout = false;
    DWORD announceTimeoutMs = DEFAULT_ANNOUNCE_TIMEOUT_MS;
    DWORD exitTimeoutMs = DEFAULT_EXIT_TIMEOUT_MS;
};

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    HWND found;
};

DaemonLink daemonLink;
LARGE_INTEGER announcedAt;
unsigned rejectedAnnouncements;

void Report(const wchar_t* format, ...)
{
    wchar_t line[1024];
    va_list arguments;
    va_start(arguments, format);
    int length = _vsnwprintf(line, 1023, format, arguments);
    va_end(arguments);
    if (length < 0)
        length = 1023;
    line[length++] = L'\n';
    char utf8[4096];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, length, utf8, sizeof utf8, nullptr, nullptr);
    DWORD written = 0;
    if (bytes > 0)
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8, static_cast<DWORD>(bytes), &written, nullptr);
}

LARGE_INTEGER Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

double MillisecondsBetween(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// User plus kernel time of a process, in milliseconds.
bool ProcessCpuMs(HANDLE process, double& cpuMs)
{
    FILETIME creation, exit, kernel, user;
    if (!GetProcessTimes(process, &creation, &exit, &kernel, &user))
        return false;
    ULARGE_INTEGER kernelTicks = {{kernel.dwLowDateTime, kernel.dwHighDateTime}};
    ULARGE_INTEGER userTicks = {{user.dwLowDateTime, user.dwHighDateTime}};
    cpuMs = static_cast<double>(kernelTicks.QuadPart + userTicks.QuadPart) / 10000.0;
    return true;
}

// Runs the thread's messages for the given time (the controller stays
// responsive while it waits).
void PumpMessagesFor(DWORD durationMs)
{
    DWORD started = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - started;
        if (elapsed >= durationMs)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, durationMs - elapsed, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

BOOL CALLBACK MatchWindow(HWND window, LPARAM context)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[64];
    if (owner == search->processId && GetClassNameW(window, className, 64) > 0 &&
        lstrcmpW(className, search->className) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindProcessWindow(DWORD processId, const wchar_t* className)
{
    WindowSearch search = {processId, className, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Waits for a visible top-level window of the process; a dialog becomes
// visible once it has been initialised.
HWND WaitForProcessWindow(DWORD processId, const wchar_t* className, DWORD timeoutMs)
{
    DWORD started = GetTickCount();
    for (;;) {
        HWND window = FindProcessWindow(processId, className);
        if ((window != nullptr && IsWindowVisible(window)) || GetTickCount() - started >= timeoutMs)
            return window != nullptr && IsWindowVisible(window) ? window : nullptr;
        Sleep(10);
    }
}

bool DaemonAlive()
{
    return WaitForSingleObject(daemonLink.process.hProcess, 0) == WAIT_TIMEOUT;
}

// Waits for the daemon's exit and reports the time from `since` and the
// exit code. Returns whether it exited with 0 in time.
bool ReportDaemonExit(HANDLE daemonProcess, LARGE_INTEGER since, DWORD timeoutMs)
{
    if (WaitForSingleObject(daemonProcess, timeoutMs) != WAIT_OBJECT_0) {
        Report(L"daemon_exit=timeout");
        return false;
    }
    LARGE_INTEGER exitedAt = Now();
    DWORD exitCode = 0;
    GetExitCodeProcess(daemonProcess, &exitCode);
    Report(L"reaction_ms=%.1f", MillisecondsBetween(since, exitedAt));
    Report(L"daemon_exit=%lu", exitCode);
    double cpuMs = 0;
    if (ProcessCpuMs(daemonProcess, cpuMs))
        Report(L"daemon_cpu_total_ms=%.2f", cpuMs);
    return exitCode == 0;
}

LRESULT CALLBACK ControllerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DAEMON_ANNOUNCE:
        if (AcceptDaemonAnnouncement(daemonLink, wParam))
            announcedAt = Now();
        else
            ++rejectedAnnouncements;
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND CreateControllerWindow(HINSTANCE instance)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = ControllerWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = CONTROLLER_CLASS;
    if (RegisterClassExW(&windowClass) == 0)
        return nullptr;
    // A real controller shows this window; the daemon only asks whether it
    // still exists, so the sample leaves it hidden.
    return CreateWindowExW(0, CONTROLLER_CLASS, L"Sample controller", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                           400, 300, nullptr, nullptr, instance, nullptr);
}

bool ParseNumber(const wchar_t* text, DWORD& value)
{
    wchar_t* end = nullptr;
    unsigned long number = wcstoul(text, &end, 10);
    if (end == text || *end != L'\0')
        return false;
    value = static_cast<DWORD>(number);
    return true;
}

bool ParseOptions(int argc, wchar_t** argv, ControllerOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const wchar_t* option = argv[i];
        const wchar_t* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (lstrcmpW(option, L"--about") == 0) {
            options.openAbout = true;
            continue;
        }
        if (value == nullptr) {
            Report(L"error=option %ls needs a value", option);
            return false;
        }
        ++i;
        bool understood = true;
        if (lstrcmpW(option, L"--daemon") == 0) {
            options.daemonPath = value;
        } else if (lstrcmpW(option, L"--end") == 0) {
            understood = false;
            for (const EndModeName& entry : END_MODES) {
                if (lstrcmpW(value, entry.name) == 0) {
                    options.endMode = entry.mode;
                    understood = true;
                }
            }
        } else if (lstrcmpW(option, L"--hold") == 0) {
            understood = ParseNumber(value, options.holdMs);
        } else if (lstrcmpW(option, L"--announce-timeout") == 0) {
            understood = ParseNumber(value, options.announceTimeoutMs);
        } else if (lstrcmpW(option, L"--exit-timeout") == 0) {
            understood = ParseNumber(value, options.exitTimeoutMs);
        } else {
            understood = false;
        }
        if (!understood) {
            Report(L"error=cannot use option %ls %ls", option, value);
            return false;
        }
    }
    return true;
}

void ReportDaemonWindow(HWND window)
{
    wchar_t className[64] = L"";
    GetClassNameW(window, className, 64);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    Report(L"daemon_window=0x%llx", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(window)));
    Report(L"daemon_window_class=%ls", className);
    Report(L"daemon_window_visible=%d", IsWindowVisible(window) ? 1 : 0);
    Report(L"daemon_window_pid=%lu", owner);
}

// Opens the About box through the daemon's window and closes it again; the
// daemon must keep running throughout.
bool ExerciseAboutBox()
{
    PostMessageW(daemonLink.window, WM_COMMAND, MAKEWPARAM(DAEMON_COMMAND_ABOUT, 0), 0);
    HWND dialog = WaitForProcessWindow(daemonLink.process.dwProcessId, L"#32770", ABOUT_BOX_TIMEOUT_MS);
    if (dialog == nullptr) {
        Report(L"about_box=0");
        return false;
    }
    wchar_t title[100] = L"";
    GetWindowTextW(dialog, title, 100);
    Report(L"about_box=1");
    Report(L"about_title=%ls", title);
    Report(L"about_owner_is_daemon_window=%d", GetWindow(dialog, GW_OWNER) == daemonLink.window ? 1 : 0);
    Report(L"daemon_alive_with_about=%d", DaemonAlive() ? 1 : 0);

    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    DWORD started = GetTickCount();
    while (IsWindow(dialog) && GetTickCount() - started < ABOUT_BOX_TIMEOUT_MS)
        Sleep(10);
    Report(L"about_closed=%d", IsWindow(dialog) ? 0 : 1);
    Report(L"daemon_alive_after_about=%d", DaemonAlive() ? 1 : 0);
    return true;
}

// Starts a copy of this program that outlives the crash and measures the
// daemon's exit from the moment this process has gone. Returns only if the
// watcher could not be started.
bool CrashUnderWatch(const ControllerOptions& options)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    HANDLE ready = CreateEventW(&inheritable, TRUE, FALSE, nullptr);
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                    SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0);
    SetHandleInformation(daemonLink.process.hProcess, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    if (ready == nullptr || self == nullptr)
        return false;

    wchar_t ownPath[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    wchar_t commandLine[MAX_PATH + 128];
    _snwprintf(commandLine, MAX_PATH + 128, L"\"%ls\" --watch %llx %llx %llx %lu", ownPath,
               static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(self)),
               static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(daemonLink.process.hProcess)),
               static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(ready)), options.exitTimeoutMs);
    commandLine[MAX_PATH + 127] = L'\0';

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION watcher = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &watcher))
        return false;
    HANDLE waits[2] = {ready, watcher.hProcess};
    if (WaitForMultipleObjects(2, waits, FALSE, WATCHER_READY_TIMEOUT_MS) != WAIT_OBJECT_0)
        return false;
    Report(L"crash=now");
    TerminateProcess(GetCurrentProcess(), CRASH_EXIT_CODE);
    return false;
}

HANDLE ParseHandle(const wchar_t* text)
{
    return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(wcstoull(text, nullptr, 16)));
}

// The watcher's side of CrashUnderWatch: argv holds the controller's process
// handle, the daemon's process handle, the ready event and the exit timeout.
int RunWatcher(int argc, wchar_t** argv)
{
    if (argc < 6)
        return 2;
    HANDLE controller = ParseHandle(argv[2]);
    HANDLE daemon = ParseHandle(argv[3]);
    HANDLE ready = ParseHandle(argv[4]);
    DWORD exitTimeoutMs = DEFAULT_EXIT_TIMEOUT_MS;
    ParseNumber(argv[5], exitTimeoutMs);
    SetEvent(ready);
    if (WaitForSingleObject(controller, WATCHER_READY_TIMEOUT_MS) != WAIT_OBJECT_0) {
        Report(L"controller_exit=timeout");
        return 1;
    }
    LARGE_INTEGER controllerGone = Now();
    DWORD controllerExit = 0;
    GetExitCodeProcess(controller, &controllerExit);
    Report(L"controller_exit=%lu", controllerExit);
    return ReportDaemonExit(daemon, controllerGone, exitTimeoutMs) ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 2 && lstrcmpW(argv[1], L"--watch") == 0)
        return RunWatcher(argc, argv);

    ControllerOptions options;
    if (!ParseOptions(argc, argv, options))
        return 2;

    HWND controllerWindow = CreateControllerWindow(GetModuleHandleW(nullptr));
    if (controllerWindow == nullptr) {
        Report(L"error=cannot create the controller window (%lu)", GetLastError());
        return 1;
    }

    LARGE_INTEGER startedAt = Now();
    if (!StartCleanupDaemon(daemonLink, controllerWindow, options.daemonPath)) {
        Report(L"error=cannot start the daemon (%lu)", GetLastError());
        return 1;
    }
    Report(L"controller_window=0x%llx",
           static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(controllerWindow)));
    Report(L"daemon_command_line=%ls", daemonLink.commandLine);
    Report(L"daemon_pid=%lu", daemonLink.process.dwProcessId);
    if (!WaitForDaemonAnnouncement(daemonLink, options.announceTimeoutMs)) {
        Report(L"announce=none");
        Report(L"announce_rejected=%u", rejectedAnnouncements);
        if (!DaemonAlive()) {
            DWORD exitCode = 0;
            GetExitCodeProcess(daemonLink.process.hProcess, &exitCode);
            Report(L"daemon_exit=%lu", exitCode);
        }
        return 1;
    }
    Report(L"announce_ms=%.1f", MillisecondsBetween(startedAt, announcedAt));
    Report(L"announce_rejected=%u", rejectedAnnouncements);
    ReportDaemonWindow(daemonLink.window);

    double cpuAtAnnounce = 0;
    if (ProcessCpuMs(daemonLink.process.hProcess, cpuAtAnnounce))
        Report(L"daemon_cpu_start_ms=%.2f", cpuAtAnnounce);

    bool healthy = true;
    if (options.openAbout)
        healthy = ExerciseAboutBox() && healthy;

    if (options.holdMs > 0) {
        PumpMessagesFor(options.holdMs);
        double cpuAfterHold = 0;
        if (ProcessCpuMs(daemonLink.process.hProcess, cpuAfterHold))
            Report(L"daemon_cpu_hold_ms=%.2f", cpuAfterHold - cpuAtAnnounce);
        Report(L"daemon_alive_after_hold=%d", DaemonAlive() ? 1 : 0);
    }

    switch (options.endMode) {
    case END_WINDOW: {
        DestroyWindow(controllerWindow);
        healthy = ReportDaemonExit(daemonLink.process.hProcess, Now(), options.exitTimeoutMs) && healthy;
        break;
    }
    case END_CRASH:
        CrashUnderWatch(options);
        Report(L"error=cannot start the watcher (%lu)", GetLastError());
        return 1;
    case END_CLOSE_DAEMON:
    case END_COMMAND_DAEMON: {
        if (options.endMode == END_CLOSE_DAEMON)
            StopCleanupDaemon(daemonLink);
        else
            PostMessageW(daemonLink.window, WM_COMMAND, MAKEWPARAM(DAEMON_COMMAND_EXIT, 0), 0);
        healthy = ReportDaemonExit(daemonLink.process.hProcess, Now(), options.exitTimeoutMs) && healthy;
        Report(L"controller_window_alive=%d", IsWindow(controllerWindow) ? 1 : 0);
        DestroyWindow(controllerWindow);
        break;
    }
    }
    CloseDaemonLink(daemonLink);
    return healthy ? 0 : 1;
}
