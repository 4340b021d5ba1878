// The Linux port list over a prepared sysfs and /dev tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_files.h"
#include "upgrade/port_list_linux.h"

namespace koblib {
namespace {

namespace fs = std::filesystem;

class TtyTree : public ::testing::Test {
  protected:
    // A tty in sysfs: with a device behind it or not, with a UART type or
    // not, with a node in dev or not.
    void add(const std::string& name, bool device, const char* type = nullptr, bool node = true) {
        const fs::path entry = fs::path(sys) / name;
        fs::create_directories(entry);
        if (device) fs::create_directories(entry / "device");
        if (type != nullptr) dir.write("sys/" + name + "/type", type);
        if (node) dir.write("dev/" + name, "");
    }

    koblib_test::TempDir dir;
    std::string sys = dir.path("sys");
    std::string dev = dir.path("dev");
};

TEST_F(TtyTree, ListsRealPortsInNameOrderWithFullPaths) {
    fs::create_directories(sys);
    fs::create_directories(dev);
    add("ttyUSB10", true);
    add("ttyACM0", true);
    add("ttyUSB2", true);
    add("tty0", false);  // a console: no device behind it
    add("ptmx", false);
    add("ttyS0", true, "0\n");             // a UART slot without hardware
    add("ttyS1", true, "4\n");             // a UART that answers
    add("ttyACM1", true, nullptr, false);  // no node: cannot be opened here
    const std::vector<std::string> expected = {dev + "/ttyACM0", dev + "/ttyS1", dev + "/ttyUSB2",
                                               dev + "/ttyUSB10"};
    EXPECT_EQ(listTtyPorts(sys, dev), expected);
}

TEST_F(TtyTree, MissingSysfsGivesAnEmptyList) {
    EXPECT_TRUE(listTtyPorts(dir.path("nothing"), dev).empty());
}

}  // namespace
}  // namespace koblib
