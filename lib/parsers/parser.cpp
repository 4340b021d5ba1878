#include "parsers/parser.h"

namespace koblib {

Parser::~Parser() = default;

}  // namespace koblib
