// A virtual KOB-1 as an emulated USB device: a configfs gadget with one HID
// function (usb_f_hid), bound to the dummy host/device controller, so that
// the host side goes through the kernel's real USB HID driver. The device
// end is the gadget's /dev/hidgN. One at a time (one dummy controller).
#pragma once

#include <cstdint>
#include <string>
#include <thread>

#include "kernel_kob.h"

namespace koblib::vm {

class GadgetKOB : public KernelKOB {
  public:
    // serial: the USB serial-number string ("" for a device without one);
    // bcdDevice: the device release number.
    GadgetKOB(const std::string& serial, std::uint32_t bcdDevice);
    ~GadgetKOB() override;

    // Unbinds the gadget from the controller: a USB disconnect.
    void unplug() override;

  private:
    bool writeInput(const unsigned char* report, std::size_t length) override;
    bool configure(std::uint32_t bcdDevice);
    bool waitWritable();
    void readerLoop();
    void removeConfiguration();

    std::string gadgetDir_;
    bool bound_ = false;
    int fd_ = -1;      // the gadget's /dev/hidgN
    int stopFd_ = -1;  // ends the reader and a writer waiting to write
    std::thread reader_;
};

}  // namespace koblib::vm
