// The firmware model driven directly, without threads or ports: command
// reports (and frames the receiver hears) in, input reports out.
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "firmware_model.h"

namespace koblib {
namespace {

using Bytes = std::vector<unsigned char>;
using Clock = FirmwareModel::Clock;
constexpr std::size_t kPayload = 8;

// One step: a command report (report-ID byte first) or, with carrier set,
// a frame the receiver hears; leaves: the command sends the device to its
// bootloader.
struct Step {
    Bytes command;
    std::vector<std::uint32_t> heard = {};
    std::uint32_t carrierHz = 0;
    bool leaves = false;
};

// An input report: its leading bytes and whether it begins a message.
struct Expected {
    Bytes head;
    bool first = true;
};

// A code of one repeat pair at 38 kHz: 16 periods on (about 105 ticks),
// 32 off.
const Bytes kSendCode = {0x00, 0x0E, 0x03, 14,   0x00, 0x00, 0x00, 0x00, 0x00,
                         0x6D, 0x00, 0x00, 0x00, 0x01, 0x00, 0x10, 0x00, 0x20};
const std::vector<std::uint32_t> kFrame = {0xFFFF, 105, 210};

struct Case {
    const char* name;
    bool loopback;
    unsigned airTimePercent;
    std::vector<Step> steps;
    std::vector<Expected> inputs;
};

TEST(FirmwareModel, CommandsAndFramesGiveTheirInputReports) {
    const std::vector<Case> cases = {
        {"digital I/O answers", true, 0, {{{0x00, 0x20, 5, 6}}}, {{{0x20, 5, 6}}}},
        {"wake block read back",
         true,
         0,
         {{{0x00, 0x24, 0, 3, 7, 8, 9}}, {{0x00, 0x25, 0, 1, 4}}, {{0x00, 0x26, 0}}},
         {{{0x26, 0, 3, 7, 8, 9}}}},
        {"stop with nothing on the air", true, 0, {{{0x00, 0x10}}}, {}},
        {"sent code is heard, then finished",
         true,
         0,
         {{kSendCode}},
         {{{0x0A, 2, 0xFF, 0xFF}}, {{0x0F, 0x00}}}},
        {"loopback off: finished only", false, 0, {{kSendCode}}, {{{0x0F, 0x00}}}},
        {"stop ends the transmission at once",
         true,
         100,
         {{kSendCode}, {{0x00, 0x10}}},
         {{{0x0F, 0x01}}}},
        {"carrier measured from the first burst",
         true,
         0,
         {{{0x00, 0x0C}}, {{}, kFrame, 38000}},
         {{{0x0A, 3, 0xFF, 0xFF, 0x00, 0x69, 0x00, 0xD2}},
          {{0x0B, 0x00, 0x00, 0x10, 0x00, 0x09, 0x47, 0x00}}}},
        {"raw learning spans two reports",
         true,
         0,
         {{{0x00, 0x21}}, {{}, kFrame, 38000}},
         {{{0x0A, 3, 0xFF, 0xFF, 0x00, 0x69, 0x00, 0xD2}},
          {{0x0C, 0x00, 3, 0x00, 0xFF, 0xFF, 0x00, 0x69}},
          {{0x00, 0xD2}, false}}},
        {"nothing heard after the bootloader",
         true,
         0,
         {{{0x00, 0xFE}, {}, 0, true}, {{0x00, 0x20, 1, 2}}, {{0x00, 0xFE}}},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FirmwareModel model(kPayload);
        model.configure(c.loopback, c.airTimePercent);
        const auto start = Clock::now();
        for (const auto& step : c.steps) {
            if (step.carrierHz)
                model.hear(start, step.heard, step.carrierHz);
            else
                EXPECT_EQ(model.command(step.command, start), step.leaves);
            while (model.runDue(start)) {
            }
        }
        while (model.runDue(start + std::chrono::hours(1))) {
        }
        EXPECT_FALSE(model.nextTimer());
        const auto inputs = model.takeInputs();
        ASSERT_EQ(inputs.size(), c.inputs.size());
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            const Bytes& head = c.inputs[k].head;
            ASSERT_EQ(inputs[k].report.size(), kPayload);
            EXPECT_EQ(Bytes(inputs[k].report.begin(), inputs[k].report.begin() + head.size()), head)
                << "report " << k;
            EXPECT_EQ(inputs[k].first, c.inputs[k].first) << "report " << k;
        }
    }
}

// Air time is given by the caller's clock: nothing is heard before the code
// has been sent, and the completion report is the one kept for the host.
TEST(FirmwareModel, TransmissionEndsWhenItsAirTimeHasPassed) {
    FirmwareModel model(kPayload);
    const auto start = Clock::now();
    ASSERT_FALSE(model.command(kSendCode, start));
    const auto due = model.nextTimer();
    ASSERT_TRUE(due);
    // 48 periods at 38 kHz: about 1.26 ms (durations are whole microseconds).
    const double airUs = std::chrono::duration<double, std::micro>(*due - start).count();
    EXPECT_NEAR(airUs, 1262, 25);
    EXPECT_FALSE(model.runDue(*due - std::chrono::microseconds(1)));
    EXPECT_TRUE(model.takeInputs().empty());
    while (model.runDue(*due)) {
    }
    const auto inputs = model.takeInputs();
    ASSERT_EQ(inputs.size(), 2u);
    // The frame as heard: the first silence, then the burst (the space
    // after it is the next frame's silence).
    EXPECT_EQ(inputs[0].report[1], 2);
    EXPECT_NEAR((inputs[0].report[4] << 8) | inputs[0].report[5], 105, 2);
    EXPECT_FALSE(inputs[0].kept);
    EXPECT_TRUE(inputs[1].kept);
}

}  // namespace
}  // namespace koblib
