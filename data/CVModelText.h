#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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
// keys it names, cut to a bounded length (a key path can hold the document's
// own keys); `otherwise` when the element reported no error.
[[nodiscard]] std::string CVRefusalForLog(const std::optional<JSONModelError>& error, std::string_view otherwise);

// The refusals of one list of a document: a hostile list of many bad
// elements must not swell the log with a line for each. The first
// kMaxRefusalLines refusals get a line of their own; finish() then writes one
// line "<operation> [E] Skipped <n> more <kind> entries of this list" at error
// level on CVLog.core with the count of the rest, when there are any.
inline constexpr std::size_t kMaxRefusalLines = 100;
class CVRefusalLines {
public:
    CVRefusalLines(std::string_view operation, std::string_view kind) : operation_(operation), kind_(kind) {}
    // Counts one refusal; true while it still gets a line of its own.
    bool count() { return ++refused_ <= kMaxRefusalLines; }
    void finish() const;
    [[nodiscard]] std::size_t refused() const { return refused_; }

private:
    std::string operation_;
    std::string kind_;
    std::size_t refused_ = 0;
};

// Reads a document's list element by element, so that one bad element never
// costs the others: `read` makes and keeps the model of one element and
// answers whether it could. Each element it refuses is logged at error level
// on CVLog.core as "<operation> [E] Skipped <kind> at index <i> (id <id>):
// <why>", bounded as CVRefusalLines says. Answers how many were refused.
using CVElementReader = std::function<bool(const boost::json::value& element, JSONModelErrorOut error)>;
std::size_t CVReadEachElement(const boost::json::array& list, std::string_view operation, std::string_view kind,
                              const CVElementReader& read);

// A copy of the object without one key, so that a model can read the rest and
// then that key's elements one by one.
[[nodiscard]] boost::json::object CVObjectWithoutKey(const boost::json::object& object, std::string_view key);

}  // namespace ambrell
