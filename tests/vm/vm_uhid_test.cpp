// KOBLIB against virtual KOB-1s made through the kernel's uhid: the cases
// of every transport, and what uhid makes easy: devices of other vendors
// and products, several devices at once, and watching the node's opens.
#include "koblib.h"
#include "transport_suite.h"
#include "uhid_kob.h"

namespace koblib::vm {
namespace {

// The uhid device is told a HID version; with no USB device behind it the
// library has no release number to report.
INSTANTIATE_TEST_SUITE_P(Uhid, TransportTest,
                         ::testing::Values(Transport{
                             "uhid",
                             [](const std::string& serial) -> std::unique_ptr<KernelKOB> {
                                 return std::make_unique<UhidKOB>(serial);
                             },
                             0}),
                         transportName);

class UhidTest : public LibraryTest {
  protected:
    std::unique_ptr<UhidKOB> plug(const std::string& serial, std::uint32_t vendor = kKobVendorId,
                                  std::uint32_t product = kKobProductId) {
        auto kob = std::make_unique<UhidKOB>(serial, vendor, product);
        EXPECT_TRUE(kob->ok()) << kob->error();
        return kob;
    }
};

// HID devices with another vendor or product ID are never opened, listed
// or reported, neither by the first scan nor by the scans that arrivals
// cause.
TEST_F(UhidTest, OtherVendorsAndProductsAreNeverOpened) {
    auto otherProduct = plug("VM-OTHER-P", kKobVendorId, kKobProductId + 1);
    auto otherVendor = plug("VM-OTHER-V", 0x1234, kKobProductId);
    ASSERT_FALSE(otherProduct->waitForHidraw(kDeadline).empty());
    ASSERT_FALSE(otherVendor->waitForHidraw(kDeadline).empty());
    openLibrary();
    auto kob = plug("VM-MATCH-1");
    ASSERT_TRUE(waitStatus("VM-MATCH-1", 0, "KOB arrived"));
    auto lateOther = plug("VM-OTHER-L", 0x20A1, kKobProductId);
    ASSERT_FALSE(lateOther->waitForHidraw(kDeadline).empty());
    // One more arrival after the late one: its scan has seen it too.
    auto kob2 = plug("VM-MATCH-2");
    ASSERT_TRUE(waitStatus("VM-MATCH-2", 0, "KOB arrived"));

    EXPECT_EQ(listText(), "VM-MATCH-1,VM-MATCH-2");
    EXPECT_EQ(otherProduct->opens(), 0);
    EXPECT_EQ(otherVendor->opens(), 0);
    EXPECT_EQ(lateOther->opens(), 0);
    EXPECT_EQ(kob->opens(), 1);
    for (const auto& e : recorder->snapshot().status)
        EXPECT_EQ(e.serial.rfind("VM-MATCH-", 0), 0u) << e.serial << ": " << e.text;
}

// Two devices: listed in serial order, each command reaches only the one
// addressed, an event names its device, and unplugging one leaves the
// other in service.
TEST_F(UhidTest, TwoDevicesAreListedInOrderAndServedApart) {
    openLibrary();
    auto b = plug("VM-B2");
    ASSERT_TRUE(waitStatus("VM-B2", 0, "KOB arrived"));
    auto a = plug("VM-A1");
    ASSERT_TRUE(waitStatus("VM-A1", 0, "KOB arrived"));
    EXPECT_EQ(listText(), "VM-A1,VM-B2");

    kob_digitalIO("VM-A1", 0x21, 0x43);
    ASSERT_TRUE(
        recorder->waitFor([](const RecordedEvents& e) { return !e.digital.empty(); }, kDeadline));
    EXPECT_EQ(recorder->snapshot().digital[0].serial, "VM-A1");
    EXPECT_EQ(a->firmware().takeOutputs().size(), 1u);
    EXPECT_TRUE(b->firmware().takeOutputs().empty());

    b->unplug();
    ASSERT_TRUE(waitStatus("VM-B2", 1, "KOB removed"));
    EXPECT_EQ(listText(), "VM-A1");
    kob_digitalIO("", 0x22, 0x44);  // every device: the one left
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return e.digital.size() >= 2; },
                                  kDeadline));
    const DigitalEvent last = recorder->snapshot().digital[1];
    EXPECT_EQ(last.serial, "VM-A1");
    EXPECT_EQ(last.first, 0x22);
    EXPECT_EQ(last.second, 0x44);
}

// Every write to the hidraw node is a whole output report led by the
// report-ID byte 0, which the USB HID driver would strip: without it, a
// report whose first byte is 0 would lose that byte on the wire.
TEST_F(UhidTest, WritesStartWithTheReportIdByte) {
    openLibrary();
    auto kob = plug("VM-WRITE-1");
    ASSERT_TRUE(waitStatus("VM-WRITE-1", 0, "KOB arrived"));
    kob_digitalIO("VM-WRITE-1", 0x00, 0x01);
    kob_blink("VM-WRITE-1", 3);
    kob_sendCCF("VM-WRITE-1", "0000 006D 0001 0000 0010 0020", 1, 0);
    ASSERT_TRUE(kob->firmware().waitForOutputs(3, kDeadline));
    const auto writes = kob->hostWrites();
    ASSERT_EQ(writes.size(), 3u);
    const unsigned char commands[] = {0x20, 0x27, 0x0E};
    for (std::size_t k = 0; k < writes.size(); ++k) {
        ASSERT_EQ(writes[k].size(), kReportBytes + 1) << "write " << k;
        EXPECT_EQ(writes[k][0], 0x00) << "write " << k;
        EXPECT_EQ(writes[k][1], commands[k]) << "write " << k;
    }
}

// An input report shorter than the device's input report is not taken for
// one (the kernel passes it on as it came); the next whole one is.
TEST_F(UhidTest, ShortInputReportIsDropped) {
    openLibrary();
    auto kob = plug("VM-SHORT-1");
    ASSERT_TRUE(waitStatus("VM-SHORT-1", 0, "KOB arrived"));
    ASSERT_TRUE(kob->injectInput({0x20, 0x66, 0x77}));
    std::vector<unsigned char> almost(kReportBytes - 1, 0);
    almost[0] = 0x20;
    almost[1] = 0x55;
    ASSERT_TRUE(kob->injectInput(almost));
    const unsigned char whole[] = {0x20, 0x11, 0x22};
    ASSERT_TRUE(kob->firmware().sendRaw(whole, sizeof whole));
    ASSERT_TRUE(
        recorder->waitFor([](const RecordedEvents& e) { return !e.digital.empty(); }, kDeadline));
    const RecordedEvents events = recorder->snapshot();
    ASSERT_EQ(events.digital.size(), 1u);
    EXPECT_EQ(events.digital[0].first, 0x11);
    EXPECT_EQ(events.digital[0].second, 0x22);
    EXPECT_EQ(events.status.size(), 1u);  // "KOB arrived" only
}

// Closing the library lets go of every node it opened: the kernel sees
// the device closed.
TEST_F(UhidTest, CloseReleasesTheNode) {
    openLibrary();
    auto kob = plug("VM-CLOSE-1");
    ASSERT_TRUE(waitStatus("VM-CLOSE-1", 0, "KOB arrived"));
    EXPECT_TRUE(kob->waitForOpen(true, kDeadline));
    kob_close();
    EXPECT_TRUE(kob->waitForOpen(false, kDeadline)) << "the hidraw node is still open";
}

}  // namespace
}  // namespace koblib::vm
