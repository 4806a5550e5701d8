#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include "Ambrell/CVHighway.h"

// The machinery the route model's JSON coding shares: where in the document a
// value is, typed reading with an error that names that place, and writing
// that leaves absent members out. Included by the coding sources only.

namespace ambrell::routejson {

// Deeper documents are refused when parsing text and when reading or writing
// values, so that hostile input (or a step made to contain itself) cannot
// exhaust the stack.
inline constexpr std::size_t kMaxNestingDepth = 64;

// The way from the top of the document to a value. Each segment lives on the
// stack of the call that descends into it, so a path is only valid while
// that call runs.
class Path {
public:
    Path() = default;
    Path(const Path&) = delete;
    Path& operator=(const Path&) = delete;

    [[nodiscard]] Path child(std::string_view key) const { return Path(this, key, 0, false); }
    [[nodiscard]] Path element(std::size_t index) const { return Path(this, {}, index, true); }
    [[nodiscard]] std::size_t depth() const { return depth_; }
    // "routes[0].legs[1].distance"; empty for the top.
    [[nodiscard]] std::string text() const;

    // Throws CVRouteCodingError for this place.
    [[noreturn]] void fail(const std::string& reason) const;
    // Fails when the path lies deeper than the coding allows.
    void checkDepth() const;

private:
    Path(const Path* parent, std::string_view key, std::size_t index, bool isIndex)
        : parent_(parent), key_(key), index_(index), isIndex_(isIndex), depth_(parent->depth_ + 1) {}

    const Path* parent_ = nullptr;
    std::string_view key_;
    std::size_t index_ = 0;
    bool isIndex_ = false;
    std::size_t depth_ = 0;
};

// Parses a whole document; fails (at the top) when the text is not JSON or
// nests deeper than kMaxNestingDepth.
[[nodiscard]] boost::json::value parse(std::string_view text);

// Conversions of one value; each fails with the path when the value is of
// another kind or out of range.
[[nodiscard]] std::string asText(const boost::json::value& value, const Path& path);
[[nodiscard]] double asNumber(const boost::json::value& value, const Path& path);
// Integral numbers within the int range only.
[[nodiscard]] int asInteger(const boost::json::value& value, const Path& path);
// Any number within the 64-bit range, truncated toward zero.
[[nodiscard]] std::int64_t asTruncatedInteger(const boost::json::value& value, const Path& path);
// The way type's text, or its number.
[[nodiscard]] CVHighway asHighway(const boost::json::value& value, const Path& path);
[[nodiscard]] const boost::json::array& asArray(const boost::json::value& value, const Path& path);

// Reads the members of one JSON object. A missing key and a null value are
// both absent.
class ObjectReader {
public:
    ObjectReader(const boost::json::value& value, const Path& path);

    [[nodiscard]] const Path& path() const { return path_; }
    [[nodiscard]] const boost::json::value* find(std::string_view key) const;

    template <typename Convert>
    [[nodiscard]] auto value(std::string_view key, Convert convert) const
        -> std::optional<std::invoke_result_t<Convert, const boost::json::value&, const Path&>> {
        const auto* found = find(key);
        if (found == nullptr) return std::nullopt;
        const Path path = path_.child(key);
        return convert(*found, path);
    }

    template <typename Convert>
    [[nodiscard]] auto list(std::string_view key, Convert convert) const
        -> std::optional<std::vector<std::invoke_result_t<Convert, const boost::json::value&, const Path&>>> {
        const auto* found = find(key);
        if (found == nullptr) return std::nullopt;
        const Path listPath = path_.child(key);
        listPath.checkDepth();
        const auto& array = asArray(*found, listPath);
        std::vector<std::invoke_result_t<Convert, const boost::json::value&, const Path&>> items;
        items.reserve(array.size());
        for (std::size_t index = 0; index < array.size(); ++index) {
            const Path elementPath = listPath.element(index);
            items.push_back(convert(array[index], elementPath));
        }
        return items;
    }

    // Objects are read by `read(ObjectReader)`.
    template <typename Read>
    [[nodiscard]] auto object(std::string_view key, Read read) const {
        return value(key, [&read](const boost::json::value& found, const Path& path) {
            return read(ObjectReader(found, path));
        });
    }
    template <typename Read>
    [[nodiscard]] auto objects(std::string_view key, Read read) const {
        return list(key, [&read](const boost::json::value& found, const Path& path) {
            return read(ObjectReader(found, path));
        });
    }

    [[nodiscard]] std::optional<std::string> text(std::string_view key) const { return value(key, asText); }
    [[nodiscard]] std::optional<double> number(std::string_view key) const { return value(key, asNumber); }
    [[nodiscard]] std::optional<int> integer(std::string_view key) const { return value(key, asInteger); }
    [[nodiscard]] std::optional<std::int64_t> truncatedInteger(std::string_view key) const {
        return value(key, asTruncatedInteger);
    }
    [[nodiscard]] std::optional<CVHighway> highway(std::string_view key) const { return value(key, asHighway); }
    [[nodiscard]] std::optional<std::vector<std::string>> texts(std::string_view key) const {
        return list(key, asText);
    }
    [[nodiscard]] std::optional<std::vector<int>> integers(std::string_view key) const { return list(key, asInteger); }
    // A number, or an object whose "value" is taken.
    [[nodiscard]] std::optional<double> numberOrValueObject(std::string_view key) const;

private:
    const boost::json::object* object_;
    const Path& path_;
};

// The non-null object a pointer holds; fails with the path when it holds none.
template <typename T>
const T& pointee(const std::shared_ptr<T>& pointer, const Path& path) {
    if (!pointer) path.fail("no object to write");
    return *pointer;
}

// Builds one JSON object; absent members are left out.
class ObjectWriter {
public:
    explicit ObjectWriter(const Path& path);

    [[nodiscard]] const Path& path() const { return path_; }

    void text(std::string_view key, const std::optional<std::string>& text);
    // Whole numbers are written as integers; a number that is not finite
    // has no JSON form and fails.
    void number(std::string_view key, std::optional<double> number);
    void integer(std::string_view key, std::optional<std::int64_t> integer);
    void highway(std::string_view key, std::optional<CVHighway> highway);
    void texts(std::string_view key, const std::optional<std::vector<std::string>>& texts);
    void integers(std::string_view key, const std::optional<std::vector<int>>& integers);

    // `write(item, path)` gives the JSON of one item.
    template <typename T, typename Write>
    void object(std::string_view key, const T& item, Write write) {
        const Path path = path_.child(key);
        object_[key] = write(item, path);
    }
    template <typename T, typename Write>
    void list(std::string_view key, const std::vector<T>& items, Write write) {
        const Path listPath = path_.child(key);
        listPath.checkDepth();
        boost::json::array array;
        array.reserve(items.size());
        for (std::size_t index = 0; index < items.size(); ++index) {
            const Path elementPath = listPath.element(index);
            array.push_back(write(items[index], elementPath));
        }
        object_[key] = std::move(array);
    }
    template <typename T, typename Write>
    void list(std::string_view key, const std::optional<std::vector<T>>& items, Write write) {
        if (items) list(key, *items, write);
    }

    [[nodiscard]] boost::json::value take() { return boost::json::value(std::move(object_)); }

private:
    boost::json::object object_;
    const Path& path_;
};

}  // namespace ambrell::routejson
