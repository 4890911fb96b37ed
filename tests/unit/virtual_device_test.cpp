#include "common/virtual_device.h"

#include "support/sim_test.h"

namespace {

class VirtualDeviceTest : public SimTest {};

TEST_F(VirtualDeviceTest, PathFilterReadsTheNumbersAfterTheMarkers) {
    const struct {
        const char* ids;  // the part of the path after "hid#"
        bool passes;
    } cases[] = {
        {"vid_1bcf&pid_05e3&col01", true},
        {"VID_1BCF&PID_05E3&COL01", true},           // markers and digits in capitals
        {"Vid_1bcf&Pid_05e3", true},
        {"vid_11bcf&pid_105e3", true},               // wider than 16 bits: the low 16 count
        {"vid_+1bcf&pid_0x05e3", true},              // sign and prefix
        {"vid_-e431&pid_05e3", true},                // -0xe431 is 0xffff1bcf
        {"vid_ 1bcf&pid_\t05e3", true},              // white space before the number
        {"vid_1bcf&pid_05e4", false},
        {"vid_1bce&pid_05e3", false},
        {"vid_&pid_05e3", false},                    // no digits give 0
        {"vid_1234567891bcf&pid_05e3", false},       // too large: all bits set
        {"vid_1bcf", false},                         // no product marker
        {"pid_05e3&col01", false},                   // no vendor marker
        {"vid1bcf&pid_05e3", false},
        {"pid_05e3&vid_1bcf", true},                 // order does not matter
        {"vid_845e&pid_0001&vid_1bcf", false},       // only the first marker counts
    };
    for (const auto& c : cases) {
        std::u16string path = HidPath(c.ids);
        EXPECT_EQ(PathMayBeVirtualDevice(Wide(path)) != FALSE, c.passes) << c.ids;
    }
}

TEST_F(VirtualDeviceTest, IdentityTestChecksVendorProductPageAndUsage) {
    const struct {
        USHORT vendor, product, page, usage, wanted;
        bool holds;
    } cases[] = {
        {0x1BCF, 0x05E3, 0xFF00, 1, 1, true},   {0x1BCF, 0x05E3, 0xFF00, 2, 2, true},
        {0x1BCF, 0x05E3, 0xFF00, 2, 1, false},  {0x1BCF, 0x05E3, 0x0001, 1, 1, false},
        {0x1BCF, 0x05E4, 0xFF00, 1, 1, false},  {0x11CF, 0x05E3, 0xFF00, 1, 1, false},
    };
    for (const auto& c : cases) {
        HidDevice device;
        device.attributes.VendorID = c.vendor;
        device.attributes.ProductID = c.product;
        device.caps.UsagePage = c.page;
        device.caps.Usage = c.usage;
        EXPECT_EQ(IsVirtualDeviceCollection(&device, c.wanted) != FALSE, c.holds)
            << std::hex << c.vendor << " " << c.product << " " << c.page << " " << c.usage << " for " << c.wanted;
    }
}

}  // namespace
