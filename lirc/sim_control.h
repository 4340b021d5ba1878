// Control of the virtual KOB-1s of the kob_sim driver from outside the
// LIRC program that loaded it: the driver option control:PATH (or, for the
// programs that take no driver options such as irrecord, the environment
// variable KOB_SIM_CONTROL=PATH) makes a FIFO at PATH that takes one command
// per line:
//   receive SERIAL HZ WORD...      the device hears a frame (tick words,
//                                  decimal or 0x-prefixed hexadecimal)
//   receive-hex SERIAL HZ WORD...  the same with hexadecimal words as
//                                  kob listen prints them ("FFFF 0229 ...")
//   attach SERIAL | detach SERIAL  plug a device in or out
//   configure SERIAL LOOPBACK AIRTIME_PERCENT
//   outputs SERIAL FILE            the device's output reports since the
//                                  last call, as hex, written to FILE whole
//                                  (through a rename)
#ifndef KOBLIB_LIRC_SIM_CONTROL_H
#define KOBLIB_LIRC_SIM_CONTROL_H

#include <string>
#include <thread>

namespace koblirc {

class SimControl {
  public:
    SimControl();
    ~SimControl();
    // Starts listening on a FIFO at path (made if missing); false on failure
    // or when already listening.
    bool listen(const std::string& path);
    // Runs one command line; false when it is unknown or fails.
    static bool run(const std::string& line);

  private:
    void loop();

    int fifo_ = -1;
    int stop_[2] = {-1, -1};
    std::thread reader_;
};

}  // namespace koblirc

#endif
