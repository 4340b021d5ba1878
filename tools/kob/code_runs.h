// Sending a code and learning one on a device: what kob send and kob learn
// do, and kob remote send and kob remote learn with a library button.
#pragma once

#include <string>

namespace kob {

class Session;
class Simulation;
struct Options;

// Sends CODE (anything loadCode takes) through the emitters, repeated,
// and waits for every addressed device's "IR Sent", printing each; the
// exit status (1 when a device reports a failed send).
int sendCode(Simulation& sim, const Options& o, const std::string& code, int emitters, int repeat);

// Learns a code on target with the progress bar on standard error and
// says what it decodes to; its CCF text. Failure when it does not finish
// within timeout seconds, Interrupted on Ctrl-C. The caller has called
// sim.pressWhenLearning() before opening the session.
std::string learnCode(Session& session, Simulation& sim, const std::string& target, int frequency,
                      double timeout);

}  // namespace kob
