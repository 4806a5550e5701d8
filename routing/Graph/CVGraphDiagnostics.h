#pragma once

#include <string_view>

namespace ambrell::graphdetail {

// A programming error of a caller, reported through the debug log as
// "<operation> Invalid parameter not satisfying: <condition> in <operation> (<file>:<line>)."
// and survived: the caller goes on with a safe answer.
void reportInvalidParameter(std::string_view condition, std::string_view operation, std::string_view file, int line);

}  // namespace ambrell::graphdetail
