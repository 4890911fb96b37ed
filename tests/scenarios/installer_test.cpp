// The installer as a whole program in simulated worlds: which probes run,
// which command lines reach "cmd" in which order and folder, and that it
// always ends with exit code 0.

#include "support/program_run.h"

#include <gtest/gtest.h>
#include <shellapi.h>

namespace {

const char* const INSTALL[] = {
    "/c devcon.exe install ZelphHid_0.inf \"{8FBC4165-480D-4230-B1DF-7B86F3E5A3CC}\\HID_DEVICE\"",
    "/c DIFxCmd.exe /i ZelphMouFiltr_0.inf",
};
const char* const UNINSTALL[] = {
    "/c DIFxCmd.exe /u ZelphMouFiltr_0.inf 2.DRIVER_PACKAGE_SILENT 4.DRIVER_PACKAGE_FORCE 32.DRIVER_PACKAGE_DELETE_FILES",
    "/c devcon.exe remove \"HID\\Vid_1bcf&Pid_05e3&Col04\"",
    "/c DIFxCmd.exe /u ZelphHid_0.inf 2.DRIVER_PACKAGE_SILENT 4.DRIVER_PACKAGE_FORCE 32.DRIVER_PACKAGE_DELETE_FILES",
    "/c devcon.exe remove \"{8FBC4165-480D-4230-B1DF-7B86F3E5A3CC}\\HID_DEVICE\"",
};
const std::vector<std::string> NONE;
const std::vector<std::string> INSTALLS(std::begin(INSTALL), std::end(INSTALL));
const std::vector<std::string> UNINSTALLS(std::begin(UNINSTALL), std::end(UNINSTALL));

// The program's resources and place, as every scenario has them.
const std::string PROGRAM =
    "string 103 Tolvane\n"
    "string 109 TOLVANE\n"
    "module_path C:\\Kit\\Tolvane.exe\n";

// Interfaces of a machine: Wine's own HID device and the virtual device's two vendor collections.
const std::string OTHER_DEVICE = "hid \\\\?\\hid#vid_845e&pid_0001#1&0&0 vid=845e pid=0001 page=1 usage=6\n";
const std::string COLLECTION_1 = "hid \\\\?\\hid#vid_1bcf&pid_05e3&col01#2&0&0 vid=1bcf pid=05e3 page=ff00 usage=1\n";
const std::string COLLECTION_2 = "hid \\\\?\\hid#vid_1bcf&pid_05e3&col02#2&0&1 vid=1bcf pid=05e3 page=ff00 usage=2\n";
const std::string DEVICE = OTHER_DEVICE + COLLECTION_1 + COLLECTION_2;

std::string Tolvane() { return TOLVANE_PATH; }

ProgramRun RunInstaller(const std::string& tail, const std::string& world) {
    return RunProgram(Tolvane(), PROGRAM + "command_line C:\\Kit\\Tolvane.exe" + (tail.empty() ? "" : " " + tail) + "\n" + world);
}

TEST(Installer, ModeAndDeviceDecideWhichCommandsRun) {
    const struct {
        const char* what;
        std::string tail;
        std::string world;
        const std::vector<std::string>& commands;
        int enumerations;  // probes run: 1 for the count, 2 with the availability test
    } cases[] = {
        {"install, no device", "", OTHER_DEVICE, INSTALLS, 1},
        {"install, device present", "", DEVICE, NONE, 1},
        {"install, enumeration fails", "", DEVICE + "fail_device_info_set\n", INSTALLS, 1},
        {"install, only collection 2", "", OTHER_DEVICE + COLLECTION_2, INSTALLS, 1},
        {"install, empty slot before the device", "", OTHER_DEVICE + DEVICE + "fail_interface_data 0 31\n", INSTALLS, 1},
        {"install, identity differs from the path",
         "", "hid \\\\?\\hid#vid_1bcf&pid_05e3&col01#2&0&0 vid=1bcf pid=05e3 page=1 usage=1\n", INSTALLS, 1},
        {"install, collection cannot be opened", "", "hid \\\\?\\hid#vid_1bcf&pid_05e3&col01#2 vid=1bcf pid=05e3 page=ff00 usage=1 open_fails\n", INSTALLS, 1},
        {"\"/Uninstall \" installs", "/Uninstall ", DEVICE, NONE, 1},
        {"\"-Uninstall\" installs", "-Uninstall", OTHER_DEVICE, INSTALLS, 1},
        {"\"/Uninstall x\" installs", "/Uninstall x", OTHER_DEVICE, INSTALLS, 1},
        {"uninstall, device present", "/Uninstall", DEVICE, UNINSTALLS, 1},
        {"uninstall in capitals", "/UNINSTALL", DEVICE, UNINSTALLS, 1},
        {"uninstall in small letters", "/uninstall", DEVICE, UNINSTALLS, 1},
        {"uninstall, two devices", "/Uninstall",
         DEVICE + "hid \\\\?\\hid#vid_1bcf&pid_05e3&col01#3&0&0 vid=1bcf pid=05e3 page=ff00 usage=1\n", UNINSTALLS, 1},
        {"uninstall, no device", "/Uninstall", OTHER_DEVICE, NONE, 1},
        {"uninstall, enumeration fails", "/Uninstall", DEVICE + "fail_device_info_set\n", NONE, 1},
        {"smart uninstall, collections free", "/SmartUninstall", DEVICE, UNINSTALLS, 2},
        {"smart uninstall in small letters", "/smartuninstall", DEVICE, UNINSTALLS, 2},
        {"smart uninstall, another program only reads", "/SmartUninstall",
         OTHER_DEVICE + COLLECTION_1.substr(0, COLLECTION_1.size() - 1) + " held=0x80000000/3\n" + COLLECTION_2, UNINSTALLS, 2},
        {"smart uninstall, collection 1 held for writing", "/SmartUninstall",
         OTHER_DEVICE + COLLECTION_1.substr(0, COLLECTION_1.size() - 1) + " held=0xC0000000/3\n" + COLLECTION_2, NONE, 2},
        {"smart uninstall, collection 2 held for writing", "/SmartUninstall",
         OTHER_DEVICE + COLLECTION_1 + COLLECTION_2.substr(0, COLLECTION_2.size() - 1) + " held=0x40000000/3\n", NONE, 2},
        {"smart uninstall, no device", "/SmartUninstall", OTHER_DEVICE, NONE, 1},
        {"smart uninstall, enumeration fails", "/SmartUninstall", DEVICE + "fail_device_info_set\n", NONE, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramRun run = RunInstaller(c.tail, c.world);
        ExpectCleanExit(run);
        EXPECT_EQ(run.Values("ShellExecuteExW", "parameters"), c.commands) << run.Text();
        EXPECT_EQ(run.Of("SetupDiGetClassDevsW").size(), static_cast<size_t>(c.enumerations));
        // Other devices' interfaces are never opened.
        for (const std::string& line : run.Of("CreateFileW")) EXPECT_EQ(line.find("vid_845e"), std::string::npos) << line;
    }
}

TEST(Installer, EachCommandStartsInTheProgramFolderAfterThePreviousEnded) {
    ProgramRun run = RunInstaller("/Uninstall", DEVICE + "child_run_time 2500\n");
    ExpectCleanExit(run);
    std::vector<std::string> sequence;
    for (const std::string& line : run.Of("ShellExecuteExW WaitForSingleObject"))
        sequence.push_back(line.substr(0, line.find(' ')));
    EXPECT_EQ(sequence, (std::vector<std::string>{"ShellExecuteExW", "WaitForSingleObject", "ShellExecuteExW",
                                                  "WaitForSingleObject", "ShellExecuteExW", "WaitForSingleObject",
                                                  "ShellExecuteExW", "WaitForSingleObject"}));
    EXPECT_TRUE(run.Has("-- WaitForSingleObject -> WAIT_OBJECT_0 at 10000 ms")) << run.Text();
    EXPECT_EQ(run.Values("ShellExecuteExW", "directory"), std::vector<std::string>(4, "C:\\Kit\\"));
    // The whole launch record, as the first launch sees it; its process is the one waited for.
    const std::string firstWait = run.Of("WaitForSingleObject")[0];
    const std::string waited = firstWait.substr(20, firstWait.find(' ', 20) - 20);
    EXPECT_EQ(run.Of("ShellExecuteExW")[0],
              "ShellExecuteExW cbSize=" + std::to_string(sizeof(SHELLEXECUTEINFOW)) +
                  " fMask=0x40 hwnd=null verb=\"open\" file=\"cmd\" parameters=\"" + UNINSTALL[0] +
                  "\" directory=\"C:\\Kit\\\" show=0 hInstApp=0x0 idlist=null class=null hkeyClass=null hotkey=0 "
                  "icon=null hProcess=null -> TRUE hProcess=" + waited);
}

TEST(Installer, CommandLineTailDecidesTheMode) {
    const struct {
        const char* commandLine;
        const std::vector<std::string>& commands;
    } cases[] = {
        {"\"C:\\Program Files\\Kit\\Tolvane.exe\"  /SmartUninstall", UNINSTALLS},
        {"Tolvane.exe \t/Uninstall", UNINSTALLS},
        {"\"C:\\Kit\\Tol vane.exe\"/Uninstall", NONE},  // the quote does not end the name: tail is empty
        {"Tolvane.exe", NONE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commandLine);
        ProgramRun run = RunProgram(Tolvane(), PROGRAM + "command_line " + c.commandLine + "\n" + DEVICE);
        ExpectCleanExit(run);
        EXPECT_EQ(run.Values("ShellExecuteExW", "parameters"), c.commands);
    }
}

TEST(Installer, FailedLaunchDoesNotStopTheSequence) {
    ProgramRun run = RunInstaller("", OTHER_DEVICE + "fail ShellExecuteExW 1\n");
    ExpectCleanExit(run);
    EXPECT_EQ(run.Values("ShellExecuteExW", "parameters"), INSTALLS);
    EXPECT_TRUE(run.Has("WaitForSingleObject 0x0 INFINITE -> WAIT_FAILED")) << run.Text();
}

// The folder is read from a program path that must fit its buffer; a cut
// path would start the tools somewhere else.
TEST(Installer, ProgramPathThatDoesNotFitStartsNoTool) {
    const std::string folder = "C:\\" + std::string(250, 'k') + "\\";
    const struct {
        std::string setting;
        const std::vector<std::string>& commands;
    } cases[] = {
        {"module_path " + folder + "Tolvane.exe", NONE},                           // 254 + 11 units
        {"module_path_unterminated " + folder + "Tolvane.exe", NONE},              // and not terminated
        {"module_path " + folder + std::string(259 - folder.size(), 'x'), INSTALLS},  // 259 units fit
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting.substr(0, 30));
        ProgramRun run = RunProgram(Tolvane(), PROGRAM + "command_line Tolvane.exe\n" + OTHER_DEVICE + c.setting + "\n");
        ExpectCleanExit(run);
        EXPECT_EQ(run.Values("ShellExecuteExW", "parameters"), c.commands);
        if (!c.commands.empty()) {
            EXPECT_EQ(run.Values("ShellExecuteExW", "directory")[0], folder);
        }
    }
}

TEST(Installer, NoWindowMeansNoWorkAndExitCodeZero) {
    ProgramRun run = RunInstaller("", OTHER_DEVICE + "fail_window_creation\n");
    ExpectCleanExit(run);
    EXPECT_TRUE(run.Of("CreateThread SetupDiGetClassDevsW ShellExecuteExW GetMessageW").empty()) << run.Text();
    EXPECT_TRUE(run.Has("-- entry returned 0"));
}

// Without its worker thread the program would sit invisible in its message
// loop for ever; the job runs on the main thread instead.
TEST(Installer, WorkerThatCannotStartRunsOnTheMainThread) {
    ProgramRun run = RunInstaller("", OTHER_DEVICE + "fail CreateThread 1\n");
    ExpectCleanExit(run);
    EXPECT_EQ(run.Values("ShellExecuteExW", "parameters"), INSTALLS);
    EXPECT_TRUE(run.Of("GetMessageW").empty());
}

TEST(Installer, CloseRequestWhileAToolRunsEndsAtOnceWithoutFurtherCommands) {
    const char* requests[] = {"post_at 150 WM_CLOSE", "post_at 150 WM_COMMAND 105", "post_at 150 WM_COMMAND 0x10069"};
    for (const char* request : requests) {
        SCOPED_TRACE(request);
        ProgramRun run = RunInstaller("", OTHER_DEVICE + "child_run_time 1000\n" + request + "\n");
        ExpectCleanExit(run);
        EXPECT_EQ(run.Values("ShellExecuteExW", "parameters"), std::vector<std::string>{INSTALL[0]});
        EXPECT_TRUE(run.Has("-- exit 0 (entry returned, runtime exit)")) << run.Text();
        EXPECT_TRUE(run.Has("PostQuitMessage 0"));
    }
}

TEST(Installer, AboutBoxOpensFromMenuAndAcceleratorWithoutEndingTheProgram) {
    const char* requests[] = {"post_at 50 WM_COMMAND 104", "post_at 50 WM_COMMAND 0x10068", "post_at 50 WM_SYSCHAR 0x3f",
                              "post_at 50 WM_SYSCHAR 0x2f"};
    for (const char* request : requests) {
        SCOPED_TRACE(request);
        ProgramRun run = RunInstaller("", OTHER_DEVICE + "child_run_time 100\n" + request + "\n");
        ExpectCleanExit(run);
        EXPECT_EQ(run.Of("DialogBoxParamW").size(), 1u) << run.Text();
        EXPECT_TRUE(run.Has("DialogBoxParamW instance 103 owner=0x10010 param=0x0")) << run.Text();
        EXPECT_EQ(run.Values("ShellExecuteExW", "parameters"), INSTALLS);
    }
}

TEST(Installer, UnknownCommandGoesToTheDefaultProcedure) {
    ProgramRun run = RunInstaller("", OTHER_DEVICE + "child_run_time 100\npost_at 50 WM_COMMAND 106\n");
    ExpectCleanExit(run);
    EXPECT_TRUE(run.Has("DefWindowProcW 0x10010 WM_COMMAND wParam=0x6a lParam=0x0")) << run.Text();
    EXPECT_EQ(run.Values("ShellExecuteExW", "parameters"), INSTALLS);
}

// The shell's sequence up to the message loop, as a program sees it.
TEST(Installer, ShellCreatesTheHiddenWindowBeforeTheWorkerStarts) {
    ProgramRun run = RunInstaller("", OTHER_DEVICE);
    std::vector<std::string> start(run.journal.begin(), run.journal.begin() + 12);
    EXPECT_EQ(start, (std::vector<std::string>{
                         "GetCommandLineW -> C:\\Kit\\Tolvane.exe",
                         "LoadStringW 103 max=100 -> 7 \"Tolvane\"",
                         "LoadStringW 109 max=100 -> 7 \"TOLVANE\"",
                         "LoadIconW instance 107 -> icon",
                         "LoadCursorW null 32512 -> cursor",
                         "LoadIconW instance 108 -> icon",
                         "RegisterClassExW cbSize=" + std::to_string(sizeof(WNDCLASSEXW)) +
                             " style=0x3 proc=set clsExtra=0 wndExtra=0 instance=set icon=107 cursor=arrow "
                             "background=0x6 menu=109 class=\"TOLVANE\" smallIcon=108 -> atom",
                         "CreateWindowExW ex=0x0 class=\"TOLVANE\" title=\"Tolvane\" style=0xcf0000 x=CW_USEDEFAULT y=0 "
                         "width=CW_USEDEFAULT height=0 parent=null menu=null instance=set param=null -> 0x10010",
                         "ShowWindow 0x10010 0 -> FALSE",
                         "UpdateWindow 0x10010 -> TRUE",
                         "CreateThread stack=0 parameter=null flags=0x0 id=null -> 0x100 (thread 1)",
                         "LoadAcceleratorsW 109 -> table",
                     }))
        << run.Text();
}

}  // namespace
