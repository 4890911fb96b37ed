// The smallest program that does what the daemon does up to its
// announcement: read the controller's window handle from the command line,
// create a hidden window, post WM_DAEMON_ANNOUNCE from a worker thread, and
// exit once the controller's window is gone. It has no HID binding and no
// resources. The benchmark sets its start-up time and size beside the
// daemon's, built with the same compiler and link options. It uses the
// daemon's window class name so that the sample controller accepts its
// announcement unchanged.
#include <windows.h>

#include <cwchar>

namespace {

const UINT WM_DAEMON_ANNOUNCE = 0x4854;
const DWORD POLL_INTERVAL_MS = 100;
const wchar_t WINDOW_CLASS[] = L"WIRRELKIN";

HWND controllerWindow;
HWND ownWindow;

DWORD WINAPI Watch(void*)
{
    PostMessageW(controllerWindow, WM_DAEMON_ANNOUNCE, reinterpret_cast<WPARAM>(ownWindow), 0);
    while (IsWindow(controllerWindow))
        Sleep(POLL_INTERVAL_MS);
    ExitProcess(0);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, wchar_t* commandLine, int)
{
    controllerWindow = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(wcstoull(commandLine, nullptr, 16)));

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = WINDOW_CLASS;
    RegisterClassExW(&windowClass);
    ownWindow = CreateWindowExW(0, WINDOW_CLASS, L"", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT, 0,
                                nullptr, nullptr, instance, nullptr);
    if (ownWindow == nullptr)
        return 0;
    ShowWindow(ownWindow, SW_HIDE);
    UpdateWindow(ownWindow);
    CreateThread(nullptr, 0, Watch, nullptr, 0, nullptr);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}
