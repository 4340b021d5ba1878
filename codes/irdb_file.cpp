#include "code_file.h"

namespace kobc {

bool looksLikeIrdb(std::string_view) {
    return false;
}

bool readIrdb(std::string_view, const std::string&, std::vector<Remote>&, FileError& error) {
    return fileError(error, 0, "not read yet", KOBC_E_UNSUPPORTED);
}

bool writeIrdb(const std::vector<const Remote*>&, std::string&, FileError& error) {
    return fileError(error, 0, "not written yet", KOBC_E_UNSUPPORTED);
}

}  // namespace kobc
