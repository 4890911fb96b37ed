#include "support/program_run.h"

#include <gtest/gtest.h>
#include <winsim/winsim.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

std::vector<std::string> ProgramRun::Of(const std::string& names) const { return winsim::LinesOf(journal, names); }

void ExpectCleanExit(const ProgramRun& run) {
    EXPECT_EQ(run.exitCode, 0) << run.Text();
    EXPECT_TRUE(run.Has("-- exit 0 (ExitProcess)") || run.Has("-- exit 0 (entry returned, runtime exit)")) << run.Text();
    for (const std::string& line : run.journal) EXPECT_EQ(line.rfind("-- error", 0), std::string::npos) << line;
}

std::vector<std::string> ProgramRun::Values(const std::string& function, const std::string& key) const {
    std::vector<std::string> values;
    for (const std::string& line : Of(function)) {
        size_t at = line.find(" " + key + "=");
        if (at == std::string::npos) continue;
        at += key.size() + 2;
        if (line[at] == '"') {
            // A quoted value ends at the quote followed by " key=" or the end.
            size_t end = at + 1;
            for (; end < line.size(); ++end) {
                if (line[end] != '"') continue;
                if (end + 1 == line.size()) break;
                if (line[end + 1] != ' ') continue;
                size_t next = line.find(' ', end + 2);
                std::string token = line.substr(end + 2, next == std::string::npos ? std::string::npos : next - end - 2);
                size_t eq = token.find('=');
                if (eq != std::string::npos && eq > 0 && isalpha(static_cast<unsigned char>(token[0]))) break;
            }
            values.push_back(line.substr(at + 1, end - at - 1));
        } else {
            values.push_back(line.substr(at, line.find(' ', at) - at));
        }
    }
    return values;
}

std::string ProgramRun::Text() const {
    std::string text;
    for (const std::string& line : journal) text += line + "\n";
    return text;
}

bool ProgramRun::Has(const std::string& line) const {
    for (const std::string& l : journal)
        if (l == line) return true;
    return false;
}

ProgramRun RunProgram(const std::string& program, const std::string& scenario) {
    char dir[] = "/tmp/winsim-run-XXXXXX";
    ProgramRun run;
    if (mkdtemp(dir) == nullptr) return run;
    const std::string scenarioPath = std::string(dir) + "/scenario";
    const std::string journalPath = std::string(dir) + "/journal";
    std::ofstream(scenarioPath) << scenario;

    std::vector<std::string> variables = {"WINSIM_SCENARIO=" + scenarioPath, "WINSIM_JOURNAL=" + journalPath};
    for (char** e = environ; *e != nullptr; ++e)
        if (std::string(*e).rfind("WINSIM_", 0) != 0) variables.push_back(*e);
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    std::string path = program;
    char* argv[] = {path.data(), nullptr};

    pid_t pid;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()) == 0) {
        // Virtual time makes every run quick; a run that takes seconds hangs.
        int status = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    }
    std::ifstream journal(journalPath);
    for (std::string line; std::getline(journal, line);) run.journal.push_back(line);
    remove(scenarioPath.c_str());
    remove(journalPath.c_str());
    rmdir(dir);
    return run;
}
