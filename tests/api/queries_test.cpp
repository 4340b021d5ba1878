// kob_list and kob_version, answered on the caller's thread from the
// device table.
#include <cstring>

#include "api_test.h"

namespace koblib {
namespace {

struct ListCase {
    unsigned int size;
    unsigned int result;
    const char* stored;  // null: the buffer is not touched
};

TEST_F(ApiTest, ListJoinsSerialsInOrderAndStoresOnlyWhenTheBufferIsLargeEnough) {
    detachSim();
    attach("B2");  // plugged in first, listed second
    attach("A1");
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived("A1"));
    ASSERT_TRUE(waitArrived("B2"));

    const ListCase cases[] = {
        {64, 6, "A1,B2"},
        {6, 6, "A1,B2"},
        {5, 6, nullptr},
        {1, 6, nullptr},
    };
    for (const ListCase& c : cases) {
        char buffer[64];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(kob_list(buffer, c.size), c.result) << "size " << c.size;
        if (c.stored) {
            EXPECT_STREQ(buffer, c.stored) << "size " << c.size;
        } else {
            for (char ch : buffer)
                ASSERT_EQ(ch, 'x') << "size " << c.size << ": buffer touched";
        }
    }
    EXPECT_EQ(kob_list(nullptr, 0), 6u);

    // Both unplugged while open: the table is empty again.
    ASSERT_EQ(kobsim_detach("A1"), 0);
    ASSERT_EQ(kobsim_detach("B2"), 0);
    ASSERT_TRUE(waitRemoved("A1"));
    ASSERT_TRUE(waitRemoved("B2"));
    char one[1] = {'x'};
    EXPECT_EQ(kob_list(one, 1), 1u);
    EXPECT_EQ(one[0], '\0');
    EXPECT_EQ(kob_list(nullptr, 0), 1u);
}

TEST_F(ApiTest, ListSkipsTheSeparatorAfterAnEmptySerial) {
    detachSim();
    attach("", 0x0321);
    attach("C3");
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived(""));
    ASSERT_TRUE(waitArrived("C3"));

    char buffer[16];
    EXPECT_EQ(kob_list(buffer, sizeof buffer), 3u);
    EXPECT_STREQ(buffer, "C3");
    // The empty serial names exactly the device without a serial.
    EXPECT_EQ(kob_version(""), 0x0321u);
}

TEST_F(ApiTest, VersionOfAttachedUnknownAndNullSerials) {
    attach("VER-1", 0x0123);
    // Before the open the table is empty.
    EXPECT_EQ(kob_version("VER-1"), 0u);
    ASSERT_NE(openAll(), nullptr);
    ASSERT_TRUE(waitArrived("VER-1"));
    ASSERT_TRUE(waitArrived(kSimSerial));

    const struct {
        const char* serial;
        unsigned int version;
    } cases[] = {
        {"VER-1", 0x0123}, {kSimSerial, kSimVersion},
        {"VER-2", 0},      {"VER", 0},
        {"VER-10", 0},     {"", 0},
        {nullptr, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kob_version(c.serial), c.version) << (c.serial ? c.serial : "(null)");

    kob_close();
    EXPECT_EQ(kob_version("VER-1"), 0u);
}

}  // namespace
}  // namespace koblib
