// lircd.conf: the remotes LIRC users have, read and written.
#include "code_file.h"

namespace kobc {

bool looksLikeLirc(std::string_view text) {
    return text.find("begin remote") != std::string_view::npos;
}

bool readLirc(std::string_view, const std::string&, std::vector<Remote>&, FileError& error) {
    error.error = KOBC_E_UNSUPPORTED;
    error.what = "lircd.conf files are not read yet";
    return false;
}

bool writeLirc(const std::vector<const Remote*>&, std::string&, FileError& error) {
    error.error = KOBC_E_UNSUPPORTED;
    error.what = "lircd.conf files are not written yet";
    return false;
}

}  // namespace kobc
