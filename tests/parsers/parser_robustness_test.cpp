// Random reports of random lengths through every parser: under the address
// sanitizer any read past a payload or write past a buffer is caught, and
// every event stays within the 255 entries a message can announce.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "os/debug_output.h"
#include "parsers/button_press_parser.h"
#include "parsers/digital_io_parser.h"
#include "parsers/ir_modulation_parser.h"
#include "parsers/ir_raw_learn_parser.h"
#include "parsers/ir_receive_parser.h"
#include "parsers/ir_send_parser.h"
#include "parsers/unknown_parser.h"
#include "parsers/wakeup_parser.h"

namespace koblib {
namespace {

TEST(ParserRobustness, RandomReportsOfRandomLengths) {
    setDebugOutputHook([](const std::string&) {});
    unsigned int events = 0;
    auto counted = [&](unsigned int count) {
        ++events;
        EXPECT_LE(count, 255u);
    };
    std::vector<std::unique_ptr<Parser>> parsers;
    parsers.emplace_back(new IRReceiveParser(
        "F", [&](const std::string&, const std::string& text, const unsigned int*, unsigned int n) {
            counted(n);
            EXPECT_EQ(text.size(), 5u * n);
        }));
    parsers.emplace_back(
        new IRRawLearnParser("F", [&](const std::string&, unsigned int, const unsigned int*,
                                      unsigned int n) { counted(n); }));
    parsers.emplace_back(
        new WakeupParser("F", [&](const std::string&, unsigned int, const unsigned char*,
                                  unsigned int n) { counted(n); }));
    parsers.emplace_back(
        new IRModulationParser("F", [&](const std::string&, unsigned int cycles, unsigned int) {
            ++events;
            EXPECT_LE(cycles, 0xFFFFu);
        }));
    parsers.emplace_back(
        new IRSendParser("F", [&](const std::string&, unsigned char) { ++events; }));
    parsers.emplace_back(
        new ButtonPressParser("F", [&](const std::string&, int, int, int, int) { ++events; }));
    parsers.emplace_back(new DigitalIOParser(
        "F", [&](const std::string&, unsigned char, unsigned char) { ++events; }));
    parsers.emplace_back(new UnknownParser(
        "F", [&](const std::string&, unsigned char, const std::string&) { ++events; }));

    std::mt19937 random(20240611);
    for (int round = 0; round < 20000; ++round) {
        // Each report in an allocation of exactly its length (none for 0).
        std::size_t length = random() % 81;
        std::unique_ptr<unsigned char[]> payload(new unsigned char[length]);
        for (std::size_t i = 0; i < length; ++i)
            payload[i] = static_cast<unsigned char>(random());
        parsers[random() % parsers.size()]->parse(payload.get(), static_cast<unsigned int>(length));
    }
    setDebugOutputHook(nullptr);
    EXPECT_GT(events, 1000u);
}

}  // namespace
}  // namespace koblib
