// The LIRC driver over KOBLIB: the driver table that lircd, mode2 and the
// other LIRC programs load. KOB_LIRC_DRIVER_NAME names the build ("kob"
// over the hardware, "kob_sim" over the virtual KOB-1).
#include <lirc_driver.h>

#include "kob_bridge.h"

namespace {

using koblirc::KOBBridge;

int openDevice(const char* device) {
    return KOBBridge::instance().open(device);
}
int initDevice() {
    return KOBBridge::instance().init();
}
int deinitDevice() {
    return KOBBridge::instance().deinit();
}
int closeDevice() {
    return KOBBridge::instance().close();
}
int sendCode(ir_remote* remote, ir_ncode* code) {
    return KOBBridge::instance().send(remote, code);
}
char* receiveCode(ir_remote* remotes) {
    return KOBBridge::instance().receive(remotes);
}
int controlDriver(unsigned int cmd, void* arg) {
    return KOBBridge::instance().control(cmd, arg);
}
lirc_t readData(lirc_t timeout) {
    return static_cast<lirc_t>(KOBBridge::instance().readData(static_cast<std::uint32_t>(timeout)));
}

const struct driver kobDriver = {
    "auto",                                                                    // device
    -1,                                                                        // fd
    LIRC_CAN_REC_MODE2 | LIRC_CAN_SEND_PULSE | LIRC_CAN_SET_TRANSMITTER_MASK,  // features
    LIRC_MODE_PULSE,                                                           // send_mode
    LIRC_MODE_MODE2,                                                           // rec_mode
    0,                                                                         // code_length
    openDevice,
    initDevice,
    deinitDevice,
    sendCode,
    receiveCode,
    receive_decode,
    controlDriver,
    readData,
    KOB_LIRC_DRIVER_NAME,
    4,  // resolution: the device counts 4 us ticks
    3,  // api_version
    "1.0",
    "KOB-1 USB IR transceiver through KOBLIB. Options: serial:S picks the device "
    "(the device path names a serial too; default the first one); echo:1 passes on what the "
    "device hears of its own codes (dropped by default). Sends go out on emitter 1 until "
    "SET_TRANSMITTERS.",
    closeDevice,
    "auto",
};

}  // namespace

__attribute__((visibility("default"))) const struct driver* hardwares[] = {&kobDriver, nullptr};
