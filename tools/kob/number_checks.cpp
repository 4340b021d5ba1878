#include "number_checks.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace kob {

namespace {

std::string shown(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

}  // namespace

CLI::Validator secondsFrom(double low, double high, bool lowIncluded) {
    const std::string range = lowIncluded ? "from " + shown(low) + " to " + shown(high)
                                          : "over " + shown(low) + " and at most " + shown(high);
    return CLI::Validator(
        [=](std::string& input) -> std::string {
            char* end = nullptr;
            errno = 0;
            const double value = std::strtod(input.c_str(), &end);
            const bool number = end != input.c_str() && *end == '\0' && errno != ERANGE;
            if (!number || !std::isfinite(value) || value > high ||
                (lowIncluded ? value < low : value <= low))
                return "'" + input + "' is not a number of seconds " + range;
            return {};
        },
        "SECONDS " + range + " s");
}

CLI::Validator wholeFrom(long long low, long long high, const std::string& unit) {
    const std::string range = "from " + std::to_string(low) + " to " + std::to_string(high) +
                              (unit.empty() ? "" : " ") + unit;
    return CLI::Validator(
        [=](std::string& input) -> std::string {
            char* end = nullptr;
            errno = 0;
            const long long value = std::strtoll(input.c_str(), &end, 10);
            if (end == input.c_str() || *end != '\0' || errno == ERANGE || value < low ||
                value > high)
                return "'" + input + "' is not a whole number " + range;
            return {};
        },
        "INTEGER " + range);
}

}  // namespace kob
