#include "device/report_descriptor.h"

#include <gtest/gtest.h>

#include <vector>

namespace koblib {
namespace {

struct Case {
    const char* name;
    std::vector<unsigned char> descriptor;
    std::uint32_t input;
    std::uint32_t output;
};

class ReportDescriptorTest : public ::testing::TestWithParam<Case> {};

TEST_P(ReportDescriptorTest, LengthsIncludeTheReportIdByte) {
    const Case& c = GetParam();
    const ReportLengths lengths =
        reportLengthsFromDescriptor(c.descriptor.data(), c.descriptor.size());
    EXPECT_EQ(lengths.input, c.input);
    EXPECT_EQ(lengths.output, c.output);
}

// The transceiver's shape: vendor page, 64-byte input and output reports.
const std::vector<unsigned char> kVendor64 = {
    0x06, 0x00, 0xFF,                                // usage page (vendor)
    0x09, 0x01,                                      // usage
    0xA1, 0x01,                                      // collection (application)
    0x15, 0x00, 0x26, 0xFF, 0x00,                    // logical 0..255
    0x75, 0x08, 0x95, 0x40, 0x09, 0x01, 0x81, 0x02,  // 64 x 8 bits input
    0x95, 0x40, 0x09, 0x01, 0x91, 0x02,              // 64 x 8 bits output
    0xC0};

std::vector<unsigned char> truncated(std::size_t keep) {
    return std::vector<unsigned char>(kVendor64.begin(), kVendor64.begin() + keep);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ReportDescriptorTest,
    ::testing::Values(
        Case{"Vendor64", kVendor64, 65, 65},
        // Numbered reports: the longest of each kind counts.
        Case{"Numbered",
             {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x85, 0x01, 0x95, 0x10, 0x81,
              0x02, 0x85, 0x02, 0x95, 0x20, 0x81, 0x02, 0x85, 0x03, 0x95, 0x08, 0x91, 0x02, 0xC0},
             33,
             9},
        // Several input items in one report add up; bits round up to bytes.
        Case{"BitsAddUp",
             {0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x75, 0x05, 0x95, 0x01, 0x81, 0x03},
             2,
             0},
        // Push/pop restore the report size and count.
        Case{"PushPop",
             {0x75, 0x08, 0x95, 0x04, 0xA4, 0x95, 0x10, 0x81, 0x02, 0xB4, 0x91, 0x02},
             17,
             5},
        // A long item is skipped whole.
        Case{"LongItem", {0xFE, 0x02, 0x10, 0x81, 0x02, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02}, 3, 0},
        // Cut in the middle of an item: what was read still counts.
        Case{"TruncatedItem", truncated(kVendor64.size() - 3), 65, 0},
        Case{"TruncatedInsideData", truncated(9), 0, 0}, Case{"Empty", {}, 0, 0}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(ReportDescriptor, NullDescriptorReadsAsEmpty) {
    const ReportLengths lengths = reportLengthsFromDescriptor(nullptr, 10);
    EXPECT_EQ(lengths.input, 0u);
    EXPECT_EQ(lengths.output, 0u);
}

}  // namespace
}  // namespace koblib
