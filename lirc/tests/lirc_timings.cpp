// The LIRC plugin's conversions from the command line, for the test that
// puts one code through every client's path. Reads lines from standard
// input and answers each with one line:
//   frame W0 W1 ...        -> the durations the plugin hands LIRC, signed
//                             (pulse +, space -), the leading silence first
//   ccf HZ GAP D0 D1 ...   -> the CCF code the plugin sends for LIRC's
//                             durations (us) with that carrier and final gap
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "pulse_code.h"

int main() {
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        if (command == "frame") {
            std::vector<unsigned> words;
            for (unsigned w; in >> w;)
                words.push_back(w);
            std::string out;
            for (const auto d : koblirc::frameToDurations(words.data(), words.size())) {
                const long us = d & koblirc::kDurationMask;
                out +=
                    (out.empty() ? "" : " ") + std::to_string(d & koblirc::kPulseFlag ? us : -us);
            }
            std::cout << out << std::endl;
        } else if (command == "ccf") {
            unsigned hz = 0;
            std::uint32_t gap = 0;
            in >> hz >> gap;
            std::vector<std::uint32_t> durations;
            for (std::uint32_t d; in >> d;)
                durations.push_back(d);
            std::cout << koblirc::durationsToCCF(durations, hz, gap) << std::endl;
        } else {
            std::cout << "unknown command" << std::endl;
        }
    }
    return 0;
}
