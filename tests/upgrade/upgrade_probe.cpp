// A Windows program that runs the upgrade exports on request, for the
// Linux-side driver that runs it under Wine with a COM port linked to a
// virtual bootloader. One request per line on standard input:
//   is_kob PORT            -> "is_kob RESULT"
//   upgrade PORT HEXPATH   -> "upgrade RESULT PHASE,PERCENT;..." (progress)
//   list                   -> "list LENGTH TEXT"
//   quit
// It says "ready" first; every answer is one line, flushed.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "koblib.h"

namespace {

std::string progressText;

void KOB_CALL onProgress(int phase, int percent) {
    progressText += std::to_string(phase) + "," + std::to_string(percent) + ";";
}

}  // namespace

int main() {
    std::printf("ready\n");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string request;
        std::string port;
        std::string hexPath;
        words >> request >> port >> hexPath;
        if (request == "is_kob") {
            std::printf("is_kob %d\n", kob_upgrade_is_kob(port.c_str()));
        } else if (request == "upgrade") {
            progressText.clear();
            const int result = kob_upgrade(port.c_str(), hexPath.c_str(), onProgress);
            std::printf("upgrade %d %s\n", result, progressText.c_str());
        } else if (request == "list") {
            const unsigned int length = kob_upgrade_list_comports(nullptr, 0);
            std::vector<char> text(length + 1, '\0');
            kob_upgrade_list_comports(text.data(), length + 1);
            std::printf("list %u %s\n", length, text.data());
        } else if (request == "quit") {
            break;
        } else {
            std::printf("unknown %s\n", request.c_str());
        }
        std::fflush(stdout);
    }
    return 0;
}
