// Every platform call of a whole run fails in turn, one per run: each run
// must still end with exit code 0, leave nothing behind that it should have
// released, never release anything twice or write through a closed handle,
// and do what that failure calls for.

#include "support/program_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string OTHER = "hid \\\\?\\hid#vid_845e&pid_0001#1&0 vid=845e pid=0001 page=1 usage=6\n";  // index 0
const std::string COL1 = "hid \\\\?\\hid#vid_1bcf&pid_05e3&col01#2&0 vid=1bcf pid=05e3 page=ff00 usage=1\n";  // index 1
const std::string COL2 = "hid \\\\?\\hid#vid_1bcf&pid_05e3&col02#2&1 vid=1bcf pid=05e3 page=ff00 usage=2\n";  // index 2

// What one injected failure is: the function, and where the run stood.
struct Fault {
    std::string function;
    int enumeration = 0;      // SetupDiGetClassDevsW calls so far (the probe it hit)
    std::string target;       // the interface or device a call was about, if any
    int index = -1;           // member index of a SetupDiEnumDeviceInterfaces call
    bool secondOpen = false;  // an installer probe reopening a collection read-only
};

int Failable(const ProgramRun& run) {
    for (const std::string& line : run.journal)
        if (line.rfind("-- failable calls ", 0) == 0) return atoi(line.c_str() + 18);
    return 0;
}

// Reads the injected failure and its context from the journal.
Fault FindFault(const ProgramRun& run) {
    Fault fault;
    std::string lastOpen;
    for (size_t i = 0; i < run.journal.size(); ++i) {
        const std::string& line = run.journal[i];
        if (line.rfind("SetupDiGetClassDevsW", 0) == 0) ++fault.enumeration;
        if (line.rfind("CreateFileW ", 0) == 0 && line.find("\\\\?\\hid#") != std::string::npos) lastOpen = line;
        if (line.rfind("-- injected failure: ", 0) != 0) continue;
        fault.function = line.substr(21, line.find(' ', 21) - 21);
        const std::string next = i + 1 < run.journal.size() ? run.journal[i + 1] : "";
        if (fault.function == "SetupDiEnumDeviceInterfaces") fault.index = atoi(next.c_str() + next.find("index=") + 6);
        const std::string& about = fault.function == "CreateFileW" ? next : lastOpen;
        if (about.find("col01") != std::string::npos) fault.target = "col01";
        if (about.find("col02") != std::string::npos) fault.target = "col02";
        if (about.find("hidfiltr") != std::string::npos) fault.target = "hidfiltr";
        if (about.find("moufiltr") != std::string::npos) fault.target = "moufiltr";
        fault.secondOpen = about.find("access=0x80000000 share=0x1") != std::string::npos;
        return fault;
    }
    return fault;
}

bool IsOneOf(const std::string& name, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (name == n) return true;
    return false;
}

std::string Outstanding(const ProgramRun& run) {
    for (const std::string& line : run.journal)
        if (line.rfind("-- outstanding ", 0) == 0) return line.substr(15);
    return "";
}

unsigned sweptPoints = 0;

// ---- Installer ------------------------------------------------------------------

enum class Outcome { Baseline, Blind, NoFolder, NoWindow, MissingLaunch };

struct InstallerRun {
    const char* mode;
    std::string world;
    bool deviceSeen;  // the count probe finds the device when nothing fails
};

// What the failure does to the probes and the sequence.
Outcome InstallerOutcome(const Fault& f) {
    if (IsOneOf(f.function, {"RegisterClassExW", "CreateWindowExW"})) return Outcome::NoWindow;
    if (f.function == "GetModuleFileNameW") return Outcome::NoFolder;
    if (f.function == "ShellExecuteExW") return Outcome::MissingLaunch;
    if (f.function == "CreateThread") return Outcome::Baseline;  // the worker runs on the main thread
    const bool countProbe = f.enumeration == 1;
    // The enumeration fails as a whole.
    if (IsOneOf(f.function, {"SetupDiGetClassDevsW", "SetupDiGetDeviceInterfaceDetailW", "HeapAlloc"}))
        return Outcome::Blind;
    // An unreadable member is an empty slot that ends the walk there.
    if (f.function == "SetupDiEnumDeviceInterfaces")
        return countProbe && f.index <= 1 ? Outcome::Blind : Outcome::Baseline;
    // A collection that cannot be opened or queried is passed over, except
    // that a failed read-only reopen, at any of its steps, counts as "held
    // by another program".
    if (IsOneOf(f.function, {"CreateFileW", "HidD_GetPreparsedData", "HidD_GetAttributes", "HidP_GetCaps"})) {
        if (f.secondOpen) return Outcome::Blind;
        return countProbe && f.target == "col01" ? Outcome::Blind : Outcome::Baseline;
    }
    return Outcome::Baseline;
}

std::vector<std::string> Commands(const ProgramRun& run) { return run.Values("ShellExecuteExW", "parameters"); }

void SweepInstaller(const InstallerRun& setup) {
    const std::string scenario = "string 103 Tolvane\nstring 109 TOLVANE\nmodule_path C:\\Kit\\Tolvane.exe\n"
                                 "command_line Tolvane.exe " + std::string(setup.mode) + "\n" + setup.world;
    const ProgramRun baseline = RunProgram(TOLVANE_PATH, scenario);
    ExpectCleanExit(baseline);
    const std::vector<std::string> all = Commands(baseline);
    // What the mode does when the device is not seen (or taken to be held).
    std::vector<std::string> blind;
    if (std::string(setup.mode).empty()) {
        blind = setup.deviceSeen ? RunProgram(TOLVANE_PATH, "string 103 Tolvane\nstring 109 TOLVANE\nmodule_path C:\\Kit\\Tolvane.exe\ncommand_line Tolvane.exe\n").Values("ShellExecuteExW", "parameters") : all;
    }
    const int points = Failable(baseline);
    ASSERT_GT(points, 10);
    for (int nth = 1; nth <= points; ++nth) {
        ProgramRun run = RunProgram(TOLVANE_PATH, scenario + "fail_nth_call " + std::to_string(nth) + "\n");
        ++sweptPoints;
        const Fault fault = FindFault(run);
        SCOPED_TRACE(std::string(setup.mode) + " fault " + std::to_string(nth) + ": " + fault.function);
        ExpectCleanExit(run);
        // The probes release everything they took, whatever failed.
        EXPECT_EQ(Outstanding(run).substr(0, 35), "heap=0 hid=0 preparsed=0 devinfo=0 ") << run.Text();
        std::vector<std::string> expected;
        switch (InstallerOutcome(fault)) {
        case Outcome::Baseline: expected = all; break;
        case Outcome::Blind: expected = blind; break;
        case Outcome::NoFolder:
        case Outcome::NoWindow: break;
        case Outcome::MissingLaunch: expected = all; break;  // the failed launch is still attempted
        }
        EXPECT_EQ(Commands(run), expected) << run.Text();
        if (InstallerOutcome(fault) == Outcome::MissingLaunch) {
            EXPECT_TRUE(run.Has("WaitForSingleObject 0x0 INFINITE -> WAIT_FAILED") ||
                        run.Of("WaitForSingleObject").size() == all.size())
                << run.Text();
        }
    }
}

TEST(FaultSweep, InstallerInEveryMode) {
    const InstallerRun runs[] = {
        {"", OTHER, false},                          // install: no device, installs
        {"", OTHER + COL1 + COL2, true},             // install: device present, nothing to do
        {"/Uninstall", OTHER + COL1 + COL2, true},
        {"/SmartUninstall", OTHER + COL1 + COL2, true},
    };
    for (const InstallerRun& run : runs) SweepInstaller(run);
}

// ---- Daemon ----------------------------------------------------------------------

TEST(FaultSweep, DaemonFromStartToShutdown) {
    const std::string scenario = "string 103 Wirrelkin\nstring 109 WIRRELKIN\ncommand_line Wirrelkin.exe 2a04b2\n" + OTHER +
                                 COL2 + COL1 +
                                 "foreign_window 0x2a04b2 lifetime_ms=2500\n"
                                 "control_device \\\\.\\hidfiltr_XT2B4F\ncontrol_device \\\\.\\moufiltr_XT2B4F\n";
    const ProgramRun baseline = RunProgram(WIRRELKIN_PATH, scenario);
    ExpectCleanExit(baseline);
    ASSERT_EQ(baseline.Of("WriteFile").size(), 2u);
    const int points = Failable(baseline);
    ASSERT_GT(points, 10);
    for (int nth = 1; nth <= points; ++nth) {
        ProgramRun run = RunProgram(WIRRELKIN_PATH, scenario + "fail_nth_call " + std::to_string(nth) + "\n");
        ++sweptPoints;
        const Fault f = FindFault(run);
        SCOPED_TRACE("fault " + std::to_string(nth) + ": " + f.function + " " + f.target);
        ExpectCleanExit(run);
        EXPECT_EQ(Outstanding(run).substr(0, 7), "heap=0 ") << run.Text();

        const bool noWindow = IsOneOf(f.function, {"RegisterClassExW", "CreateWindowExW"});
        // Binding fails as a whole, or collection 1 is passed over: nothing is bound.
        const bool unbound = IsOneOf(f.function, {"SetupDiGetClassDevsW", "SetupDiGetDeviceInterfaceDetailW", "HeapAlloc"}) ||
                             (f.function == "SetupDiEnumDeviceInterfaces" && f.index <= 2) ||
                             (IsOneOf(f.function, {"CreateFileW", "HidD_GetPreparsedData", "HidD_GetAttributes", "HidP_GetCaps"}) &&
                              f.target == "col01");
        if (noWindow) {
            EXPECT_TRUE(run.Of("PostMessageW DeviceIoControl WriteFile").empty()) << run.Text();
            EXPECT_TRUE(run.Has("-- exit 0 (entry returned, runtime exit)"));
            EXPECT_EQ(Outstanding(run).substr(0, 24), "heap=0 hid=0 preparsed=0") << "the runtime's exit closes the device";
            continue;
        }
        EXPECT_TRUE(run.Has("ExitProcess 0")) << run.Text();
        std::vector<std::string> codes;
        for (const std::string& line : run.Of("DeviceIoControl")) codes.push_back(line.substr(line.find("code=") + 5, 8));
        std::vector<std::string> expectedCodes;
        if (!(f.function == "CreateFileW" && f.target == "hidfiltr")) expectedCodes.push_back("0x222118");
        if (!(f.function == "CreateFileW" && f.target == "moufiltr")) expectedCodes.push_back("0x222114");
        EXPECT_EQ(codes, expectedCodes) << run.Text();
        EXPECT_EQ(run.Of("WriteFile").size(), unbound ? 0u : 2u) << run.Text();
        EXPECT_EQ(run.Of("PostMessageW").size(), 1u);
    }
}

class SweepReport : public ::testing::Environment {
public:
    void TearDown() override {
        if (sweptPoints != 0) printf("fault points swept: %u\n", sweptPoints);
    }
};
const auto* const report = ::testing::AddGlobalTestEnvironment(new SweepReport);

}  // namespace
