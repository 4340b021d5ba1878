// Random reports of random lengths through every parser: no parser reads
// or writes outside its payload or buffers, and every event stays within
// the 255 entries a message can announce.
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
    std::vector<std::unique_ptr<Parser>> parsers;
    parsers.emplace_back(
        new IRReceiveParser("F", [&](const std::string&, const std::string& text,
                                     const unsigned int* words, unsigned int count) {
            ++events;
            ASSERT_LE(count, 255u);
            ASSERT_EQ(text.size(), 5u * count);
            for (unsigned int i = 0; i < count; ++i)
                ASSERT_LE(words[i], 0xFFFFu);
        }));
    parsers.emplace_back(new IRRawLearnParser(
        "F", [&](const std::string&, unsigned int header, const unsigned int*, unsigned int count) {
            ++events;
            ASSERT_LE(header, 0xFFu);
            ASSERT_LE(count, 255u);
        }));
    parsers.emplace_back(new WakeupParser(
        "F", [&](const std::string&, unsigned int, const unsigned char* bytes, unsigned int count) {
            ++events;
            ASSERT_LE(count, 255u);
            unsigned int sum = 0;
            for (unsigned int i = 0; i < count; ++i)
                sum += bytes[i];  // reads every entry
            (void)sum;
        }));
    parsers.emplace_back(
        new IRModulationParser("F", [&](const std::string&, unsigned int cycles, unsigned int) {
            ++events;
            ASSERT_LE(cycles, 0xFFFFu);
        }));
    parsers.emplace_back(
        new IRSendParser("F", [&](const std::string&, unsigned char) { ++events; }));
    parsers.emplace_back(
        new ButtonPressParser("F", [&](const std::string&, int b1, int b2, int b3, int b4) {
            ++events;
            for (int b : {b1, b2, b3, b4})
                ASSERT_TRUE(b >= 0 && b <= 255);
        }));
    parsers.emplace_back(new DigitalIOParser(
        "F", [&](const std::string&, unsigned char, unsigned char) { ++events; }));
    parsers.emplace_back(
        new UnknownParser("F", [&](const std::string&, unsigned char, const std::string& text) {
            ++events;
            ASSERT_EQ(text.back(), '\n');
        }));

    std::mt19937 random(20240611);
    for (int round = 0; round < 20000; ++round) {
        // Each report in its own exactly sized allocation, so that a read
        // past its end is caught by the address sanitizer.
        std::size_t length = random() % 81;
        std::unique_ptr<unsigned char[]> payload(new unsigned char[length]);
        for (std::size_t i = 0; i < length; ++i)
            payload[i] = static_cast<unsigned char>(random());
        Parser& parser = *parsers[random() % parsers.size()];
        parser.parse(payload.get(), static_cast<unsigned int>(length));
    }
    setDebugOutputHook(nullptr);
    EXPECT_GT(events, 1000u);
}

}  // namespace
}  // namespace koblib
