#pragma once
// Internal state of the simulated platform. One world per process; every
// simulated call runs while its thread holds the baton of the cooperative
// scheduler, so the state needs no further locking and every run of the
// same scenario makes the same calls in the same order.

#include <winsim/winsim.h>
#include <setupapi.h>
#include <hidsdi.h>
#include <shellapi.h>

#include <condition_variable>
#include <cstdarg>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace winsim {

enum class HandleKind { Hid, Control, DevInfo, Process, Thread };

struct HandleRecord {
    HandleKind kind = HandleKind::Hid;
    bool open = true;
    size_t hidIndex = 0;        // Hid
    DWORD access = 0;           // Hid, Control
    DWORD shareMode = 0;
    std::u16string name;        // Control
    uint64_t endsAt = 0;        // Process: virtual time at which it ends
    int threadId = 0;           // Thread
};

struct HidRecord {
    HidInterface hid;
    struct Held { DWORD access; DWORD shareMode; };
    std::vector<Held> foreignHandles;
};

struct EnumFault {
    DWORD index;
    DWORD error;
    bool andAllAfter;
};

struct WindowClassRecord {
    std::u16string name;
    WNDCLASSEXW record;
};

struct WindowRecord {
    bool alive = true;
    bool foreign = false;
    bool visible = false;
    int ownerThread = 0;
    WNDPROC proc = nullptr;
    std::u16string className;
    // Foreign windows only:
    uint64_t diesAt = UINT64_MAX;
    unsigned testsLeft = 0;  // 0: not limited by tests
};

struct TimedPost {
    uint64_t at;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

enum class Wait { Running, Ready, Messages, Until, Forever, Finished };

struct ThreadRecord {
    int id = 0;
    Wait wait = Wait::Ready;
    uint64_t until = 0;
    std::deque<MSG> queue;
    bool quitPosted = false;
    int quitCode = 0;
    std::condition_variable turn;
    DWORD lastError = 0;
    LPTHREAD_START_ROUTINE routine = nullptr;
    LPVOID parameter = nullptr;
};

struct World {
    // Journal and bookkeeping
    std::vector<std::string> journal;
    std::vector<std::string> errors;
    int journalFd = -1;
    std::map<void*, SIZE_T> heapBlocks;
    std::set<void*> freedBlocks;
    std::map<uintptr_t, HandleRecord> handles;
    uintptr_t nextHandle = 0x100;
    std::set<uintptr_t> preparsed;       // live preparsed data, by fake address
    std::set<uintptr_t> freedPreparsed;
    uintptr_t nextPreparsed = 0x7000;

    // Faults
    std::map<std::string, std::map<unsigned, DWORD>> failCalls;  // name -> nth -> error
    std::map<std::string, unsigned> callCounts;
    unsigned failNth = 0;
    unsigned failableCalls = 0;
    std::map<std::string, std::map<unsigned, DWORD>> stalls;  // name -> nth -> ms

    // HID
    std::vector<HidRecord> hids;
    bool failDeviceInfoSet = false;
    std::vector<EnumFault> enumFaults;
    std::map<DWORD, DWORD> detailSizes;
    std::set<DWORD> detailReadFailures;

    std::vector<std::u16string> controlDevices;

    // Process
    std::u16string commandLine = u"program.exe";
    std::vector<WCHAR> commandLineBuffer;
    std::u16string modulePath = u"C:\\Program Files\\Zelph\\program.exe";
    bool terminateWhenCut = true;
    DWORD childRunTime = 100;
    uint64_t now = 0;

    // Scheduler
    std::vector<ThreadRecord*> threads;  // owned; index == id
    int running = 0;

    // Windows and resources
    std::map<UINT, std::u16string> strings;
    bool acceleratorTable = true;
    bool failWindowCreation = false;
    int dialogAnswer = IDOK;
    std::vector<WindowClassRecord> classes;
    std::map<uintptr_t, WindowRecord> windows;
    uintptr_t nextWindow = 0x10010;
    HWND mainWindow = nullptr;
    std::vector<TimedPost> timedPosts;
    std::vector<HWND> dialogStack;

    // Screen
    int screen[4] = {0, 0, 1024, 768};
};

World& W();
std::mutex& BigLock();

// Journal a call: printf-style text after the function name.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Error(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Counts the call and answers whether it is to fail; *error gets the error.
bool ShouldFail(const char* function, DWORD* error);
// Counts a call that cannot fail (for preemption points).
void Count(const char* function);
// Gives way to other threads if the scenario asked for it after this call.
void AfterCall(const char* function);

ThreadRecord& Current();
// Blocks the calling thread until its wait condition holds.
void Block(Wait wait, uint64_t until = 0);
int StartThread(LPTHREAD_START_ROUTINE routine, LPVOID parameter);
// Ends the simulated process: final report, then the host process exits.
[[noreturn]] void EndProcess(UINT code, const char* how);
void FinalReport(UINT code, const char* how);

uintptr_t NewHandle(const HandleRecord& record);
HandleRecord* FindHandle(HANDLE handle);  // null if unknown
std::string Hex(uint64_t value);
std::string Text(const WCHAR* text);          // UTF-8, "(null)" for null
std::string Text(const std::u16string& text);
bool EqualNoCase(const std::u16string& a, const std::u16string& b);
void Deliver(uint64_t now);  // fire timed events up to `now`
int MessageThreadOf(HWND window);

}  // namespace winsim
