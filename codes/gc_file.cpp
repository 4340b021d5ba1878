#include "code_file.h"

namespace kobc {

bool looksLikeGlobalCache(std::string_view) {
    return false;
}

bool readGlobalCache(std::string_view, const std::string&, std::vector<Remote>&, FileError& error) {
    return fileError(error, 0, "not read yet", KOBC_E_UNSUPPORTED);
}

bool writeGlobalCache(const std::vector<const Remote*>&, std::string&, FileError& error) {
    return fileError(error, 0, "not written yet", KOBC_E_UNSUPPORTED);
}

}  // namespace kobc
