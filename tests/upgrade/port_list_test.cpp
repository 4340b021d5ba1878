// The port list text and its storing rules, and the COM name rules of the
// Windows walk; on every system, the list the system gives.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "upgrade/port_list.h"
#include "upgrade/serial_port.h"

namespace koblib {
namespace {

const std::vector<std::string> kTwoPorts = {"COM3", "COM12"};

TEST(PortList, NullBufferGivesTheLength) {
    EXPECT_EQ(storePortList(kTwoPorts, nullptr, 0), 10u);
    EXPECT_EQ(storePortList(kTwoPorts, nullptr, 100), 10u);
}

TEST(PortList, BufferOneLongerThanTheTextReceivesIt) {
    char out[11];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(storePortList(kTwoPorts, out, sizeof out), 10u);
    EXPECT_STREQ(out, "COM3,COM12");
}

TEST(PortList, BufferAsLongAsTheTextStaysUntouched) {
    char out[16];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(storePortList(kTwoPorts, out, 10), 10u);
    for (char c : out)
        EXPECT_EQ(c, '#');
}

TEST(PortList, EmptyListStoresAnEmptyText) {
    char out[1] = {'#'};
    EXPECT_EQ(storePortList({}, out, 1), 0u);
    EXPECT_EQ(out[0], '\0');
    char untouched[1] = {'#'};
    EXPECT_EQ(storePortList({}, untouched, 0), 0u);
    EXPECT_EQ(untouched[0], '#');
}

struct NameCase {
    const char* name;
    PortNameRule rule;
};
void PrintTo(const NameCase& c, std::ostream* out) {
    *out << '"' << c.name << '"';
}

class PortNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortNames, FollowTheComRules) {
    EXPECT_EQ(classifyPortName(GetParam().name), GetParam().rule) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PortNames,
    ::testing::Values(NameCase{"COM3", PortNameRule::kAdd}, NameCase{"com12", PortNameRule::kAdd},
                      NameCase{"Com1", PortNameRule::kAdd}, NameCase{"COM256", PortNameRule::kAdd},
                      NameCase{"LPT1", PortNameRule::kSkip}, NameCase{"CO", PortNameRule::kSkip},
                      NameCase{"", PortNameRule::kSkip}, NameCase{"COM0", PortNameRule::kEndWalk},
                      NameCase{"COM257", PortNameRule::kEndWalk},
                      NameCase{"COM", PortNameRule::kEndWalk},
                      NameCase{"COMX", PortNameRule::kEndWalk}));

// Whatever ports this system has: the length without a buffer is the
// length of the stored text, and a second walk gives the same list.
TEST(PortList, SystemListIsConsistentAndRepeatable) {
    const unsigned int length = listComports(nullptr, 0);
    std::vector<char> first(length + 1, '#');
    ASSERT_EQ(listComports(first.data(), length + 1), length);
    EXPECT_EQ(std::strlen(first.data()), length);
    std::vector<char> second(length + 1, '#');
    ASSERT_EQ(listComports(second.data(), length + 1), length);
    EXPECT_STREQ(first.data(), second.data());
    for (const std::string& name : serialPortNames()) {
        EXPECT_EQ(name.find(','), std::string::npos) << name;
        EXPECT_FALSE(name.empty());
    }
}

// A bare COM name opens through the device namespace (above COM9 nothing
// else opens); every other name stays as it is.
TEST(PortList, WindowsPathOfAPortName) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"COM1", "\\\\.\\COM1"},
        {"COM12", "\\\\.\\COM12"},
        {"com256", "\\\\.\\com256"},
        {"\\\\.\\COM12", "\\\\.\\COM12"},
        {"COM", "COM"},
        {"COM1x", "COM1x"},
        {"COM 1", "COM 1"},
        {"LPT1", "LPT1"},
        {"/dev/ttyACM0", "/dev/ttyACM0"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(windowsPortPath(c.first), c.second) << c.first;
}

}  // namespace
}  // namespace koblib
