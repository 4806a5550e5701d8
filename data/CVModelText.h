#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <boost/json/fwd.hpp>

#include "jsonmodel/JSONModel/JSONModelError.h"

namespace ambrell {

// A name as the web service writes it, with every backslash followed by "n"
// turned into a line break.
[[nodiscard]] std::string CVNameWithLineBreaks(std::string_view text);

// The number a text starts with, as a building's floor keys give floor
// indexes: blanks, a sign and digits; 0 when there is none; held to the
// 64-bit range.
[[nodiscard]] std::int64_t CVIntegerValueOfText(std::string_view text);

// A text value as a log line shows it: in JSON quotes, cut to a bounded
// length so that a hostile document cannot swell the log; a number as it is;
// empty for any other value.
[[nodiscard]] std::string CVShortTextForLog(const boost::json::value& value);

// The "id" of a document element as CVShortTextForLog shows it; empty when
// the element has none.
[[nodiscard]] std::string CVElementIdForLog(const boost::json::value& element);
// The same, with "none" for an element without an id.
[[nodiscard]] std::string CVElementIdOrNoneForLog(const boost::json::value& element);

// Why an element was refused, for a log line: the error's description and the
// keys it names; `otherwise` when the element reported no error.
[[nodiscard]] std::string CVRefusalForLog(const std::optional<JSONModelError>& error, std::string_view otherwise);

// A copy of the object without one key, so that a model can read the rest and
// then that key's elements one by one.
[[nodiscard]] boost::json::object CVObjectWithoutKey(const boost::json::object& object, std::string_view key);

}  // namespace ambrell
