// Range checks for the tool's number options, with messages a user reads
// ("--timeout: 1e10 is not from 0.001 to 86400 seconds").
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace kob {

// A finite number of seconds from low to high (low itself only when
// lowIncluded).
CLI::Validator secondsFrom(double low, double high, bool lowIncluded = true);

// A whole number from low to high; unit names what it counts ("Hz").
CLI::Validator wholeFrom(long long low, long long high, const std::string& unit = "");

}  // namespace kob
