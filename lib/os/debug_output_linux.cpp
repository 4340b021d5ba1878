#include <syslog.h>

#include <string>

namespace koblib {

void systemDebugOutput(const std::string& text) {
    syslog(LOG_DEBUG, "%s", text.c_str());
}

}  // namespace koblib
