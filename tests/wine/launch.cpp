// Starts one program with an exact command line and reports how it ended.
//
// Wine quotes every argument it passes on, so a trailing blank or a quoted
// program path cannot be given through wine's own command line. The tests
// put the command line, byte for byte, into the environment variable
// LAUNCH_CMDLINE instead, and this launcher hands it to CreateProcessW as is.
//
// Options:
//   --timeout MS             give up (and terminate the program) after MS
//   --wait-file PATH TEXT    after the start, wait until PATH contains TEXT
//   --post CLASS MESSAGE     then post to the launched program's top-level
//                            window of that class; MESSAGE is "close" or a
//                            WM_COMMAND id such as 105
//
// Output, one "key=value" per line: pid, post_ms (time from start to the
// post), post_window_visible, exit_code and exit_ms (time from the post, or
// from the start when nothing was posted, to the end of the process).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

const DWORD DEFAULT_TIMEOUT_MS = 30000;
const DWORD FILE_POLL_MS = 10;

struct LaunchOptions {
    DWORD timeoutMs = DEFAULT_TIMEOUT_MS;
    const wchar_t* waitFile = nullptr;
    const wchar_t* waitText = nullptr;
    const wchar_t* postClass = nullptr;
    const wchar_t* postMessage = nullptr;
};

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    HWND found;
};

double MillisecondsSince(LARGE_INTEGER start)
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

bool ParseOptions(int argc, wchar_t** argv, LaunchOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        if (lstrcmpW(argv[i], L"--timeout") == 0 && i + 1 < argc) {
            options.timeoutMs = static_cast<DWORD>(wcstoul(argv[++i], nullptr, 10));
        } else if (lstrcmpW(argv[i], L"--wait-file") == 0 && i + 2 < argc) {
            options.waitFile = argv[++i];
            options.waitText = argv[++i];
        } else if (lstrcmpW(argv[i], L"--post") == 0 && i + 2 < argc) {
            options.postClass = argv[++i];
            options.postMessage = argv[++i];
        } else {
            fwprintf(stderr, L"launch: unknown or incomplete option %ls\n", argv[i]);
            return false;
        }
    }
    return true;
}

// The log is UTF-8; the text searched for is plain ASCII.
bool FileContains(const wchar_t* path, const wchar_t* text)
{
    char needle[256];
    WideCharToMultiByte(CP_UTF8, 0, text, -1, needle, sizeof needle, nullptr, nullptr);
    FILE* file = _wfopen(path, L"rb");
    if (file == nullptr)
        return false;
    static char content[1 << 16];
    size_t length = fread(content, 1, sizeof content - 1, file);
    fclose(file);
    content[length] = '\0';
    return strstr(content, needle) != nullptr;
}

BOOL CALLBACK MatchWindow(HWND window, LPARAM context)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[256];
    if (owner == search->processId && GetClassNameW(window, className, 256) > 0 &&
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

bool PostByName(HWND window, const wchar_t* message)
{
    if (lstrcmpW(message, L"close") == 0)
        return PostMessageW(window, WM_CLOSE, 0, 0) != FALSE;
    wchar_t* end = nullptr;
    unsigned long command = wcstoul(message, &end, 10);
    if (end == message || *end != L'\0')
        return false;
    return PostMessageW(window, WM_COMMAND, MAKEWPARAM(command, 0), 0) != FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    LaunchOptions options;
    if (!ParseOptions(argc, argv, options))
        return 2;

    static wchar_t commandLine[32768];
    DWORD length = GetEnvironmentVariableW(L"LAUNCH_CMDLINE", commandLine, 32768);
    if (length == 0 || length >= 32768) {
        fwprintf(stderr, L"launch: LAUNCH_CMDLINE is not set\n");
        return 2;
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER started;
    QueryPerformanceCounter(&started);
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        wprintf(L"start_error=%lu\n", GetLastError());
        return 3;
    }
    wprintf(L"pid=%lu\n", process.dwProcessId);
    fflush(stdout);

    LARGE_INTEGER reference = started;
    bool failed = false;
    if (options.waitFile != nullptr) {
        while (!FileContains(options.waitFile, options.waitText)) {
            if (MillisecondsSince(started) > options.timeoutMs) {
                wprintf(L"wait_file=timeout\n");
                failed = true;
                break;
            }
            Sleep(FILE_POLL_MS);
        }
    }
    if (!failed && options.postClass != nullptr) {
        HWND window = nullptr;
        while ((window = FindProcessWindow(process.dwProcessId, options.postClass)) == nullptr) {
            if (WaitForSingleObject(process.hProcess, FILE_POLL_MS) == WAIT_OBJECT_0 ||
                MillisecondsSince(started) > options.timeoutMs)
                break;
        }
        if (window == nullptr) {
            wprintf(L"post=no_window\n");
            failed = true;
        } else {
            wprintf(L"post_ms=%.1f\npost_window_visible=%d\n", MillisecondsSince(started),
                    IsWindowVisible(window) ? 1 : 0);
            QueryPerformanceCounter(&reference);
            if (!PostByName(window, options.postMessage)) {
                wprintf(L"post=failed\n");
                failed = true;
            }
        }
    }

    double elapsed = MillisecondsSince(started);
    DWORD remaining = elapsed < options.timeoutMs ? options.timeoutMs - static_cast<DWORD>(elapsed) : 0;
    if (WaitForSingleObject(process.hProcess, remaining) != WAIT_OBJECT_0) {
        wprintf(L"exit=timeout\n");
        TerminateProcess(process.hProcess, 1);
        return 4;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    wprintf(L"exit_code=%lu\nexit_ms=%.1f\n", exitCode, MillisecondsSince(reference));
    return failed ? 5 : 0;
}
