#include "common/hid_device.h"

#include "support/sim_test.h"

namespace {

using winsim::JournalOf;

class HidDeviceTest : public SimTest {
protected:
    void AddInterfaces(int n) {
        for (int i = 0; i < n; ++i) winsim::AddHidInterface(OtherDevice(i));
    }
    // Every resource the enumeration took must be back.
    void ExpectNothingHeld() {
        EXPECT_EQ(winsim::Outstanding(), "heap=0 hid=0 preparsed=0 devinfo=0 control=0 process=0 thread=0");
    }
    static std::string PathOf(LPCWSTR path) { return winsim::Utf8(path); }
};

TEST_F(HidDeviceTest, NewRecordIsClosedAndEmpty) {
    HidDevice device;
    EXPECT_EQ(device.handle, nullptr);
    EXPECT_EQ(device.preparsedData, nullptr);
    EXPECT_EQ(device.path[0], 0);
    EXPECT_EQ(device.attributes.VendorID, 0);
    EXPECT_EQ(device.caps.UsagePage, 0);
    EXPECT_FALSE(device.readAccess || device.writeAccess || device.exclusive);
    EXPECT_EQ(device.interfaces.paths, nullptr);
    EXPECT_EQ(device.interfaces.count, 0u);
    EXPECT_EQ(device.interfaces.cursor, 0u);
}

// The array starts at 8 slots and doubles when the member index reaches it.
TEST_F(HidDeviceTest, EnumerationGrowsTheArrayAndListsEveryPathInOrder) {
    const size_t slot = sizeof(LPWSTR);
    const struct {
        int interfaces;
        std::vector<size_t> arrays;  // byte sizes of the zeroed array allocations
    } cases[] = {
        {0, {8 * slot}}, {7, {8 * slot}}, {8, {8 * slot, 16 * slot}}, {9, {8 * slot, 16 * slot}},
        {17, {8 * slot, 16 * slot, 32 * slot}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.interfaces);
        winsim::Reset();
        AddInterfaces(c.interfaces);
        HidDevice device;
        ASSERT_TRUE(EnumerateHidInterfaces(&device.interfaces));
        EXPECT_EQ(device.interfaces.count, static_cast<DWORD>(c.interfaces));
        ASSERT_NE(device.interfaces.paths, nullptr);

        std::vector<size_t> arrays;
        for (const std::string& line : JournalOf("HeapAlloc"))
            if (line.find("zeroed") != std::string::npos) arrays.push_back(std::stoul(line.substr(10)));
        EXPECT_EQ(arrays, c.arrays);
        EXPECT_EQ(JournalOf("SetupDiEnumDeviceInterfaces").back(),
                  "SetupDiEnumDeviceInterfaces 0x100 index=" + std::to_string(c.interfaces) + " -> FALSE (error 259)");
        EXPECT_EQ(JournalOf("SetupDiGetClassDevsW").front(),
                  "SetupDiGetClassDevsW hid enumerator=null parent=null flags=0x12 -> 0x100");

        for (int i = 0; i < c.interfaces; ++i) {
            LPCWSTR path = NextHidInterface(&device.interfaces);
            ASSERT_NE(path, nullptr);
            EXPECT_EQ(PathOf(path), winsim::Utf8(OtherDevice(i).path));
        }
        EXPECT_EQ(NextHidInterface(&device.interfaces), nullptr);
        EXPECT_EQ(winsim::OpenHandleCount("devinfo"), 0u);
        FreeHidDeviceList(&device.interfaces);
        EXPECT_EQ(device.interfaces.paths, nullptr);
        EXPECT_EQ(device.interfaces.count, 0u);
        ExpectNothingHeld();
    }
}

TEST_F(HidDeviceTest, UnreadableMemberLeavesAnEmptySlotThatEndsTheWalk) {
    AddInterfaces(4);
    winsim::FailInterfaceData(2, ERROR_GEN_FAILURE);
    HidDevice device;
    ASSERT_TRUE(EnumerateHidInterfaces(&device.interfaces));
    EXPECT_EQ(device.interfaces.count, 4u);
    EXPECT_EQ(device.interfaces.paths[2], nullptr);
    EXPECT_NE(device.interfaces.paths[3], nullptr);
    EXPECT_NE(NextHidInterface(&device.interfaces), nullptr);
    EXPECT_NE(NextHidInterface(&device.interfaces), nullptr);
    EXPECT_EQ(NextHidInterface(&device.interfaces), nullptr);
}

TEST_F(HidDeviceTest, FailedEnumerationLeavesNothingToFreeTwice) {
    const struct {
        const char* what;
        void (*fault)();
    } faults[] = {
        {"no device information set", [] { winsim::FailDeviceInfoSet(); }},
        {"detail read fails after five paths", [] { winsim::FailDetailRead(5); }},
        {"size below the fixed part", [] { winsim::ReportDetailSize(3, 4); }},
        {"size of two bytes", [] { winsim::ReportDetailSize(3, 2); }},
        {"size too small for the path", [] { winsim::ReportDetailSize(3, 12); }},
        {"size beyond any path", [] { winsim::ReportDetailSize(3, 0xFFFFFFF0u); }},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.what);
        winsim::Reset();
        AddInterfaces(7);
        f.fault();
        {
            HidDevice device;
            EXPECT_FALSE(EnumerateHidInterfaces(&device.interfaces));
            EXPECT_EQ(device.interfaces.paths, nullptr);
            EXPECT_EQ(device.interfaces.count, 0u);
            EXPECT_EQ(NextHidInterface(&device.interfaces), nullptr);
            FreeHidDeviceList(&device.interfaces);
        }
        ExpectNothingHeld();
        EXPECT_TRUE(winsim::Errors().empty()) << Joined(winsim::Errors());
    }
}

TEST_F(HidDeviceTest, EveryAllocationFailingInTurnFailsCleanly) {
    AddInterfaces(9);
    {
        HidDevice device;
        ASSERT_TRUE(EnumerateHidInterfaces(&device.interfaces));
    }
    const size_t allocations = JournalOf("HeapAlloc").size();
    ASSERT_EQ(allocations, 2u + 9u * 2u);  // two arrays, a detail buffer and a string per path
    for (unsigned nth = 1; nth <= allocations; ++nth) {
        SCOPED_TRACE(nth);
        winsim::Reset();
        AddInterfaces(9);
        winsim::FailCall("HeapAlloc", nth);
        {
            HidDevice device;
            EXPECT_FALSE(EnumerateHidInterfaces(&device.interfaces));
            EXPECT_EQ(device.interfaces.paths, nullptr);
        }
        ExpectNothingHeld();
        EXPECT_TRUE(winsim::Errors().empty()) << Joined(winsim::Errors());
    }
}

// A set that fails every member for a reason other than its end must not
// be walked for ever.
TEST_F(HidDeviceTest, MemberErrorThatNeverEndsFailsTheEnumeration) {
    AddInterfaces(3);
    winsim::FailInterfaceData(1, ERROR_GEN_FAILURE, true);
    HidDevice device;
    EXPECT_FALSE(EnumerateHidInterfaces(&device.interfaces));
    EXPECT_EQ(JournalOf("SetupDiEnumDeviceInterfaces").size(), 33u);  // index 0, then 32 failing members
    ExpectNothingHeld();
}

TEST_F(HidDeviceTest, OpenOptionsGiveTheirAccessAndShareMode) {
    const struct {
        BOOL read, write, exclusive;
        const char* expected;
    } cases[] = {
        {FALSE, FALSE, FALSE, "access=0x0 share=0x3"},
        {TRUE, FALSE, FALSE, "access=0x80000000 share=0x3"},
        {TRUE, TRUE, FALSE, "access=0xc0000000 share=0x3"},
        {FALSE, TRUE, FALSE, "access=0x40000000 share=0x3"},
        {TRUE, FALSE, TRUE, "access=0x80000000 share=0x1"},
        {FALSE, FALSE, TRUE, "access=0x0 share=0x1"},
    };
    winsim::AddHidInterface(VirtualCollection(1));
    const std::u16string path = VirtualCollection(1).path;
    for (const auto& c : cases) {
        winsim::ClearJournal();
        HidDevice device;
        ASSERT_TRUE(OpenHidDevice(&device, Wide(path), c.read, c.write, c.exclusive));
        EXPECT_EQ(JournalOf("CreateFileW"),
                  std::vector<std::string>{"CreateFileW " + winsim::Utf8(path) + " " + c.expected +
                                           " disposition=3 flags=0x0 -> " +
                                           winsim::Journal()[0].substr(winsim::Journal()[0].rfind(' ') + 1)});
        EXPECT_EQ(device.readAccess, c.read);
        EXPECT_EQ(device.writeAccess, c.write);
        EXPECT_EQ(device.exclusive, c.exclusive);
        EXPECT_EQ(device.attributes.VendorID, 0x1BCF);
        EXPECT_EQ(device.caps.Usage, 1);
    }
    ExpectNothingHeld();
}

TEST_F(HidDeviceTest, ExclusiveOpenFailsWhileAnotherProgramWritesButAQueryOpenDoesNot) {
    size_t index = winsim::AddHidInterface(VirtualCollection(1));
    winsim::HoldHidInterface(index, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    const std::u16string path = VirtualCollection(1).path;
    HidDevice device;
    EXPECT_FALSE(OpenHidDevice(&device, Wide(path), TRUE, FALSE, TRUE));
    EXPECT_EQ(device.handle, nullptr);
    EXPECT_TRUE(OpenHidDevice(&device, Wide(path), FALSE, FALSE, FALSE));
    EXPECT_TRUE(OpenHidDevice(&device, Wide(path), TRUE, TRUE, FALSE));
}

TEST_F(HidDeviceTest, LongPathIsCutTo259UnitsAndOpenedSo) {
    std::u16string longPath = HidPath("vid_1bcf&pid_05e3&col01") + std::u16string(300, u'x');
    winsim::HidInterface cut = VirtualCollection(1);
    cut.path = longPath.substr(0, 259);
    winsim::AddHidInterface(cut);
    HidDevice device;
    EXPECT_TRUE(OpenHidDevice(&device, Wide(longPath), FALSE, FALSE, FALSE));
    EXPECT_EQ(lstrlenW(device.path), 259);
    EXPECT_EQ(winsim::Utf8(device.path), winsim::Utf8(cut.path));
    ASSERT_EQ(JournalOf("CreateFileW").size(), 1u);
    EXPECT_NE(JournalOf("CreateFileW")[0].find(winsim::Utf8(cut.path) + " access"), std::string::npos);
}

TEST_F(HidDeviceTest, ReopenClosesTheFirstInterfaceBeforeOpeningTheSecond) {
    winsim::AddHidInterface(VirtualCollection(1));
    HidDevice device;
    ASSERT_TRUE(OpenHidDevice(&device, Wide(VirtualCollection(1).path), TRUE, TRUE, FALSE));
    HANDLE first = device.handle;
    winsim::ClearJournal();
    const std::u16string missing = HidPath("vid_1bcf&pid_05e3&col09");
    EXPECT_FALSE(OpenHidDevice(&device, Wide(missing), FALSE, FALSE, FALSE));
    EXPECT_EQ(winsim::Journal(),
              (std::vector<std::string>{
                  "HidD_FreePreparsedData -> TRUE",
                  "CloseHandle " + HandleText(first) + " -> TRUE",
                  "CreateFileW " + winsim::Utf8(missing) +
                      " access=0x0 share=0x3 disposition=3 flags=0x0 -> INVALID_HANDLE_VALUE (error 2)",
              }));
    EXPECT_EQ(device.handle, nullptr);
    EXPECT_EQ(device.preparsedData, nullptr);
    CloseHidDevice(&device);  // closing twice changes nothing
    CloseHidDevice(&device);
    ExpectNothingHeld();
}

TEST_F(HidDeviceTest, FailedQueryClosesTheRecordAndFreesWhatItGot) {
    const struct {
        const char* what;
        void (*set)(winsim::HidInterface&);
        size_t queries;  // query calls made before giving up
    } cases[] = {
        {"preparsed data", [](winsim::HidInterface& h) { h.preparsedFails = true; }, 1},
        {"attributes", [](winsim::HidInterface& h) { h.attributesFail = true; }, 2},
        {"capabilities", [](winsim::HidInterface& h) { h.capsFail = true; }, 3},
        {"open", [](winsim::HidInterface& h) { h.openFails = true; }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        winsim::Reset();
        winsim::AddHidInterface(OtherDevice());
        winsim::HidInterface failing = VirtualCollection(1);
        c.set(failing);
        winsim::AddHidInterface(failing);
        HidDevice device;
        ASSERT_TRUE(OpenHidDevice(&device, Wide(OtherDevice().path), FALSE, FALSE, FALSE));
        winsim::ClearJournal();
        EXPECT_FALSE(OpenHidDevice(&device, Wide(failing.path), FALSE, FALSE, FALSE));
        EXPECT_EQ(device.handle, nullptr);
        EXPECT_EQ(device.preparsedData, nullptr);
        EXPECT_EQ(device.attributes.VendorID, 0x845E) << "a failed open leaves the earlier identity";
        EXPECT_EQ(JournalOf("HidD_GetPreparsedData HidD_GetAttributes HidP_GetCaps").size(), c.queries);
        ExpectNothingHeld();
    }
}

TEST_F(HidDeviceTest, FreeingAnEmptyListAndClosingAClosedRecordChangeNothing) {
    HidDevice device;
    FreeHidDeviceList(&device.interfaces);
    CloseHidDevice(&device);
    EXPECT_TRUE(winsim::Journal().empty());
}

}  // namespace
