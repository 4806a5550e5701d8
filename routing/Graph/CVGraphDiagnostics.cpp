#include "routing/Graph/CVGraphDiagnostics.h"

#include "Ambrell/CVLog.h"

#include <fmt/format.h>

namespace ambrell::graphdetail {

void reportInvalidParameter(std::string_view condition, std::string_view operation, std::string_view file, int line) {
    CVLog::core().debug(
        "{} {}", operation,
        fmt::format("Invalid parameter not satisfying: {} in {} ({}:{}).", condition, operation, file, line));
}

}  // namespace ambrell::graphdetail
