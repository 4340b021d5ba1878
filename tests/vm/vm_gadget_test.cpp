// KOBLIB against a virtual KOB-1 that is an emulated USB device (configfs
// HID gadget on the dummy controller): the kernel's real USB HID driver
// strips the report-ID byte, and the serial and release number come from
// the USB descriptors.
#include "gadget_kob.h"
#include "koblib.h"
#include "transport_suite.h"

namespace koblib::vm {
namespace {

constexpr std::uint32_t kRelease = 0x0142;

INSTANTIATE_TEST_SUITE_P(Gadget, TransportTest,
                         ::testing::Values(Transport{
                             "gadget",
                             [](const std::string& serial) -> std::unique_ptr<KernelKOB> {
                                 return std::make_unique<GadgetKOB>(serial, kRelease);
                             },
                             kRelease}),
                         transportName);

class GadgetTest : public LibraryTest {};

// A device without a serial-number string is served under the empty
// serial, which also addresses it.
TEST_F(GadgetTest, DeviceWithoutSerialIsServedUnderTheEmptySerial) {
    openLibrary();
    GadgetKOB kob("", 0x0207);
    ASSERT_TRUE(kob.ok()) << kob.error();
    ASSERT_TRUE(waitStatus("", 0, "KOB arrived"));
    EXPECT_EQ(kob_list(nullptr, 0), 1u);
    EXPECT_EQ(listText(), "");
    EXPECT_EQ(kob_version(""), 0x0207u);
    kob_digitalIO("", 0x31, 0x00);
    ASSERT_TRUE(
        recorder->waitFor([](const RecordedEvents& e) { return !e.digital.empty(); }, kDeadline));
    const DigitalEvent e = recorder->snapshot().digital[0];
    EXPECT_EQ(e.serial, "");
    EXPECT_EQ(e.first, 0x31);
    EXPECT_EQ(e.second, 0x00);
    kob_close();
    EXPECT_EQ(recorder->snapshot().countStatus("", 1, "KOB removed"), 1);
}

}  // namespace
}  // namespace koblib::vm
