#pragma once

#include <string>

namespace ambrell {

class CVDisplayRule;
class CVLocation;

// The rule's label with its placeholders filled in for the location:
// {{name}} (or {{Name}}) by the name, {{roomId}} and {{externalId}} (first
// letters of their words in either case) by the external id when the location
// has one. The values go in as they are, "$1" or "\" included. Empty when the
// rule has no label.
[[nodiscard]] std::string expandedLabel(const CVLocation& location, const CVDisplayRule& rule);

}  // namespace ambrell
