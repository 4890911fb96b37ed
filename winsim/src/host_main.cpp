// Process entry of a host program: loads the world that the scenario file
// names before any of the program's own static objects are constructed,
// then calls the program's wWinMain as the C runtime of Windows would.
//
//   WINSIM_SCENARIO  scenario file (see scenario.cpp)
//   WINSIM_JOURNAL   file that receives the journal line by line

#include "world.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);

namespace {

const HINSTANCE MODULE_INSTANCE = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
UINT entryResult = 0;
bool entryReturned = false;

void ReportAtExit() {
    if (entryReturned) winsim::FinalReport(entryResult, "entry returned, runtime exit");
}

// Priority 101 runs before every constructor of default priority, so the
// world is in place when the programs' own static objects use it.
__attribute__((constructor(101))) void LoadWorld() {
    if (const char* journal = getenv("WINSIM_JOURNAL")) winsim::SetJournalFile(journal);
    if (const char* scenario = getenv("WINSIM_SCENARIO")) {
        if (!winsim::LoadScenario(scenario)) _exit(2);
    }
    atexit(ReportAtExit);
}

// The tail the C runtime would pass: after the program name and its blanks.
LPWSTR RuntimeTail(LPWSTR line) {
    bool quoted = false;
    while (*line != 0 && (quoted || *line > L' ')) {
        if (*line == L'"') quoted = !quoted;
        ++line;
    }
    while (*line != 0 && *line <= L' ') ++line;
    return line;
}

}  // namespace

int main() {
    winsim::World& w = winsim::W();
    if (w.commandLineBuffer.empty()) {
        for (char16_t c : w.commandLine) w.commandLineBuffer.push_back(static_cast<WCHAR>(c));
        w.commandLineBuffer.push_back(0);
    }
    int result = wWinMain(MODULE_INSTANCE, nullptr, RuntimeTail(w.commandLineBuffer.data()), SW_SHOWDEFAULT);
    winsim::Log("-- entry returned %d", result);
    entryResult = static_cast<UINT>(result);
    entryReturned = true;
    exit(result);
}
