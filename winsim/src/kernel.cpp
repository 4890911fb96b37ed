// Simulated kernel32, shell32 and shlwapi: heap, files and devices, threads,
// child processes, the module path and command line, string helpers.

#include "world.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace winsim;

namespace {

const HANDLE PROCESS_HEAP = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x5000));

std::string LastErrorText(DWORD error) { return "(error " + std::to_string(error) + ")"; }


// The sharing rule of CreateFileW: only handles with data access take part.
// A new handle needs every existing handle to share what it asks for, and
// must itself share what every existing handle has.
bool SharingAdmits(DWORD access, DWORD share, DWORD otherAccess, DWORD otherShare) {
    const DWORD data = GENERIC_READ | GENERIC_WRITE;
    if ((access & data) == 0 || (otherAccess & data) == 0) return true;
    if ((access & GENERIC_READ) && !(otherShare & FILE_SHARE_READ)) return false;
    if ((access & GENERIC_WRITE) && !(otherShare & FILE_SHARE_WRITE)) return false;
    if ((otherAccess & GENERIC_READ) && !(share & FILE_SHARE_READ)) return false;
    if ((otherAccess & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) return false;
    return true;
}

std::u16string FromWide(const WCHAR* text) {
    std::u16string s;
    if (text != nullptr)
        for (; *text != 0; ++text) s.push_back(static_cast<char16_t>(*text));
    return s;
}

}  // namespace

extern "C" {

// ---- Heap -----------------------------------------------------------------

HANDLE WINAPI GetProcessHeap(void) { return PROCESS_HEAP; }

LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
    World& w = W();
    DWORD error;
    if (heap != PROCESS_HEAP) Error("HeapAlloc on unknown heap %s", Hex(reinterpret_cast<uintptr_t>(heap)).c_str());
    if (ShouldFail("HeapAlloc", &error)) {
        Log("HeapAlloc %zu -> NULL (injected)", bytes);
        return nullptr;
    }
    // Memory that is not asked to be zeroed is filled with a pattern, so that
    // code relying on fresh memory being zero shows up in the tests.
    void* block = malloc(bytes == 0 ? 1 : bytes);
    memset(block, (flags & HEAP_ZERO_MEMORY) ? 0 : 0xCD, bytes);
    w.heapBlocks[block] = bytes;
    w.freedBlocks.erase(block);
    Log("HeapAlloc %zu%s -> block", bytes, (flags & HEAP_ZERO_MEMORY) ? " zeroed" : "");
    AfterCall("HeapAlloc");
    return block;
}

BOOL WINAPI HeapFree(HANDLE heap, DWORD, LPVOID memory) {
    World& w = W();
    Count("HeapFree");
    if (heap != PROCESS_HEAP) Error("HeapFree on unknown heap");
    if (memory == nullptr) {
        Log("HeapFree NULL -> TRUE");
        return TRUE;
    }
    auto it = w.heapBlocks.find(memory);
    if (it == w.heapBlocks.end()) {
        Error(w.freedBlocks.count(memory) ? "HeapFree of a block freed before" : "HeapFree of an unknown block");
        Log("HeapFree -> FALSE");
        return FALSE;
    }
    Log("HeapFree %zu -> TRUE", it->second);
    free(memory);
    w.heapBlocks.erase(it);
    w.freedBlocks.insert(memory);
    return TRUE;
}

// ---- Files and devices ---------------------------------------------------------

HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                          DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
    World& w = W();
    std::u16string name = FromWide(fileName);
    std::string head = "CreateFileW " + Text(name) + " access=" + Hex(desiredAccess) + " share=" + Hex(shareMode) +
                       " disposition=" + std::to_string(creationDisposition) + " flags=" + Hex(flagsAndAttributes) +
                       (security ? " security" : "") + (templateFile ? " template" : "");
    auto fail = [&](DWORD error) {
        Current().lastError = error;
        Log("%s -> INVALID_HANDLE_VALUE %s", head.c_str(), LastErrorText(error).c_str());
        AfterCall("CreateFileW");
        return INVALID_HANDLE_VALUE;
    };
    DWORD error;
    if (ShouldFail("CreateFileW", &error)) return fail(error);
    if (creationDisposition != OPEN_EXISTING) return fail(ERROR_ACCESS_DENIED);

    HandleRecord record;
    bool found = false;
    for (size_t i = 0; i < w.hids.size() && !found; ++i) {
        if (!EqualNoCase(w.hids[i].hid.path, name)) continue;
        found = true;
        if (w.hids[i].hid.openFails) return fail(ERROR_ACCESS_DENIED);
        for (const auto& held : w.hids[i].foreignHandles)
            if (!SharingAdmits(desiredAccess, shareMode, held.access, held.shareMode)) return fail(ERROR_SHARING_VIOLATION);
        for (const auto& [value, other] : w.handles)
            if (other.open && other.kind == HandleKind::Hid && other.hidIndex == i &&
                !SharingAdmits(desiredAccess, shareMode, other.access, other.shareMode))
                return fail(ERROR_SHARING_VIOLATION);
        record.kind = HandleKind::Hid;
        record.hidIndex = i;
    }
    for (const std::u16string& device : w.controlDevices) {
        if (found || !EqualNoCase(device, name)) continue;
        found = true;
        for (const auto& [value, other] : w.handles)
            if (other.open && other.kind == HandleKind::Control && EqualNoCase(other.name, name) &&
                !SharingAdmits(desiredAccess, shareMode, other.access, other.shareMode))
                return fail(ERROR_SHARING_VIOLATION);
        record.kind = HandleKind::Control;
        record.name = name;
    }
    if (!found) return fail(ERROR_FILE_NOT_FOUND);
    record.access = desiredAccess;
    record.shareMode = shareMode;
    uintptr_t handle = NewHandle(record);
    Log("%s -> %s", head.c_str(), Hex(handle).c_str());
    AfterCall("CreateFileW");
    return reinterpret_cast<HANDLE>(handle);
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped) {
    std::string bytes;
    for (DWORD i = 0; i < bytesToWrite && buffer != nullptr; ++i) {
        char hex[4];
        snprintf(hex, sizeof hex, "%02x", static_cast<const BYTE*>(buffer)[i]);
        if (i) bytes += ' ';
        bytes += hex;
    }
    std::string head = "WriteFile " + Hex(reinterpret_cast<uintptr_t>(file)) + " [" + bytes + "]" +
                       (overlapped ? " overlapped" : "") + (bytesWritten ? "" : " no-count");
    HandleRecord* record = FindHandle(file);
    auto fail = [&](DWORD error) {
        Current().lastError = error;
        Log("%s -> FALSE %s", head.c_str(), LastErrorText(error).c_str());
        AfterCall("WriteFile");
        return FALSE;
    };
    if (record == nullptr || !record->open) {
        Error("WriteFile through %s handle %s", record ? "a closed" : "an unknown", Hex(reinterpret_cast<uintptr_t>(file)).c_str());
        return fail(ERROR_INVALID_HANDLE);
    }
    DWORD error;
    if (ShouldFail("WriteFile", &error)) return fail(error);
    if (!(record->access & GENERIC_WRITE)) return fail(ERROR_ACCESS_DENIED);
    if (bytesWritten) *bytesWritten = bytesToWrite;
    Log("%s -> TRUE", head.c_str());
    AfterCall("WriteFile");
    return TRUE;
}

BOOL WINAPI DeviceIoControl(HANDLE device, DWORD code, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer, DWORD outSize,
                            LPDWORD bytesReturned, LPOVERLAPPED overlapped) {
    std::string head = "DeviceIoControl " + Hex(reinterpret_cast<uintptr_t>(device)) + " code=" + Hex(code) +
                       " in=" + (inBuffer ? "buffer" : "null") + "/" + std::to_string(inSize) +
                       " out=" + (outBuffer ? "buffer" : "null") + "/" + std::to_string(outSize) +
                       (bytesReturned ? "" : " no-count") + (overlapped ? " overlapped" : "");
    HandleRecord* record = FindHandle(device);
    auto fail = [&](DWORD error) {
        Current().lastError = error;
        Log("%s -> FALSE %s", head.c_str(), LastErrorText(error).c_str());
        AfterCall("DeviceIoControl");
        return FALSE;
    };
    if (record == nullptr || !record->open) {
        Error("DeviceIoControl through %s handle", record ? "a closed" : "an unknown");
        return fail(ERROR_INVALID_HANDLE);
    }
    DWORD error;
    if (ShouldFail("DeviceIoControl", &error)) return fail(error);
    if (bytesReturned) *bytesReturned = 0;
    Log("%s -> TRUE", head.c_str());
    AfterCall("DeviceIoControl");
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE object) {
    Count("CloseHandle");
    HandleRecord* record = FindHandle(object);
    std::string value = Hex(reinterpret_cast<uintptr_t>(object));
    if (record == nullptr || !record->open) {
        Error("CloseHandle of %s handle %s", record ? "a closed" : "an unknown", value.c_str());
        Current().lastError = ERROR_INVALID_HANDLE;
        Log("CloseHandle %s -> FALSE", value.c_str());
        return FALSE;
    }
    record->open = false;
    Log("CloseHandle %s -> TRUE", value.c_str());
    AfterCall("CloseHandle");
    return TRUE;
}

// ---- Threads and processes ------------------------------------------------------

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId) {
    std::string head = std::string("CreateThread") + (attributes ? " security" : "") + " stack=" + std::to_string(stackSize) +
                       " parameter=" + (parameter ? "set" : "null") + " flags=" + Hex(flags) +
                       " id=" + (threadId ? "wanted" : "null");
    DWORD error;
    if (ShouldFail("CreateThread", &error)) {
        Current().lastError = error;
        Log("%s -> NULL (injected)", head.c_str());
        return nullptr;
    }
    HandleRecord record;
    record.kind = HandleKind::Thread;
    record.threadId = StartThread(start, parameter);
    if (threadId) *threadId = static_cast<DWORD>(1000 + record.threadId);
    uintptr_t handle = NewHandle(record);
    Log("%s -> %s (thread %d)", head.c_str(), Hex(handle).c_str(), record.threadId);
    AfterCall("CreateThread");
    return reinterpret_cast<HANDLE>(handle);
}

void WINAPI Sleep(DWORD milliseconds) {
    Count("Sleep");
    if (milliseconds == INFINITE)
        Log("Sleep INFINITE");
    else
        Log("Sleep %u", milliseconds);
    if (milliseconds == INFINITE)
        Block(Wait::Forever);
    else if (milliseconds == 0)
        Block(Wait::Ready);
    else
        Block(Wait::Until, W().now + milliseconds);
    AfterCall("Sleep");
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Count("WaitForSingleObject");
    std::string head = "WaitForSingleObject " + Hex(reinterpret_cast<uintptr_t>(handle)) + " " +
                       (milliseconds == INFINITE ? std::string("INFINITE") : std::to_string(milliseconds));
    HandleRecord* record = FindHandle(handle);
    if (record == nullptr || !record->open || record->kind != HandleKind::Process) {
        Current().lastError = ERROR_INVALID_HANDLE;
        Log("%s -> WAIT_FAILED", head.c_str());
        return WAIT_FAILED;
    }
    uint64_t endsAt = record->endsAt;
    Log("%s", head.c_str());
    if (W().now < endsAt) {
        if (milliseconds != INFINITE && W().now + milliseconds < endsAt) {
            Block(Wait::Until, W().now + milliseconds);
            Log("-- WaitForSingleObject -> WAIT_TIMEOUT");
            return WAIT_TIMEOUT;
        }
        Block(Wait::Until, endsAt);
    }
    Log("-- WaitForSingleObject -> WAIT_OBJECT_0 at %llu ms", static_cast<unsigned long long>(W().now));
    AfterCall("WaitForSingleObject");
    return WAIT_OBJECT_0;
}

void WINAPI ExitProcess(UINT exitCode) {
    Count("ExitProcess");
    Log("ExitProcess %u", exitCode);
    EndProcess(exitCode, "ExitProcess");
}

DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    World& w = W();
    DWORD error;
    std::string head = std::string("GetModuleFileNameW ") + (module ? "module" : "null") + " size=" + std::to_string(size);
    if (ShouldFail("GetModuleFileNameW", &error)) {
        Current().lastError = error;
        Log("%s -> 0 (injected)", head.c_str());
        return 0;
    }
    DWORD length = static_cast<DWORD>(w.modulePath.size());
    if (length < size) {
        for (DWORD i = 0; i < length; ++i) fileName[i] = static_cast<WCHAR>(w.modulePath[i]);
        fileName[length] = 0;
        Current().lastError = ERROR_SUCCESS;
        Log("%s -> %u", head.c_str(), length);
        return length;
    }
    // Cut: newer systems terminate within the buffer, older ones fill it.
    DWORD copied = w.terminateWhenCut ? (size ? size - 1 : 0) : size;
    for (DWORD i = 0; i < copied; ++i) fileName[i] = static_cast<WCHAR>(w.modulePath[i]);
    if (w.terminateWhenCut && size) fileName[size - 1] = 0;
    Current().lastError = ERROR_INSUFFICIENT_BUFFER;
    Log("%s -> %u cut %s", head.c_str(), size, w.terminateWhenCut ? "terminated" : "unterminated");
    return size;
}

LPWSTR WINAPI GetCommandLineW(void) {
    World& w = W();
    if (w.commandLineBuffer.empty()) {
        for (char16_t c : w.commandLine) w.commandLineBuffer.push_back(static_cast<WCHAR>(c));
        w.commandLineBuffer.push_back(0);
    }
    Count("GetCommandLineW");
    Log("GetCommandLineW -> %s", Text(w.commandLine).c_str());
    return w.commandLineBuffer.data();
}

DWORD WINAPI GetLastError(void) { return Current().lastError; }
void WINAPI SetLastError(DWORD errorCode) { Current().lastError = errorCode; }

LONG WINAPI InterlockedCompareExchange(LONG volatile* destination, LONG exchange, LONG comparand) {
    Count("InterlockedCompareExchange");
    LONG previous = *destination;
    if (previous == comparand) *destination = exchange;
    Log("InterlockedCompareExchange %d if %d -> %d", exchange, comparand, previous);
    AfterCall("InterlockedCompareExchange");
    return previous;
}

int WINAPI lstrlenW(LPCWSTR string) {
    int n = 0;
    if (string != nullptr)
        while (string[n] != 0) ++n;
    return n;
}

LPWSTR WINAPI lstrcpynW(LPWSTR destination, LPCWSTR source, int maxLength) {
    if (maxLength <= 0) return destination;
    int i = 0;
    for (; i < maxLength - 1 && source[i] != 0; ++i) destination[i] = source[i];
    destination[i] = 0;
    return destination;
}

PWSTR WINAPI StrStrIW(PCWSTR string, PCWSTR search) {
    if (string == nullptr || search == nullptr) return nullptr;
    auto fold = [](WCHAR c) { return (c >= L'A' && c <= L'Z') ? static_cast<WCHAR>(c + 32) : c; };
    if (*search == 0) return nullptr;
    for (const WCHAR* start = string; *start != 0; ++start) {
        const WCHAR* a = start;
        const WCHAR* b = search;
        while (*a != 0 && *b != 0 && fold(*a) == fold(*b)) ++a, ++b;
        if (*b == 0) return const_cast<PWSTR>(start);
    }
    return nullptr;
}

// ---- Shell ------------------------------------------------------------------------

BOOL WINAPI ShellExecuteExW(SHELLEXECUTEINFOW* info) {
    World& w = W();
    auto text = [](LPCWSTR s) { return s ? "\"" + Text(s) + "\"" : std::string("null"); };
    std::string head = "ShellExecuteExW cbSize=" + std::to_string(info->cbSize) + " fMask=" + Hex(info->fMask) +
                       " hwnd=" + (info->hwnd ? "set" : "null") + " verb=" + text(info->lpVerb) +
                       " file=" + text(info->lpFile) + " parameters=" + text(info->lpParameters) +
                       " directory=" + text(info->lpDirectory) + " show=" + std::to_string(info->nShow) +
                       " hInstApp=" + Hex(reinterpret_cast<uintptr_t>(info->hInstApp)) +
                       " idlist=" + (info->lpIDList ? "set" : "null") + " class=" + text(info->lpClass) +
                       " hkeyClass=" + (info->hkeyClass ? "set" : "null") + " hotkey=" + std::to_string(info->dwHotKey) +
                       " icon=" + (info->hIcon ? "set" : "null") + " hProcess=" + (info->hProcess ? "set" : "null");
    DWORD error;
    if (info->cbSize != sizeof(SHELLEXECUTEINFOW)) Error("ShellExecuteExW with cbSize %u", info->cbSize);
    if (ShouldFail("ShellExecuteExW", &error)) {
        info->hProcess = nullptr;
        info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(2));
        Current().lastError = error;
        Log("%s -> FALSE (injected)", head.c_str());
        AfterCall("ShellExecuteExW");
        return FALSE;
    }
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(42));
    std::string started;
    if (info->fMask & SEE_MASK_NOCLOSEPROCESS) {
        HandleRecord record;
        record.kind = HandleKind::Process;
        record.endsAt = w.now + w.childRunTime;
        uintptr_t handle = NewHandle(record);
        info->hProcess = reinterpret_cast<HANDLE>(handle);
        started = " hProcess=" + Hex(handle);
    }
    Log("%s -> TRUE%s", head.c_str(), started.c_str());
    AfterCall("ShellExecuteExW");
    return TRUE;
}

}  // extern "C"
