#include "common/app_shell.h"

#include "common/resource_ids.h"

namespace {

const int MAX_LOADSTRING = 100;

HINSTANCE moduleInstance;
WCHAR windowTitle[MAX_LOADSTRING];
WCHAR windowClassName[MAX_LOADSTRING];

void ShowAboutBox(HWND window) {
    DialogBoxParamW(moduleInstance, MAKEINTRESOURCEW(IDD_ABOUTBOX), window, AboutDialogProc, 0);
}

void EndProgram(HWND window) { DestroyWindow(window); }

// The window's commands. The high word of wParam (menu, accelerator or
// control notification) does not matter.
const struct {
    WORD command;
    void (*run)(HWND window);
} MAIN_WINDOW_COMMANDS[] = {
    {IDM_ABOUT, ShowAboutBox},
    {IDM_EXIT, EndProgram},
};

bool IsBlank(WCHAR c) { return c >= 0x0001 && c <= 0x0020; }

}  // namespace

LPCWSTR CommandLineTail(LPCWSTR commandLine) {
    if (commandLine == NULL) return L"";
    LPCWSTR p = commandLine;
    BOOL quoted = FALSE;
    while (*p != 0 && (quoted || *p > L' ')) {
        if (*p == L'"') quoted = !quoted;
        ++p;
    }
    while (IsBlank(*p)) ++p;
    return p;
}

ATOM RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APP));
    windowClass.hCursor = LoadCursorW(NULL, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDC_APP);
    windowClass.lpszClassName = windowClassName;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    return RegisterClassExW(&windowClass);
}

int RunApplicationShell(HINSTANCE instance, HINSTANCE, LPCWSTR tail, int, const ShellSteps* steps) {
    LoadStringW(instance, IDS_APP_TITLE, windowTitle, MAX_LOADSTRING);
    LoadStringW(instance, IDC_APP, windowClassName, MAX_LOADSTRING);
    if (steps->earlyStep != NULL) steps->earlyStep(tail);
    RegisterMainWindowClass(instance);
    moduleInstance = instance;

    HWND window = CreateWindowExW(0, windowClassName, windowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                                  NULL, NULL, instance, NULL);
    if (window == NULL) return 0;
    // Whatever show state the program was started with: it is never seen.
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
    if (steps->startStep != NULL) steps->startStep(tail, window);

    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_APP));
    // GetMessageW returns -1 on error, which is not a message to dispatch.
    MSG message = {};
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        if (!TranslateAcceleratorW(message.hwnd, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        for (const auto& entry : MAIN_WINDOW_COMMANDS) {
            if (entry.command == LOWORD(wParam)) {
                entry.run(window);
                return 0;
            }
        }
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void StartWorker(LPTHREAD_START_ROUTINE worker) {
    HANDLE thread = CreateThread(NULL, 0, worker, NULL, 0, NULL);
    if (thread == NULL) worker(NULL);
    // The handle is kept for the life of the process: the worker ends it.
    // cppcheck-suppress resourceLeak
}
