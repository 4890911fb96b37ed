// The daemon as a whole program in simulated worlds: which collection it
// binds, how it reads its command line, its announcement and polling on the
// virtual clock, the shutdown sequence byte by byte, and its two ways out.

#include "support/program_run.h"

#include <gtest/gtest.h>

namespace {

const std::string PROGRAM =
    "string 103 Wirrelkin\n"
    "string 109 WIRRELKIN\n";
const std::string CONTROLLER = "foreign_window 0x2a04b2 lifetime_ms=2500\n";
const std::string FILTERS = "control_device \\\\.\\hidfiltr_XT2B4F\ncontrol_device \\\\.\\moufiltr_XT2B4F\n";

const std::string OTHER = "hid \\\\?\\hid#vid_845e&pid_0001#1&0 vid=845e pid=0001 page=1 usage=6\n";
const std::string COL1 = "hid \\\\?\\hid#vid_1bcf&pid_05e3&col01#2&0 vid=1bcf pid=05e3 page=ff00 usage=1";
const std::string COL2 = "hid \\\\?\\hid#vid_1bcf&pid_05e3&col02#2&1 vid=1bcf pid=05e3 page=ff00 usage=2";
const std::string COL1B = "hid \\\\?\\hid#vid_1bcf&pid_05e3&col01#3&0 vid=1bcf pid=05e3 page=ff00 usage=1";

const std::string KEYS_UP =
    "[06 04 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00]";
const std::string BUTTONS_UP =
    "[06 03 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00]";

ProgramRun RunDaemon(const std::string& tail, const std::string& world) {
    return RunProgram(WIRRELKIN_PATH, PROGRAM + "command_line Wirrelkin.exe" + (tail.empty() ? "" : " " + tail) + "\n" + world);
}

// The path each WriteFile went to: the handle's CreateFileW line names it.
std::string PathOfHandle(const ProgramRun& run, const std::string& handle) {
    for (const std::string& line : run.Of("CreateFileW"))
        if (line.size() > handle.size() && line.compare(line.size() - handle.size(), handle.size(), handle) == 0)
            return line.substr(12, line.find(' ', 12) - 12);
    return "";
}

std::string Path(const std::string& hidLine) { return hidLine.substr(4, hidLine.find(' ', 4) - 4); }

TEST(Daemon, BindsTheFirstReportCollectionAndOpensNoLaterCandidate) {
    const struct {
        const char* what;
        std::string interfaces;
        std::string bound;                 // path written to at shutdown, "" for none
        std::vector<std::string> opened;   // paths opened, in order
    } cases[] = {
        {"collection 2 first", OTHER + COL2 + "\n" + COL1 + "\n", Path(COL1), {Path(COL2), Path(COL1)}},
        {"collection 1 first", OTHER + COL1 + "\n" + COL2 + "\n", Path(COL1), {Path(COL1)}},
        {"two devices", COL1 + "\n" + COL1B + "\n", Path(COL1), {Path(COL1)}},
        {"empty slot before the match", OTHER + COL1 + "\nfail_interface_data 0 31\n", "", {}},
        {"no virtual device", OTHER, "", {}},
        {"collection 1 held exclusively by another program", COL1 + " held=0x80000000/1\n" + COL1B + "\n", Path(COL1B),
         {Path(COL1), Path(COL1B)}},
        {"collection 1 fails its queries", COL1 + " caps_fail\n" + COL1B + "\n", Path(COL1B), {Path(COL1), Path(COL1B)}},
        {"enumeration fails", COL1 + "\nfail_device_info_set\n", "", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramRun run = RunDaemon("0x2a04b2", c.interfaces + CONTROLLER + FILTERS);
        ExpectCleanExit(run);
        std::vector<std::string> opened;
        for (const std::string& line : run.Of("CreateFileW")) {
            std::string path = line.substr(12, line.find(' ', 12) - 12);
            if (path.rfind("\\\\?\\hid#", 0) == 0) {
                opened.push_back(path);
                EXPECT_NE(line.find("access=0xc0000000 share=0x3 disposition=3 flags=0x0"), std::string::npos) << line;
            }
        }
        EXPECT_EQ(opened, c.opened);
        std::vector<std::string> writes = run.Of("WriteFile");
        if (c.bound.empty()) {
            EXPECT_TRUE(writes.empty()) << run.Text();
        } else {
            ASSERT_EQ(writes.size(), 2u) << run.Text();
            EXPECT_EQ(PathOfHandle(run, writes[0].substr(10, writes[0].find(' ', 10) - 10)), c.bound);
        }
        // The list is freed after the walk: nothing is left on the heap.
        EXPECT_TRUE(run.Has("-- outstanding heap=0 hid=" + std::string(c.bound.empty() ? "0 preparsed=0" : "1 preparsed=1") +
                            " devinfo=0 control=2 process=0 thread=1"))
            << run.Text();
    }
}

TEST(Daemon, ReadsTheControllerWindowFromItsCommandLine) {
    const struct {
        const char* tail;
        const char* window;
    } cases[] = {
        {"", "null"},
        {"2a04b2", "0x2a04b2"},
        {"+2a04b2", "0x2a04b2"},
        {"0x2a04b2", "0x2a04b2"},
        {"0X2A04B2", "0x2a04b2"},
        {"2a04b2 and more", "0x2a04b2"},
        {"  \t2a04b2", "0x2a04b2"},
        {"12a04b2ff", "0x2a04b2ff"},                // nine digits: the low 32 bits
        {"fedcba98762a04b2", "0x762a04b2"},          // sixteen digits
        {"1fedcba98762a04b2", "0xffffffff"},         // seventeen: all bits set
        {"-1", "0xffffffff"},
        {"-2a04b2", "0xffd5fb4e"},
        {"window", "null"},                          // no digits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tail);
        ProgramRun run = RunDaemon(c.tail, CONTROLLER + FILTERS);
        ExpectCleanExit(run);
        ASSERT_EQ(run.Of("PostMessageW").size(), 1u) << run.Text();
        EXPECT_EQ(run.Of("PostMessageW")[0].substr(0, run.Of("PostMessageW")[0].find(" 0x4854")),
                  std::string("PostMessageW ") + c.window);
    }
}

TEST(Daemon, AnnouncesItselfPollsEverySecondAndCleansUpWhenTheControllerIsGone) {
    ProgramRun run = RunDaemon("0x2a04b2", OTHER + COL2 + "\n" + COL1 + "\n" + CONTROLLER + FILTERS);
    ExpectCleanExit(run);
    std::vector<std::string> watchdog;
    bool started = false;
    for (const std::string& line : run.journal) {
        started = started || line.rfind("PostMessageW", 0) == 0;
        if (started && line.rfind("-- failable calls", 0) != 0) watchdog.push_back(line);
    }
    const std::string bound = "0x" + [&] {
        std::string line = run.Of("WriteFile").at(0);
        return line.substr(12, line.find(' ', 10) - 12);
    }();
    EXPECT_EQ(watchdog, (std::vector<std::string>{
                            "PostMessageW 0x2a04b2 0x4854 wParam=0x10010 lParam=0x0 -> TRUE",
                            "IsWindow 0x2a04b2 -> TRUE",
                            "Sleep 1000",
                            "IsWindow 0x2a04b2 -> TRUE",
                            "Sleep 1000",
                            "IsWindow 0x2a04b2 -> TRUE",
                            "Sleep 1000",
                            "IsWindow 0x2a04b2 -> FALSE",
                            "InterlockedCompareExchange 1 if 0 -> 0",
                            "CreateFileW \\\\.\\hidfiltr_XT2B4F access=0xc0000000 share=0x0 disposition=3 flags=0x0 -> 0x110",
                            "DeviceIoControl 0x110 code=0x222118 in=null/0 out=null/0 -> TRUE",
                            "CreateFileW \\\\.\\moufiltr_XT2B4F access=0xc0000000 share=0x0 disposition=3 flags=0x0 -> 0x114",
                            "DeviceIoControl 0x114 code=0x222114 in=null/0 out=null/0 -> TRUE",
                            "WriteFile " + bound + " " + KEYS_UP + " -> TRUE",
                            "WriteFile " + bound + " " + BUTTONS_UP + " -> TRUE",
                            "InterlockedCompareExchange 2 if 1 -> 1",
                            "ExitProcess 0",
                            "-- exit 0 (ExitProcess)",
                            "-- outstanding heap=0 hid=1 preparsed=1 devinfo=0 control=2 process=0 thread=1",
                            "-- clock 3000 ms",
                        }))
        << run.Text();
    // The announcement names the hidden window the shell created.
    EXPECT_TRUE(run.Has("ShowWindow 0x10010 0 -> FALSE"));
}

TEST(Daemon, ShutdownGoesOnWhateverIsMissing) {
    const struct {
        const char* what;
        std::string world;
        std::vector<std::string> requests;  // control codes sent
        size_t writes;
    } cases[] = {
        {"no virtual device", OTHER + FILTERS, {"0x222118", "0x222114"}, 0},
        {"only the mouse filter", COL1 + "\ncontrol_device \\\\.\\moufiltr_XT2B4F\n", {"0x222114"}, 2},
        {"only the HID filter", COL1 + "\ncontrol_device \\\\.\\hidfiltr_XT2B4F\n", {"0x222118"}, 2},
        {"no filter", COL1 + "\n", {}, 2},
        {"a filter held by another program", COL1 + "\n" + FILTERS + "fail CreateFileW 2 32\n", {"0x222114"}, 2},
        {"failing requests and writes", COL1 + "\n" + FILTERS + "fail DeviceIoControl 1\nfail WriteFile 1\n",
         {"0x222118", "0x222114"}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramRun run = RunDaemon("0x2a04b2", c.world + CONTROLLER);
        ExpectCleanExit(run);
        std::vector<std::string> codes;
        for (const std::string& line : run.Of("DeviceIoControl")) codes.push_back(line.substr(line.find("code=") + 5, 8));
        EXPECT_EQ(codes, c.requests);
        EXPECT_EQ(run.Of("WriteFile").size(), c.writes) << run.Text();
        EXPECT_TRUE(run.Has("ExitProcess 0"));
    }
}

TEST(Daemon, EmptyCommandLineCleansUpAtOnce) {
    ProgramRun run = RunDaemon("", COL1 + "\n" + FILTERS);
    ExpectCleanExit(run);
    EXPECT_EQ(run.Of("PostMessageW IsWindow Sleep"),
              (std::vector<std::string>{"PostMessageW null 0x4854 wParam=0x10010 lParam=0x0 -> FALSE", "IsWindow null -> FALSE"}));
    EXPECT_EQ(run.Of("DeviceIoControl").size(), 2u);
    EXPECT_EQ(run.Of("WriteFile").size(), 2u);
    EXPECT_TRUE(run.Has("-- clock 0 ms"));
}

// The daemon's own window closed while the controller lives: the runtime's
// way out, without control requests or release reports, the device closed.
TEST(Daemon, OwnWindowClosedEndsWithoutCleanup) {
    for (const char* request : {"post_at 1500 WM_CLOSE", "post_at 1500 WM_COMMAND 105"}) {
        SCOPED_TRACE(request);
        ProgramRun run = RunDaemon("0x2a04b2", COL1 + "\nforeign_window 0x2a04b2\n" + FILTERS + request + "\n");
        ExpectCleanExit(run);
        EXPECT_TRUE(run.Of("DeviceIoControl WriteFile").empty()) << run.Text();
        EXPECT_TRUE(run.Has("-- exit 0 (entry returned, runtime exit)")) << run.Text();
        EXPECT_TRUE(run.Has("-- outstanding heap=0 hid=0 preparsed=0 devinfo=0 control=0 process=0 thread=1")) << run.Text();
        EXPECT_TRUE(run.Has("-- clock 1500 ms"));
    }
}

TEST(Daemon, AboutBoxDoesNotEndTheDaemon) {
    ProgramRun run = RunDaemon("0x2a04b2", COL1 + "\n" + CONTROLLER + FILTERS + "post_at 1200 WM_COMMAND 104\n");
    ExpectCleanExit(run);
    EXPECT_EQ(run.Of("DialogBoxParamW").size(), 1u);
    EXPECT_EQ(run.Of("WriteFile").size(), 2u);
    EXPECT_TRUE(run.Has("-- exit 0 (ExitProcess)"));
}

TEST(Daemon, NoWindowMeansNoAnnouncementAndTheDeviceIsClosed) {
    ProgramRun run = RunDaemon("0x2a04b2", COL1 + "\n" + CONTROLLER + FILTERS + "fail_window_creation\n");
    ExpectCleanExit(run);
    EXPECT_TRUE(run.Of("CreateThread PostMessageW IsWindow DeviceIoControl WriteFile").empty()) << run.Text();
    EXPECT_TRUE(run.Has("-- exit 0 (entry returned, runtime exit)"));
    EXPECT_TRUE(run.Has("-- outstanding heap=0 hid=0 preparsed=0 devinfo=0 control=0 process=0 thread=0"));
}

// Without its watchdog thread the daemon would never clean up and never
// end; the watchdog runs on the main thread instead.
TEST(Daemon, WatchdogThatCannotStartRunsOnTheMainThread) {
    ProgramRun run = RunDaemon("0x2a04b2", COL1 + "\n" + CONTROLLER + FILTERS + "fail CreateThread 1\n");
    ExpectCleanExit(run);
    EXPECT_EQ(run.Of("WriteFile").size(), 2u);
    EXPECT_TRUE(run.Has("-- exit 0 (ExitProcess)"));
    EXPECT_TRUE(run.Has("-- clock 3000 ms"));
}

// Both ways out at once: the controller is found gone while the daemon's own
// window is being closed. Whichever way claims first runs alone; the
// runtime never closes the device while the watchdog writes through it.
TEST(Daemon, TheTwoWaysOutNeverOverlap) {
    const struct {
        const char* stall;      // where the watchdog is held back while WM_CLOSE arrives
        bool cleanedUp;
    } cases[] = {
        {"stall IsWindow 4 10", false},                    // found gone, not yet claimed: the runtime wins
        {"stall InterlockedCompareExchange 1 10", true},   // claimed: the runtime waits for it
        {"stall DeviceIoControl 1 10", true},
        {"stall WriteFile 1 10", true},                    // between the two release reports
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stall);
        ProgramRun run = RunDaemon("0x2a04b2", COL1 + "\n" + CONTROLLER + FILTERS + c.stall + "\npost_at 3005 WM_CLOSE\n");
        ExpectCleanExit(run);
        EXPECT_EQ(run.Of("WriteFile").size(), c.cleanedUp ? 2u : 0u) << run.Text();
        for (const std::string& line : run.Of("WriteFile")) EXPECT_NE(line.find("-> TRUE"), std::string::npos) << line;
        EXPECT_TRUE(run.Has(c.cleanedUp ? "-- exit 0 (ExitProcess)" : "-- exit 0 (entry returned, runtime exit)")) << run.Text();
        EXPECT_TRUE(run.Has("PostQuitMessage 0")) << "the close request was handled";
    }
}

}  // namespace
