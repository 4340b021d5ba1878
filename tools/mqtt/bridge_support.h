// What the bridge's source files share: the time in messages, log lines,
// command payloads and the library folder's state.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace kobmqtt {

// Seconds since the epoch, as messages carry it.
double now();
// One line on standard error, "kob-mqtt: " first.
void logLine(const std::string& text);
// A command's payload as JSON; not an object when it is too large or no JSON.
nlohmann::json commandObject(const std::string& payload);
// What changes when the library folder does: each entry's name, size and
// time of change ("" for a folder that cannot be read).
std::string folderStamp(const std::string& dir);

}  // namespace kobmqtt
