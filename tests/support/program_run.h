#pragma once
// Runs a host build of one of the programs as a child process in a world
// described by a scenario (see winsim/src/scenario.cpp) and collects its
// exit code and journal.

#include <string>
#include <vector>

struct ProgramRun {
    int exitCode = -1;  // -1: killed after the time limit
    std::vector<std::string> journal;

    // Lines whose function name is one of `names` (space separated).
    std::vector<std::string> Of(const std::string& names) const;
    // The value of `key="..."` or `key=...` in each line of `function`.
    std::vector<std::string> Values(const std::string& function, const std::string& key) const;
    // The journal as one text, for failure messages.
    std::string Text() const;
    bool Has(const std::string& line) const;
};

ProgramRun RunProgram(const std::string& program, const std::string& scenario);

// Every way out of both programs: exit code 0, said so by the journal's
// closing lines, and no misuse of the platform (double close or free, write
// through a closed handle...) recorded on the way.
void ExpectCleanExit(const ProgramRun& run);
