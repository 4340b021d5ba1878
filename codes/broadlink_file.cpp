#include "code_file.h"

namespace kobc {

bool looksLikeBroadlink(std::string_view) {
    return false;
}

bool readBroadlink(std::string_view, const std::string&, std::vector<Remote>&, FileError& error) {
    return fileError(error, 0, "not read yet", KOBC_E_UNSUPPORTED);
}

bool writeBroadlink(const std::vector<const Remote*>&, std::string&, FileError& error) {
    return fileError(error, 0, "not written yet", KOBC_E_UNSUPPORTED);
}

}  // namespace kobc
