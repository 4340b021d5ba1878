// Entry of the test programs that run inside the VM. They make and remove
// kernel HID and USB devices, so they refuse to run anywhere else: the VM's
// init sets KOBLIB_VM=1.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    const char* inside = std::getenv("KOBLIB_VM");
    if (!inside || std::strcmp(inside, "1") != 0) {
        std::fprintf(stderr, "%s runs only inside the test VM (tests/vm/run_vm.sh)\n", argv[0]);
        return 77;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
