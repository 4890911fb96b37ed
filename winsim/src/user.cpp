// Simulated user32: classes, windows, per-thread message queues, the modal
// About box, resources and screen metrics.

#include "world.h"

#include <cstdio>

using namespace winsim;

namespace {

const uintptr_t ICON_BASE = 0x20000;  // fake icon handles carry their resource id
const uintptr_t CURSOR_ARROW = 0x30000;
const uintptr_t ACCELERATORS = 0x40000;
const uintptr_t PAINT_DC = 0x50000;

std::string ResourceName(LPCWSTR name) {
    if (name == nullptr) return "null";
    if (IS_INTRESOURCE(name)) return std::to_string(reinterpret_cast<uintptr_t>(name));
    return "\"" + Text(name) + "\"";
}

std::string MessageName(UINT message) {
    static const struct { UINT id; const char* name; } NAMES[] = {
        {WM_CREATE, "WM_CREATE"}, {WM_DESTROY, "WM_DESTROY"}, {WM_PAINT, "WM_PAINT"},
        {WM_CLOSE, "WM_CLOSE"}, {WM_QUIT, "WM_QUIT"}, {WM_COMMAND, "WM_COMMAND"},
        {WM_INITDIALOG, "WM_INITDIALOG"}, {WM_SYSCHAR, "WM_SYSCHAR"}, {WM_CHAR, "WM_CHAR"},
    };
    for (const auto& entry : NAMES)
        if (entry.id == message) return entry.name;
    return Hex(message);
}

std::string WindowText(HWND window) { return window ? Hex(reinterpret_cast<uintptr_t>(window)) : "null"; }

std::string MessageText(UINT message, WPARAM wParam, LPARAM lParam) {
    return MessageName(message) + " wParam=" + Hex(wParam) + " lParam=" + Hex(static_cast<uint64_t>(lParam));
}

WindowRecord* FindWindow(HWND window) {
    auto it = W().windows.find(reinterpret_cast<uintptr_t>(window));
    return it == W().windows.end() ? nullptr : &it->second;
}

bool ForeignAlive(WindowRecord& record) {
    if (W().now >= record.diesAt) record.alive = false;
    return record.alive;
}

void Enqueue(HWND window, const WindowRecord& record, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg = {};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = static_cast<DWORD>(W().now);
    W().threads[static_cast<size_t>(record.ownerThread)]->queue.push_back(msg);
}

// The dialog currently shown and how it ended.
struct DialogState {
    HWND window;
    bool ended;
    INT_PTR result;
};
std::vector<DialogState> dialogs;

}  // namespace

namespace winsim {

void Deliver(uint64_t now) {
    World& w = W();
    for (size_t i = 0; i < w.timedPosts.size();) {
        const TimedPost post = w.timedPosts[i];
        if (post.at > now) {
            ++i;
            continue;
        }
        w.timedPosts.erase(w.timedPosts.begin() + static_cast<long>(i));
        WindowRecord* main = FindWindow(w.mainWindow);
        if (main == nullptr || !main->alive) {
            Log("-- at %llu ms another process finds no window for %s", static_cast<unsigned long long>(now),
                MessageName(post.message).c_str());
            continue;
        }
        Log("-- at %llu ms another process posts %s to %s", static_cast<unsigned long long>(now),
            MessageText(post.message, post.wParam, post.lParam).c_str(), WindowText(w.mainWindow).c_str());
        Enqueue(w.mainWindow, *main, post.message, post.wParam, post.lParam);
    }
}

void AddString(UINT id, const std::u16string& text) { W().strings[id] = text; }
void SetAcceleratorTable(bool present) { W().acceleratorTable = present; }
void FailWindowCreation() { W().failWindowCreation = true; }
void SetDialogAnswer(int command) { W().dialogAnswer = command; }
void AddForeignWindow(HWND window, uint64_t lifetimeMs, unsigned lifetimeTests) {
    WindowRecord record;
    record.foreign = true;
    record.diesAt = lifetimeMs;
    record.testsLeft = lifetimeTests;
    W().windows[reinterpret_cast<uintptr_t>(window)] = record;
}
void PostToMainWindowAt(uint64_t at, UINT message, WPARAM wParam, LPARAM lParam) {
    W().timedPosts.push_back({at, message, wParam, lParam});
}
HWND MainWindow() { return W().mainWindow; }
void SetVirtualScreen(int left, int top, int width, int height) {
    World& w = W();
    w.screen[0] = left;
    w.screen[1] = top;
    w.screen[2] = width;
    w.screen[3] = height;
}

}  // namespace winsim

extern "C" {

int WINAPI LoadStringW(HINSTANCE, UINT id, LPWSTR buffer, int bufferMax) {
    Count("LoadStringW");
    auto it = W().strings.find(id);
    int copied = 0;
    if (bufferMax > 0) {
        if (it != W().strings.end())
            for (; copied < bufferMax - 1 && copied < static_cast<int>(it->second.size()); ++copied)
                buffer[copied] = static_cast<WCHAR>(it->second[static_cast<size_t>(copied)]);
        buffer[copied] = 0;
    }
    if (it == W().strings.end()) Current().lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
    Log("LoadStringW %u max=%d -> %d \"%s\"", id, bufferMax, copied, bufferMax > 0 ? Text(buffer).c_str() : "");
    return copied;
}

HICON WINAPI LoadIconW(HINSTANCE instance, LPCWSTR name) {
    Count("LoadIconW");
    Log("LoadIconW %s %s -> icon", instance ? "instance" : "null", ResourceName(name).c_str());
    uintptr_t id = IS_INTRESOURCE(name) ? reinterpret_cast<uintptr_t>(name) : 0;
    return reinterpret_cast<HICON>(ICON_BASE + id);
}

HCURSOR WINAPI LoadCursorW(HINSTANCE instance, LPCWSTR name) {
    Count("LoadCursorW");
    Log("LoadCursorW %s %s -> cursor", instance ? "instance" : "null", ResourceName(name).c_str());
    return reinterpret_cast<HCURSOR>(CURSOR_ARROW);
}

HACCEL WINAPI LoadAcceleratorsW(HINSTANCE, LPCWSTR name) {
    Count("LoadAcceleratorsW");
    bool present = W().acceleratorTable;
    Log("LoadAcceleratorsW %s -> %s", ResourceName(name).c_str(), present ? "table" : "NULL");
    if (!present) Current().lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
    return present ? reinterpret_cast<HACCEL>(ACCELERATORS) : nullptr;
}

ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* wc) {
    World& w = W();
    auto handleText = [](const void* handle, uintptr_t base) {
        uintptr_t value = reinterpret_cast<uintptr_t>(handle);
        if (value == 0) return std::string("null");
        if (value >= base && value < base + 0x10000) return std::to_string(value - base);
        return Hex(value);
    };
    std::string head = "RegisterClassExW cbSize=" + std::to_string(wc->cbSize) + " style=" + Hex(wc->style) +
                       " proc=" + (wc->lpfnWndProc ? "set" : "null") + " clsExtra=" + std::to_string(wc->cbClsExtra) +
                       " wndExtra=" + std::to_string(wc->cbWndExtra) + " instance=" + (wc->hInstance ? "set" : "null") +
                       " icon=" + handleText(wc->hIcon, ICON_BASE) +
                       " cursor=" + (reinterpret_cast<uintptr_t>(wc->hCursor) == CURSOR_ARROW ? "arrow" : "other") +
                       " background=" + Hex(reinterpret_cast<uintptr_t>(wc->hbrBackground)) +
                       " menu=" + ResourceName(wc->lpszMenuName) + " class=" + ResourceName(wc->lpszClassName) +
                       " smallIcon=" + handleText(wc->hIconSm, ICON_BASE);
    DWORD error = ERROR_GEN_FAILURE;
    bool fail = ShouldFail("RegisterClassExW", &error);
    std::u16string name;
    if (wc->lpszClassName != nullptr && !IS_INTRESOURCE(wc->lpszClassName))
        for (LPCWSTR c = wc->lpszClassName; *c; ++c) name.push_back(static_cast<char16_t>(*c));
    if (!fail && (wc->cbSize != sizeof(WNDCLASSEXW) || name.empty() || wc->lpfnWndProc == nullptr)) {
        fail = true;
        error = ERROR_INVALID_PARAMETER;
    }
    for (const WindowClassRecord& c : w.classes)
        if (!fail && EqualNoCase(c.name, name)) {
            fail = true;
            error = ERROR_CLASS_ALREADY_EXISTS;
        }
    if (fail) {
        Current().lastError = error;
        Log("%s -> 0 (error %u)", head.c_str(), error);
        return 0;
    }
    w.classes.push_back({name, *wc});
    Log("%s -> atom", head.c_str());
    return static_cast<ATOM>(0xC000 + w.classes.size());
}

HWND WINAPI CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                            int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    World& w = W();
    auto coordinate = [](int v) { return v == CW_USEDEFAULT ? std::string("CW_USEDEFAULT") : std::to_string(v); };
    std::string head = "CreateWindowExW ex=" + Hex(exStyle) + " class=" + ResourceName(className) +
                       " title=" + ResourceName(windowName) + " style=" + Hex(style) + " x=" + coordinate(x) +
                       " y=" + coordinate(y) + " width=" + coordinate(width) + " height=" + coordinate(height) +
                       " parent=" + WindowText(parent) + " menu=" + (menu ? "set" : "null") +
                       " instance=" + (instance ? "set" : "null") + " param=" + (param ? "set" : "null");
    DWORD error = ERROR_GEN_FAILURE;
    const WindowClassRecord* cls = nullptr;
    std::u16string name;
    if (className != nullptr && !IS_INTRESOURCE(className))
        for (LPCWSTR c = className; *c; ++c) name.push_back(static_cast<char16_t>(*c));
    for (const WindowClassRecord& c : w.classes)
        if (EqualNoCase(c.name, name)) cls = &c;
    if (ShouldFail("CreateWindowExW", &error) || w.failWindowCreation || cls == nullptr) {
        if (cls == nullptr) error = ERROR_CANNOT_FIND_WND_CLASS;
        Current().lastError = error;
        Log("%s -> NULL (error %u)", head.c_str(), error);
        return nullptr;
    }
    uintptr_t value = w.nextWindow;
    w.nextWindow += 0x10;
    WindowRecord record;
    record.ownerThread = Current().id;
    record.proc = cls->record.lpfnWndProc;
    record.className = cls->name;
    record.visible = (style & WS_VISIBLE) != 0;
    w.windows[value] = record;
    HWND window = reinterpret_cast<HWND>(value);
    if (w.mainWindow == nullptr && parent == nullptr) w.mainWindow = window;
    Log("%s -> %s", head.c_str(), Hex(value).c_str());
    record.proc(window, WM_CREATE, 0, 0);
    return window;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
    Count("ShowWindow");
    WindowRecord* record = FindWindow(window);
    BOOL wasVisible = record && record->visible;
    if (record) record->visible = command != SW_HIDE;
    Log("ShowWindow %s %d -> %s", WindowText(window).c_str(), command, wasVisible ? "TRUE" : "FALSE");
    return wasVisible;
}

BOOL WINAPI UpdateWindow(HWND window) {
    Count("UpdateWindow");
    WindowRecord* record = FindWindow(window);
    BOOL ok = record != nullptr && record->alive && !record->foreign;
    Log("UpdateWindow %s -> %s", WindowText(window).c_str(), ok ? "TRUE" : "FALSE");
    return ok;
}

BOOL WINAPI DestroyWindow(HWND window) {
    Count("DestroyWindow");
    WindowRecord* record = FindWindow(window);
    if (record == nullptr || !record->alive || record->foreign || record->ownerThread != Current().id) {
        Current().lastError = ERROR_INVALID_WINDOW_HANDLE;
        Log("DestroyWindow %s -> FALSE", WindowText(window).c_str());
        return FALSE;
    }
    Log("DestroyWindow %s", WindowText(window).c_str());
    WNDPROC proc = record->proc;
    proc(window, WM_DESTROY, 0, 0);
    FindWindow(window)->alive = false;
    Log("-- DestroyWindow %s -> TRUE", WindowText(window).c_str());
    return TRUE;
}

BOOL WINAPI IsWindow(HWND window) {
    Count("IsWindow");
    WindowRecord* record = FindWindow(window);
    BOOL alive = FALSE;
    if (record != nullptr) {
        if (record->foreign) {
            alive = ForeignAlive(*record);
            if (alive && record->testsLeft != 0 && --record->testsLeft == 0) record->diesAt = W().now;
        } else {
            alive = record->alive;
        }
    }
    Log("IsWindow %s -> %s", WindowText(window).c_str(), alive ? "TRUE" : "FALSE");
    AfterCall("IsWindow");
    return alive;
}

BOOL WINAPI GetMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax) {
    Count("GetMessageW");
    if (window != nullptr || filterMin != 0 || filterMax != 0) Error("GetMessageW with a filter");
    ThreadRecord& self = Current();
    while (self.queue.empty() && !self.quitPosted) Block(Wait::Messages);
    if (!self.queue.empty()) {
        *message = self.queue.front();
        self.queue.pop_front();
        Log("GetMessageW -> %s %s", WindowText(message->hwnd).c_str(),
            MessageText(message->message, message->wParam, message->lParam).c_str());
        return TRUE;
    }
    *message = MSG();
    message->message = WM_QUIT;
    message->wParam = static_cast<WPARAM>(self.quitCode);
    self.quitPosted = false;
    Log("GetMessageW -> WM_QUIT %d", self.quitCode);
    return FALSE;
}

int WINAPI TranslateAcceleratorW(HWND window, HACCEL table, LPMSG message) {
    Count("TranslateAcceleratorW");
    // The programs' table: Alt with the characters "?" and "/", both command 104.
    bool hit = table != nullptr && message->message == WM_SYSCHAR &&
               (message->wParam == L'?' || message->wParam == L'/');
    Log("TranslateAcceleratorW %s %s %s -> %d", WindowText(window).c_str(), table ? "table" : "null",
        MessageName(message->message).c_str(), hit ? 1 : 0);
    if (!hit) return 0;
    WindowRecord* record = FindWindow(window);
    if (record != nullptr && record->alive && record->proc != nullptr)
        record->proc(window, WM_COMMAND, MAKEWPARAM(104, 1), 0);
    return 1;
}

BOOL WINAPI TranslateMessage(const MSG* message) {
    Count("TranslateMessage");
    Log("TranslateMessage %s", MessageName(message->message).c_str());
    return FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG* message) {
    Count("DispatchMessageW");
    WindowRecord* record = FindWindow(message->hwnd);
    Log("DispatchMessageW %s %s", WindowText(message->hwnd).c_str(),
        MessageText(message->message, message->wParam, message->lParam).c_str());
    if (record == nullptr || !record->alive || record->foreign || record->proc == nullptr) return 0;
    return record->proc(message->hwnd, message->message, message->wParam, message->lParam);
}

BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::string head = "PostMessageW " + WindowText(window) + " " + MessageText(message, wParam, lParam);
    DWORD error;
    if (ShouldFail("PostMessageW", &error)) {
        Current().lastError = error;
        Log("%s -> FALSE (injected)", head.c_str());
        return FALSE;
    }
    WindowRecord* record = FindWindow(window);
    bool alive = record != nullptr && (record->foreign ? ForeignAlive(*record) : record->alive);
    if (!alive) {
        Current().lastError = ERROR_INVALID_WINDOW_HANDLE;
        Log("%s -> FALSE", head.c_str());
        return FALSE;
    }
    if (!record->foreign) Enqueue(window, *record, message, wParam, lParam);
    Log("%s -> TRUE", head.c_str());
    AfterCall("PostMessageW");
    return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
    Count("PostQuitMessage");
    Log("PostQuitMessage %d", exitCode);
    Current().quitPosted = true;
    Current().quitCode = exitCode;
}

LRESULT WINAPI DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Count("DefWindowProcW");
    if (message != WM_CREATE) Log("DefWindowProcW %s %s", WindowText(window).c_str(), MessageText(message, wParam, lParam).c_str());
    if (message == WM_CLOSE) DestroyWindow(window);
    return 0;
}

INT_PTR WINAPI DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND owner, DLGPROC dialogProc, LPARAM initParam) {
    World& w = W();
    std::string head = "DialogBoxParamW " + std::string(instance ? "instance " : "null ") + ResourceName(templateName) +
                       " owner=" + WindowText(owner) + " param=" + Hex(static_cast<uint64_t>(initParam));
    DWORD error;
    if (ShouldFail("DialogBoxParamW", &error)) {
        Current().lastError = error;
        Log("%s -> -1 (injected)", head.c_str());
        return -1;
    }
    Log("%s", head.c_str());
    HWND dialog = reinterpret_cast<HWND>(w.nextWindow);
    w.nextWindow += 0x10;
    dialogs.push_back({dialog, false, 0});
    INT_PTR init = dialogProc(dialog, WM_INITDIALOG, 0, initParam);
    Log("-- About box WM_INITDIALOG -> %d", static_cast<int>(init));
    // The user answers: the button or Enter gives IDOK, Esc or the close box IDCANCEL.
    INT_PTR handled = dialogProc(dialog, WM_COMMAND, static_cast<WPARAM>(w.dialogAnswer), 0);
    Log("-- About box WM_COMMAND %d -> %d", w.dialogAnswer, static_cast<int>(handled));
    DialogState state = dialogs.back();
    dialogs.pop_back();
    if (!state.ended) {
        Error("the About box did not end on command %d", w.dialogAnswer);
        return -1;
    }
    Log("-- DialogBoxParamW -> %d", static_cast<int>(state.result));
    return state.result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    Count("EndDialog");
    Log("EndDialog %d", static_cast<int>(result));
    for (DialogState& state : dialogs)
        if (state.window == dialog) {
            state.ended = true;
            state.result = result;
            return TRUE;
        }
    Error("EndDialog on a window that is no dialog");
    return FALSE;
}

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    Count("BeginPaint");
    Log("BeginPaint %s", WindowText(window).c_str());
    *paint = PAINTSTRUCT();
    paint->hdc = reinterpret_cast<HDC>(PAINT_DC);
    return paint->hdc;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT*) {
    Count("EndPaint");
    Log("EndPaint %s", WindowText(window).c_str());
    return TRUE;
}

int WINAPI GetSystemMetrics(int index) {
    World& w = W();
    DWORD error;
    int value = 0;
    bool injected = ShouldFail("GetSystemMetrics", &error);
    if (!injected) {
        if (index == SM_XVIRTUALSCREEN) value = w.screen[0];
        else if (index == SM_YVIRTUALSCREEN) value = w.screen[1];
        else if (index == SM_CXVIRTUALSCREEN || index == SM_CXSCREEN) value = w.screen[2];
        else if (index == SM_CYVIRTUALSCREEN || index == SM_CYSCREEN) value = w.screen[3];
    }
    Log("GetSystemMetrics %d -> %d%s", index, value, injected ? " (injected)" : "");
    return value;
}

}  // extern "C"
