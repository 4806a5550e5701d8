#pragma once

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include <boost/json/fwd.hpp>

#include "jsonmodel/JSONModel/JSONURL.h"

namespace ambrell {

// Converts a JSON value of one class into a property of another and back.
// The class names are the mapping's own vocabulary ("NSString", "NSNumber",
// "NSArray", "NSDictionary", "NSNull") so messages and setter names read the
// same on every platform. Stateless: one shared instance serves every thread.
class JSONValueTransformer {
public:
    static const JSONValueTransformer& shared();

    // The 17 rows type encoding -> primitive name.
    using PrimitiveName = std::pair<std::string_view, std::string_view>;
    [[nodiscard]] static std::span<const PrimitiveName> primitivesNames();
    // The first name of an encoding ("i" -> "int"), or empty.
    [[nodiscard]] static std::string_view primitiveNameForEncoding(std::string_view encoding);

    // The mapping's class name of a parsed JSON value: booleans and every
    // number are "NSNumber", null is "NSNull".
    [[nodiscard]] static std::string_view classByResolvingClusterClasses(const boost::json::value& value);

    // Whether the number's integer value is not 0.
    [[nodiscard]] bool BOOLFromNSNumber(const boost::json::value& number) const;
    // "true" or "yes" in any letter case, else whether the text's integer value is not 0.
    [[nodiscard]] bool BOOLFromNSString(std::string_view text) const;
    [[nodiscard]] boost::json::value JSONObjectFromBOOL(bool flag) const;

    // The number at the start of the text (after blanks), as an integer when
    // it is written as one; 0 when the text does not start with a number.
    // A number beyond the range of a double comes back as an infinity.
    [[nodiscard]] boost::json::value NSNumberFromNSString(std::string_view text) const;
    // Integers in decimal, booleans as "1" or "0", other numbers in the
    // shortest form that reads back to the same double.
    [[nodiscard]] std::string NSStringFromNSNumber(const boost::json::value& number) const;

    // None when the text is not a URL reference.
    [[nodiscard]] std::optional<JSONURL> NSURLFromNSString(std::string_view text) const;
    [[nodiscard]] std::string JSONObjectFromNSURL(const JSONURL& url) const;

    // Every ":" is removed, then the text must read as yyyy-MM-dd'T'HHmmss
    // followed by "Z" or a +hhmm/-hhmm offset; none otherwise, and none for
    // dates a time point cannot hold.
    [[nodiscard]] std::optional<std::chrono::system_clock::time_point> NSDateFromNSString(std::string_view text) const;
    // yyyy-MM-dd'T'HH:mm:ssZZZ in UTC, e.g. "2024-05-01T10:30:00+0000".
    [[nodiscard]] std::string JSONObjectFromNSDate(std::chrono::system_clock::time_point date) const;
    // Seconds since 1 January 1970; none when a time point cannot hold it.
    [[nodiscard]] std::optional<std::chrono::system_clock::time_point> NSDateFromNSNumber(double seconds) const;
};

// A value type that is neither a JSON type nor a model converts through a
// specialisation of this template, found at compile time:
//
//     template <> struct JSONValueConversion<CVPoint> {
//         static constexpr std::string_view name = "CVPoint";
//         // Which JSON classes convert ("CVPointFromNSDictionary").
//         static bool accepts(std::string_view jsonClass) { return jsonClass == "NSDictionary"; }
//         // None when the value does not make a CVPoint.
//         static std::optional<CVPoint> fromJSON(const boost::json::value& value);
//         static boost::json::value toJSON(const CVPoint& point);
//     };
template <typename T>
struct JSONValueConversion;

}  // namespace ambrell
