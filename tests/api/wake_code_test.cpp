// Wake-from-suspend codes: written in chunks, read back through the
// wake-up information request, refused when too long.
#include <algorithm>
#include <ostream>

#include "api_test.h"

namespace koblib {
namespace {

struct WakeCase {
    int flag;
    unsigned int length;
    unsigned int payload;  // the device's report length without the ID byte
};

std::ostream& operator<<(std::ostream& out, const WakeCase& c) {
    return out << "flag " << c.flag << ", " << c.length << " bytes, payload " << c.payload;
}

// Bytes of every value, zeros included.
std::vector<unsigned char> block(unsigned int length) {
    std::vector<unsigned char> bytes(length);
    for (unsigned int k = 0; k < length; ++k)
        bytes[k] = static_cast<unsigned char>(k * 37);
    return bytes;
}

class WakeCodeTest : public ApiTest, public ::testing::WithParamInterface<WakeCase> {};

TEST_P(WakeCodeTest, ProgrammedBytesGoOutInChunksAndComeBackAsWakeupInformation) {
    const WakeCase c = GetParam();
    const std::string serial = "WAKE-" + std::to_string(c.flag) + "-" + std::to_string(c.length) +
                               "-" + std::to_string(c.payload);
    attach(serial, 0x0200, c.payload);
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(serial));

    const std::vector<unsigned char> bytes = block(c.length);
    kob_program_wake_from_suspend(serial.c_str(), c.flag, bytes.data(), c.length);
    const unsigned int which = c.flag ? 1 : 0;
    kob_request_wakeup_info(serial.c_str(), which);
    ASSERT_TRUE(recorder->waitFor([](const RecordedEvents& e) { return !e.wakeup.empty(); }));

    // Chunks of at most L - 4 and at most 128 bytes; an empty block is one
    // empty chunk.
    const unsigned char command = c.flag ? 0x25 : 0x24;
    const unsigned int chunk = std::min(c.payload + 1 - 4, 128u);
    const auto got = commands(serial);
    std::size_t k = 0;
    unsigned int offset = 0;
    do {
        ASSERT_LT(k, got.size());
        const unsigned int n = std::min(chunk, c.length - offset);
        Report expected{0x00, command, static_cast<unsigned char>(offset),
                        static_cast<unsigned char>(n)};
        expected.insert(expected.end(), bytes.begin() + offset, bytes.begin() + offset + n);
        EXPECT_EQ(head(got[k], expected.size()), expected) << "chunk " << k;
        offset += n;
        ++k;
    } while (offset < c.length);
    ASSERT_EQ(got.size(), k + 1);
    EXPECT_EQ(head(got[k], 3), (Report{0x00, 0x26, static_cast<unsigned char>(which)}));

    const RecordedEvents events = recorder->snapshot();
    ASSERT_EQ(events.wakeup.size(), 1u);
    EXPECT_EQ(events.wakeup[0].serial, serial);
    EXPECT_EQ(events.wakeup[0].header, which);
    EXPECT_EQ(events.wakeup[0].bytes, bytes);
}

INSTANTIATE_TEST_SUITE_P(Blocks, WakeCodeTest,
                         ::testing::Values(WakeCase{0, 0, 64}, WakeCase{1, 1, 64},
                                           WakeCase{0, 61, 64}, WakeCase{1, 62, 64},
                                           WakeCase{1, 255, 64}, WakeCase{0, 255, 200},
                                           WakeCase{1, 200, 8}),
                         [](const ::testing::TestParamInfo<WakeCase>& info) {
                             return "Flag" + std::to_string(info.param.flag) + "_" +
                                    std::to_string(info.param.length) + "Bytes_Payload" +
                                    std::to_string(info.param.payload);
                         });

TEST_F(ApiTest, WakeCodeOf256BytesAndNullDataSendNothing) {
    DeviceOutputs& device = attach("WAKE-REFUSED");
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(device.serial()));

    const std::vector<unsigned char> tooLong = block(1000);
    kob_program_wake_from_suspend(device.name(), 0, tooLong.data(), 256);
    kob_program_wake_from_suspend(device.name(), 1, tooLong.data(), 1000);
    kob_program_wake_from_suspend(device.name(), 0, nullptr, 5);
    ASSERT_TRUE(fence(device.serial()));
    EXPECT_TRUE(commands(device.serial()).empty());

    // Null data of length 0 is the empty block: one empty chunk.
    kob_program_wake_from_suspend(device.name(), 0, nullptr, 0);
    ASSERT_TRUE(fence(device.serial()));
    const auto got = commands(device.serial());
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(head(got[0], 4), (Report{0x00, 0x24, 0x00, 0x00}));
}

}  // namespace
}  // namespace koblib
