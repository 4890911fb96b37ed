// The simulated platform's core: the world, the journal, fault injection,
// handle bookkeeping and the cooperative scheduler with its virtual clock.

#include "world.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace winsim {

namespace {

World* world = nullptr;
std::mutex bigLock;
thread_local int currentThread = 0;

// A simulated process in which every thread waits for something that can
// never happen would hang for ever on Windows. The host process then ends
// with this code so that a test sees the hang instead of timing out.
constexpr int HANG_EXIT_CODE = 97;

void Emit(std::string line) {
    World& w = W();
    if (w.journalFd >= 0) {
        std::string out = line + "\n";
        ssize_t ignored = write(w.journalFd, out.data(), out.size());
        (void)ignored;
    }
    w.journal.push_back(std::move(line));
}

std::string Format(const char* format, va_list args) {
    char buffer[2048];
    vsnprintf(buffer, sizeof buffer, format, args);
    return buffer;
}

bool Runnable(const World& w, const ThreadRecord& t) {
    switch (t.wait) {
    case Wait::Ready:
        return true;
    case Wait::Messages:
        return !t.queue.empty() || t.quitPosted;
    case Wait::Until:
        return w.now >= t.until;
    default:
        return false;
    }
}

// The next thread to run: the first runnable one after `after` in id order,
// `after` itself last. Advances the virtual clock when none is runnable.
ThreadRecord* PickNext(World& w, int after) {
    for (;;) {
        int n = static_cast<int>(w.threads.size());
        for (int step = 1; step <= n; ++step) {
            ThreadRecord* t = w.threads[static_cast<size_t>((after + step) % n)];
            if (Runnable(w, *t)) return t;
        }
        uint64_t next = UINT64_MAX;
        for (const ThreadRecord* t : w.threads)
            if (t->wait == Wait::Until && t->until < next) next = t->until;
        for (const TimedPost& post : w.timedPosts)
            if (post.at < next) next = post.at;
        if (next == UINT64_MAX) return nullptr;
        if (next > w.now) w.now = next;
        Deliver(w.now);
    }
}

[[noreturn]] void Hang() {
    FinalReport(HANG_EXIT_CODE, "hang: every thread waits for ever");
    _exit(HANG_EXIT_CODE);
}

// Hands the baton to the next runnable thread; returns when `self` holds it
// again (never, for a finished thread).
void Switch(std::unique_lock<std::mutex>& lock, ThreadRecord& self) {
    World& w = W();
    ThreadRecord* next = PickNext(w, self.id);
    if (next == nullptr) Hang();
    w.running = next->id;
    if (next != &self) {
        next->turn.notify_one();
        if (self.wait == Wait::Finished) return;
        self.turn.wait(lock, [&] { return w.running == self.id; });
    }
    self.wait = Wait::Running;
}

}  // namespace

World& W() {
    if (world == nullptr) {
        world = new World();
        auto* main = new ThreadRecord();
        main->id = 0;
        main->wait = Wait::Running;
        world->threads.push_back(main);
    }
    return *world;
}

std::mutex& BigLock() { return bigLock; }

void Log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string line = Format(format, args);
    va_end(args);
    Emit(std::move(line));
}

void Error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string line = Format(format, args);
    va_end(args);
    W().errors.push_back(line);
    Emit("-- error: " + line);
}

bool ShouldFail(const char* function, DWORD* error) {
    World& w = W();
    unsigned nth = ++w.callCounts[function];
    ++w.failableCalls;
    *error = ERROR_GEN_FAILURE;
    auto byName = w.failCalls.find(function);
    if (byName != w.failCalls.end()) {
        auto hit = byName->second.find(nth);
        if (hit != byName->second.end()) {
            *error = hit->second;
            Emit(std::string("-- injected failure: ") + function + " call " + std::to_string(nth));
            return true;
        }
    }
    if (w.failNth == 0 || w.failNth != w.failableCalls) return false;
    Emit(std::string("-- injected failure: ") + function + " call " + std::to_string(nth));
    return true;
}

void Count(const char* function) { ++W().callCounts[function]; }

void AfterCall(const char* function) {
    World& w = W();
    auto byName = w.stalls.find(function);
    if (byName == w.stalls.end()) return;
    auto hit = byName->second.find(w.callCounts[function]);
    if (hit == byName->second.end()) return;
    DWORD ms = hit->second;
    Emit(std::string("-- thread stalls after ") + function + " for " + std::to_string(ms) + " ms");
    std::unique_lock<std::mutex> lock(bigLock);
    ThreadRecord& self = Current();
    self.wait = ms == 0 ? Wait::Ready : Wait::Until;
    self.until = w.now + ms;
    Switch(lock, self);
}

ThreadRecord& Current() { return *W().threads[static_cast<size_t>(currentThread)]; }

void Block(Wait wait, uint64_t until) {
    std::unique_lock<std::mutex> lock(bigLock);
    ThreadRecord& self = Current();
    self.wait = wait;
    self.until = until;
    Switch(lock, self);
}

int StartThread(LPTHREAD_START_ROUTINE routine, LPVOID parameter) {
    World& w = W();
    auto* t = new ThreadRecord();
    t->id = static_cast<int>(w.threads.size());
    t->wait = Wait::Ready;
    t->routine = routine;
    t->parameter = parameter;
    w.threads.push_back(t);
    std::thread([t] {
        {
            std::unique_lock<std::mutex> lock(bigLock);
            t->turn.wait(lock, [t] { return W().running == t->id; });
            currentThread = t->id;
            t->wait = Wait::Running;
        }
        DWORD code = t->routine(t->parameter);
        Log("-- thread %d returned %u", t->id, code);
        std::unique_lock<std::mutex> lock(bigLock);
        t->wait = Wait::Finished;
        Switch(lock, *t);
    }).detach();
    return t->id;
}

void FinalReport(UINT code, const char* how) {
    Log("-- exit %u (%s)", code, how);
    Log("-- outstanding %s", Outstanding().c_str());
    Log("-- clock %llu ms", static_cast<unsigned long long>(W().now));
    Log("-- failable calls %u", W().failableCalls);
}

void EndProcess(UINT code, const char* how) {
    FinalReport(code, how);
    fflush(stdout);
    fflush(stderr);
    _exit(static_cast<int>(code));
}

uintptr_t NewHandle(const HandleRecord& record) {
    World& w = W();
    uintptr_t value = w.nextHandle;
    w.nextHandle += 4;
    w.handles[value] = record;
    return value;
}

HandleRecord* FindHandle(HANDLE handle) {
    World& w = W();
    auto it = w.handles.find(reinterpret_cast<uintptr_t>(handle));
    return it == w.handles.end() ? nullptr : &it->second;
}

std::string Hex(uint64_t value) {
    char buffer[32];
    snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
    return buffer;
}

std::string Text(const std::u16string& text) { return Utf8(text); }
std::string Text(const WCHAR* text) { return text == nullptr ? "(null)" : Utf8(text); }

bool EqualNoCase(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// ---- Public control surface ---------------------------------------------------

void Reset() {
    World& w = W();
    std::vector<ThreadRecord*> threads = std::move(w.threads);
    int fd = w.journalFd;
    for (auto& [block, size] : w.heapBlocks) free(block);
    w = World();
    w.threads = std::move(threads);
    w.journalFd = fd;
    for (ThreadRecord* t : w.threads) {
        t->queue.clear();
        t->quitPosted = false;
        t->lastError = 0;
    }
}

const std::vector<std::string>& Journal() { return W().journal; }

std::vector<std::string> LinesOf(const std::vector<std::string>& journal, const std::string& names) {
    std::set<std::string> wanted;
    size_t start = 0;
    while (start < names.size()) {
        size_t end = names.find(' ', start);
        if (end == std::string::npos) end = names.size();
        if (end > start) wanted.insert(names.substr(start, end - start));
        start = end + 1;
    }
    std::vector<std::string> lines;
    for (const std::string& line : journal)
        if (wanted.count(line.substr(0, line.find(' '))) != 0) lines.push_back(line);
    return lines;
}

std::vector<std::string> JournalOf(const std::string& names) { return LinesOf(W().journal, names); }

void ClearJournal() { W().journal.clear(); }

void SetJournalFile(const std::string& path) {
    W().journalFd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
}

const std::vector<std::string>& Errors() { return W().errors; }

size_t LiveHeapBlocks() { return W().heapBlocks.size(); }

size_t OpenHandleCount(const char* kind) {
    static const struct { const char* name; HandleKind kind; } KINDS[] = {
        {"hid", HandleKind::Hid}, {"control", HandleKind::Control}, {"devinfo", HandleKind::DevInfo},
        {"process", HandleKind::Process}, {"thread", HandleKind::Thread},
    };
    for (const auto& k : KINDS) {
        if (strcmp(k.name, kind) != 0) continue;
        size_t n = 0;
        for (const auto& [value, record] : W().handles)
            if (record.open && record.kind == k.kind) ++n;
        return n;
    }
    return 0;
}

size_t LivePreparsedData() { return W().preparsed.size(); }

std::string Outstanding() {
    char buffer[256];
    snprintf(buffer, sizeof buffer, "heap=%zu hid=%zu preparsed=%zu devinfo=%zu control=%zu process=%zu thread=%zu",
             LiveHeapBlocks(), OpenHandleCount("hid"), LivePreparsedData(), OpenHandleCount("devinfo"),
             OpenHandleCount("control"), OpenHandleCount("process"), OpenHandleCount("thread"));
    return buffer;
}

void FailCall(const std::string& function, unsigned nth, DWORD error) { W().failCalls[function][nth] = error; }
void FailNthCall(unsigned nth) { W().failNth = nth; }
unsigned FailableCallCount() { return W().failableCalls; }
void StallAfter(const std::string& function, unsigned nth, DWORD milliseconds) { W().stalls[function][nth] = milliseconds; }

uint64_t Now() { return W().now; }

std::u16string Utf16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        uint32_t cp;
        size_t len;
        if (c < 0x80) { cp = c; len = 1; }
        else if ((c >> 5) == 6) { cp = c & 0x1F; len = 2; }
        else if ((c >> 4) == 14) { cp = c & 0x0F; len = 3; }
        else { cp = c & 0x07; len = 4; }
        for (size_t k = 1; k < len && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string Utf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size()) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::string Utf8(const WCHAR* text) {
    std::u16string s;
    if (text != nullptr)
        for (; *text != 0; ++text) s.push_back(static_cast<char16_t>(*text));
    return Utf8(s);
}

}  // namespace winsim
