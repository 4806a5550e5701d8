#pragma once

// How each kind of C++ member reads from and writes to JSON. Included by
// JSONModelDeclaration.h only: the model classes' own .cpp files instantiate it.

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <compare>
#include <concepts>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <unordered_map>
#include <utility>
#include <vector>

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

#include "jsonmodel/JSONModel/JSONModel.h"
#include "jsonmodel/JSONModel/JSONURL.h"
#include "jsonmodel/JSONModel/JSONValueTransformer.h"

namespace ambrell::detail {

namespace json = boost::json;

enum class ReadResult {
    value,    // stored
    none,     // the conversion gave nothing: the property becomes empty
    failure,  // context.error says why (or is empty)
};

struct TypeInfo {
    std::optional<std::string> type = std::nullopt;
    std::optional<std::string> structName = std::nullopt;
    std::optional<std::string> protocol = std::nullopt;
    bool standard = false;
    bool optionalType = false;
    std::string primitiveName = {};
};

template <typename T>
struct IsSharedPtr : std::false_type {};
template <typename T>
struct IsSharedPtr<std::shared_ptr<T>> : std::true_type {};

template <typename T>
concept ModelType = std::is_base_of_v<JSONModel, T>;
template <typename T>
concept SharedModelType = IsSharedPtr<T>::value && ModelType<typename T::element_type>;
template <typename T>
concept ModelElement = ModelType<T> || SharedModelType<T>;

template <typename T>
struct ModelOf {
    using type = T;
};
template <typename T>
struct ModelOf<std::shared_ptr<T>> {
    using type = T;
};

template <typename T>
struct IsOptional : std::false_type {};
template <typename T>
struct IsOptional<std::optional<T>> : std::true_type {};

template <typename T>
struct IsFunction : std::false_type {};
template <typename T>
struct IsFunction<std::function<T>> : std::true_type {};

template <typename T>
concept ConvertedType = requires(const json::value& value, const T& typed) {
    { JSONValueConversion<T>::kName } -> std::convertible_to<std::string_view>;
    { JSONValueConversion<T>::accepts(std::string_view()) } -> std::convertible_to<bool>;
    { JSONValueConversion<T>::fromJSON(value) } -> std::same_as<std::optional<T>>;
    { JSONValueConversion<T>::toJSON(typed) } -> std::convertible_to<json::value>;
};

template <typename T>
concept HasMapTypes = requires {
    typename T::key_type;
    typename T::mapped_type;
};

template <typename T>
concept StringMap = HasMapTypes<T> && std::is_same_v<typename T::key_type, std::string> &&
    (std::is_same_v<
         T, std::map<std::string, typename T::mapped_type, typename T::key_compare, typename T::allocator_type>> ||
     std::is_same_v<T, std::unordered_map<std::string, typename T::mapped_type, typename T::hasher,
                                          typename T::key_equal, typename T::allocator_type>>);

template <typename T>
struct IsVector : std::false_type {};
template <typename T, typename A>
struct IsVector<std::vector<T, A>> : std::true_type {};
template <typename T>
struct IsSet : std::false_type {};
template <typename T, typename C, typename A>
struct IsSet<std::set<T, C, A>> : std::true_type {};

inline std::string_view viewOf(const json::string& text) { return {text.data(), text.size()}; }

inline bool typeMismatch(JSONImportContext& context, std::string_view target) {
    context.error = JSONModelError::errorInvalidDataWithTypeMismatch(std::string(target) + " type not supported for " +
                                                                     context.modelClass->name() + "." +
                                                                     std::string(context.propertyName));
    return false;
}

inline ReadResult mismatch(JSONImportContext& context, std::string_view target) {
    typeMismatch(context, target);
    return ReadResult::failure;
}

inline ReadResult outOfRange(JSONImportContext& context, std::string_view target, const json::value& number) {
    context.error = JSONModelError::errorInvalidDataWithTypeMismatch(
        "Number " + json::serialize(number) + " is out of range of " + std::string(target) + " for " +
        context.modelClass->name() + "." + std::string(context.propertyName));
    return ReadResult::failure;
}

inline void prependToError(JSONImportContext& context, std::string_view component) {
    if (context.error) context.error = context.error->errorByPrependingKeyPathComponent(component);
}

template <typename T>
std::string modelName() {
    return shortTypeName(typeid(T));
}

template <typename T, typename Enable = void>
struct Codec;

// ---- primitives

template <>
struct Codec<bool> {
    static TypeInfo info() { return {.primitiveName = "BOOL"}; }
    static ReadResult read(bool& out, const json::value& value, JSONImportContext& context) {
        const auto& transformer = JSONValueTransformer::shared();
        switch (value.kind()) {
            case json::kind::bool_: out = value.get_bool(); return ReadResult::value;
            case json::kind::int64:
            case json::kind::uint64:
            case json::kind::double_: out = transformer.BOOLFromNSNumber(value); return ReadResult::value;
            case json::kind::string:
                out = transformer.BOOLFromNSString(viewOf(value.get_string()));
                return ReadResult::value;
            default: return mismatch(context, "BOOL");
        }
    }
    static JSONExportState write(bool in, json::value& out) {
        out = in;
        return JSONExportState::value;
    }
};

template <typename T>
constexpr std::string_view integerEncoding() {
    constexpr bool kIsSigned = std::is_signed_v<T>;
    switch (sizeof(T)) {
        case 1: return kIsSigned ? "c" : "C";
        case 2: return kIsSigned ? "s" : "S";
        case 4: return kIsSigned ? "i" : "I";
        default: return kIsSigned ? "q" : "Q";
    }
}

template <typename T>
struct Codec<T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>> {
    static std::string_view name() { return JSONValueTransformer::primitiveNameForEncoding(integerEncoding<T>()); }
    static TypeInfo info() { return {.primitiveName = std::string(name())}; }
    static ReadResult read(T& out, const json::value& value, JSONImportContext& context) {
        switch (value.kind()) {
            case json::kind::bool_: out = value.get_bool() ? 1 : 0; return ReadResult::value;
            case json::kind::int64:
                if (!std::in_range<T>(value.get_int64())) return outOfRange(context, name(), value);
                out = static_cast<T>(value.get_int64());
                return ReadResult::value;
            case json::kind::uint64:
                if (!std::in_range<T>(value.get_uint64())) return outOfRange(context, name(), value);
                out = static_cast<T>(value.get_uint64());
                return ReadResult::value;
            case json::kind::double_: {
                // Truncated toward zero, as an integer read of a number is.
                const long double whole = std::trunc(static_cast<long double>(value.get_double()));
                if (!(whole >= static_cast<long double>(std::numeric_limits<T>::min()) &&
                      whole <= static_cast<long double>(std::numeric_limits<T>::max()))) {
                    return outOfRange(context, name(), value);
                }
                out = static_cast<T>(whole);
                return ReadResult::value;
            }
            case json::kind::string: {
                const json::value number =
                    JSONValueTransformer::shared().NSNumberFromNSString(viewOf(value.get_string()));
                return read(out, number, context);
            }
            default: return mismatch(context, name());
        }
    }
    static JSONExportState write(T in, json::value& out) {
        if constexpr (std::is_signed_v<T>) {
            out = static_cast<std::int64_t>(in);
        } else {
            out = static_cast<std::uint64_t>(in);
        }
        return JSONExportState::value;
    }
};

template <typename T>
struct Codec<T, std::enable_if_t<std::is_floating_point_v<T>>> {
    static std::string_view name() { return sizeof(T) == sizeof(float) ? "float" : "double"; }
    static TypeInfo info() { return {.primitiveName = std::string(name())}; }
    static ReadResult read(T& out, const json::value& value, JSONImportContext& context) {
        switch (value.kind()) {
            case json::kind::bool_: out = value.get_bool() ? T(1) : T(0); return ReadResult::value;
            case json::kind::int64: out = static_cast<T>(value.get_int64()); return ReadResult::value;
            case json::kind::uint64: out = static_cast<T>(value.get_uint64()); return ReadResult::value;
            case json::kind::double_: {
                const double number = value.get_double();
                if (!std::isfinite(number) || std::fabs(number) > static_cast<double>(std::numeric_limits<T>::max())) {
                    return outOfRange(context, name(), value);
                }
                out = static_cast<T>(number);
                return ReadResult::value;
            }
            case json::kind::string: {
                const json::value number =
                    JSONValueTransformer::shared().NSNumberFromNSString(viewOf(value.get_string()));
                return read(out, number, context);
            }
            default: return mismatch(context, name());
        }
    }
    static JSONExportState write(T in, json::value& out) {
        out = static_cast<double>(in);
        return JSONExportState::value;
    }
};

// ---- texts, URLs, dates

template <>
struct Codec<std::string> {
    static TypeInfo info() { return {.type = "NSString", .standard = true}; }
    static ReadResult read(std::string& out, const json::value& value, JSONImportContext& context) {
        switch (value.kind()) {
            case json::kind::string: {
                const json::string& text = value.get_string();
                out.assign(text.data(), text.size());
                return ReadResult::value;
            }
            case json::kind::bool_:
            case json::kind::int64:
            case json::kind::uint64:
            case json::kind::double_:
                out = JSONValueTransformer::shared().NSStringFromNSNumber(value);
                return ReadResult::value;
            default: return mismatch(context, "NSString");
        }
    }
    static JSONExportState write(const std::string& in, json::value& out) {
        out = json::string_view(in.data(), in.size());
        return JSONExportState::value;
    }
};

template <>
struct Codec<JSONURL> {
    static TypeInfo info() { return {.type = "NSURL"}; }
    static ReadResult read(JSONURL& out, const json::value& value, JSONImportContext& context) {
        if (!value.is_string()) return mismatch(context, "NSURL");
        auto url = JSONValueTransformer::shared().NSURLFromNSString(viewOf(value.get_string()));
        if (!url) return ReadResult::none;
        out = std::move(*url);
        return ReadResult::value;
    }
    static JSONExportState write(const JSONURL& in, json::value& out) {
        out = JSONValueTransformer::shared().JSONObjectFromNSURL(in);
        return JSONExportState::value;
    }
};

template <>
struct Codec<std::chrono::system_clock::time_point> {
    using TimePoint = std::chrono::system_clock::time_point;
    static TypeInfo info() { return {.type = "NSDate"}; }
    static ReadResult read(TimePoint& out, const json::value& value, JSONImportContext& context) {
        const auto& transformer = JSONValueTransformer::shared();
        std::optional<TimePoint> date;
        switch (value.kind()) {
            case json::kind::string: date = transformer.NSDateFromNSString(viewOf(value.get_string())); break;
            case json::kind::int64:
            case json::kind::uint64:
            case json::kind::double_:
                date = transformer.NSDateFromNSNumber(value.to_number<double>());
                if (!date) return outOfRange(context, "NSDate", value);
                break;
            default: return mismatch(context, "NSDate");
        }
        if (!date) return ReadResult::none;
        out = *date;
        return ReadResult::value;
    }
    static JSONExportState write(const TimePoint& in, json::value& out) {
        out = JSONValueTransformer::shared().JSONObjectFromNSDate(in);
        return JSONExportState::value;
    }
};

// ---- raw JSON

template <>
struct Codec<json::value> {
    static TypeInfo info() { return {.primitiveName = "id"}; }
    static ReadResult read(json::value& out, const json::value& value, JSONImportContext&) {
        out = value;
        return ReadResult::value;
    }
    static JSONExportState write(const json::value& in, json::value& out) {
        if (in.is_null()) return JSONExportState::null;
        out = in;
        return JSONExportState::value;
    }
};

template <>
struct Codec<json::object> {
    static TypeInfo info() { return {.type = "NSDictionary", .standard = true}; }
    static ReadResult read(json::object& out, const json::value& value, JSONImportContext& context) {
        if (value.is_object()) {
            out = value.get_object();
            return ReadResult::value;
        }
        // An empty array stands for an empty dictionary.
        if (value.is_array() && value.get_array().empty()) {
            out = json::object();
            return ReadResult::value;
        }
        return mismatch(context, "NSDictionary");
    }
    static JSONExportState write(const json::object& in, json::value& out) {
        out = in;
        return JSONExportState::value;
    }
};

template <>
struct Codec<json::array> {
    static TypeInfo info() { return {.type = "NSArray", .standard = true}; }
    static ReadResult read(json::array& out, const json::value& value, JSONImportContext& context) {
        if (!value.is_array()) return mismatch(context, "NSArray");
        out = value.get_array();
        return ReadResult::value;
    }
    static JSONExportState write(const json::array& in, json::value& out) {
        out = in;
        return JSONExportState::value;
    }
};

// ---- optional

template <typename T>
struct Codec<std::optional<T>> {
    static TypeInfo info() {
        TypeInfo info = Codec<T>::info();
        info.optionalType = true;
        return info;
    }
    static ReadResult read(std::optional<T>& out, const json::value& value, JSONImportContext& context) {
        if (value.is_null()) {
            out.reset();
            return ReadResult::value;
        }
        T converted{};
        switch (Codec<T>::read(converted, value, context)) {
            case ReadResult::value: out = std::move(converted); return ReadResult::value;
            case ReadResult::none: out.reset(); return ReadResult::value;
            case ReadResult::failure: return ReadResult::failure;
        }
        return ReadResult::failure;
    }
    static JSONExportState write(const std::optional<T>& in, json::value& out) {
        if (!in) return JSONExportState::absent;
        return Codec<T>::write(*in, out);
    }
};

// ---- nested models

template <ModelType M>
struct Codec<M> {
    static TypeInfo info() { return {.type = modelName<M>()}; }
    static ReadResult read(M& out, const json::value& value, JSONImportContext& context) {
        M model;
        std::optional<JSONModelError> error;
        if (!model.initWithDictionary(value, &error)) {
            context.error = std::move(error);
            return ReadResult::failure;
        }
        out = std::move(model);
        return ReadResult::value;
    }
    static JSONExportState write(const M& in, json::value& out) {
        out = in.toDictionary();
        return JSONExportState::value;
    }
};

template <SharedModelType P>
struct Codec<P> {
    using M = typename P::element_type;
    static TypeInfo info() { return {.type = modelName<M>()}; }
    static ReadResult read(P& out, const json::value& value, JSONImportContext& context) {
        auto model = std::make_shared<M>();
        std::optional<JSONModelError> error;
        if (!model->initWithDictionary(value, &error)) {
            context.error = std::move(error);
            return ReadResult::failure;
        }
        out = std::move(model);
        return ReadResult::value;
    }
    static JSONExportState write(const P& in, json::value& out) {
        if (!in) return JSONExportState::absent;
        out = in->toDictionary();
        return JSONExportState::value;
    }
};

// ---- collections

template <typename E>
JSONExportState writeElement(const E& element, json::value& out) {
    const JSONExportState state = Codec<E>::write(element, out);
    if (state != JSONExportState::value) out = nullptr;
    return JSONExportState::value;
}

// Reads one element of a collection of values: "none" leaves the element
// empty. The element's place in the key path (an index or an entry's key) is
// only spelled out when it fails.
template <typename E, typename Place>
bool readElement(E& out, const json::value& value, JSONImportContext& context, const Place& place) {
    switch (Codec<E>::read(out, value, context)) {
        case ReadResult::value: return true;
        case ReadResult::none: out = E{}; return true;
        case ReadResult::failure:
            if constexpr (std::is_same_v<Place, std::size_t>) {
                prependToError(context, indexComponent(place));
            } else {
                prependToError(context, place);
            }
            return false;
    }
    return false;
}

template <typename Vector>
bool addModelElement(void* collection, const json::value& dictionary, std::string_view, JSONModelErrorOut error) {
    using E = typename Vector::value_type;
    auto& models = *static_cast<Vector*>(collection);
    if constexpr (SharedModelType<E>) {
        auto model = std::make_shared<typename E::element_type>();
        if (!model->initWithDictionary(dictionary, error)) return false;
        models.push_back(std::move(model));
    } else {
        models.emplace_back();
        if (!models.back().initWithDictionary(dictionary, error)) {
            models.pop_back();
            return false;
        }
    }
    return true;
}

template <typename E, typename A>
struct Codec<std::vector<E, A>> {
    static TypeInfo info() {
        TypeInfo info{.type = "NSArray", .standard = true};
        if constexpr (ModelElement<E>) info.protocol = modelName<typename ModelOf<E>::type>();
        return info;
    }
    static ReadResult read(std::vector<E, A>& out, const json::value& value, JSONImportContext& context) {
        const json::array* array = value.if_array();
        if constexpr (ModelElement<E>) {
            if (array == nullptr) {
                context.error = JSONModelError::errorInvalidDataWithTypeMismatch(
                    "Property '" + std::string(context.propertyName) + "' is declared as NSArray<" +
                    modelName<typename ModelOf<E>::type>() +
                    ">* but the corresponding JSON value is not a JSON Array.");
                return ReadResult::failure;
            }
            std::vector<E, A> models;
            models.reserve(array->size());
            std::optional<JSONModelError> error;
            // A failure inside a nested array leaves the models but reports the error: it fails the property.
            if (!collectModelsFromArray(value, &models, &addModelElement<std::vector<E, A>>, &error) || error) {
                context.error = std::move(error);
                return ReadResult::failure;
            }
            out = std::move(models);
            return ReadResult::value;
        } else {
            if (array == nullptr) return mismatch(context, "NSArray");
            std::vector<E, A> elements;
            elements.reserve(array->size());
            for (std::size_t i = 0; i < array->size(); ++i) {
                E element{};
                if (!readElement(element, (*array)[i], context, i)) return ReadResult::failure;
                elements.push_back(std::move(element));
            }
            out = std::move(elements);
            return ReadResult::value;
        }
    }
    static JSONExportState write(const std::vector<E, A>& in, json::value& out) {
        json::array array;
        array.reserve(in.size());
        for (const auto& element : in) writeElement(element, array.emplace_back(nullptr));
        out = std::move(array);
        return JSONExportState::value;
    }
};

template <typename E, typename C, typename A>
struct Codec<std::set<E, C, A>> {
    static_assert(!ModelElement<E>, "a set of models has no order to compare by: use a vector");
    static TypeInfo info() { return {.type = "NSSet"}; }
    static ReadResult read(std::set<E, C, A>& out, const json::value& value, JSONImportContext& context) {
        const json::array* array = value.if_array();
        if (array == nullptr) return mismatch(context, "NSSet");
        std::set<E, C, A> elements;
        for (std::size_t i = 0; i < array->size(); ++i) {
            E element{};
            if (!readElement(element, (*array)[i], context, i)) return ReadResult::failure;
            elements.insert(std::move(element));
        }
        out = std::move(elements);
        return ReadResult::value;
    }
    static JSONExportState write(const std::set<E, C, A>& in, json::value& out) {
        json::array array;
        array.reserve(in.size());
        for (const auto& element : in) writeElement(element, array.emplace_back(nullptr));
        out = std::move(array);
        return JSONExportState::value;
    }
};

template <StringMap T>
struct Codec<T> {
    using V = typename T::mapped_type;
    static TypeInfo info() {
        TypeInfo info{.type = "NSDictionary", .standard = true};
        if constexpr (ModelElement<V>) info.protocol = modelName<typename ModelOf<V>::type>();
        return info;
    }
    static ReadResult read(T& out, const json::value& value, JSONImportContext& context) {
        const json::object* object = value.if_object();
        if constexpr (ModelElement<V>) {
            if (object == nullptr) {
                context.error = JSONModelError::errorInvalidDataWithTypeMismatch(
                    "Property '" + std::string(context.propertyName) + "' is declared as NSDictionary<" +
                    modelName<typename ModelOf<V>::type>() +
                    ">* but the corresponding JSON value is not a JSON Object.");
                return ReadResult::failure;
            }
        } else {
            if (object == nullptr) {
                // An empty array stands for an empty dictionary.
                if (value.is_array() && value.get_array().empty()) {
                    out = T();
                    return ReadResult::value;
                }
                return mismatch(context, "NSDictionary");
            }
        }
        T entries;
        if constexpr (requires { entries.reserve(std::size_t{}); }) entries.reserve(object->size());
        for (const auto& entry : *object) {
            const std::string_view key(entry.key().data(), entry.key().size());
            V element{};
            if constexpr (ModelElement<V>) {
                std::optional<JSONModelError> error;
                bool imported = false;
                if constexpr (SharedModelType<V>) {
                    element = std::make_shared<typename V::element_type>();
                    imported = element->initWithDictionary(entry.value(), &error);
                } else {
                    imported = element.initWithDictionary(entry.value(), &error);
                }
                if (!imported) {
                    context.error = std::move(error);
                    prependToError(context, key);
                    return ReadResult::failure;
                }
            } else {
                if (!readElement(element, entry.value(), context, key)) return ReadResult::failure;
            }
            entries.insert_or_assign(std::string(key), std::move(element));
        }
        out = std::move(entries);
        return ReadResult::value;
    }
    static JSONExportState write(const T& in, json::value& out) {
        json::object object;
        object.reserve(in.size());
        for (const auto& [key, element] : in) writeElement(element, object[key]);
        out = std::move(object);
        return JSONExportState::value;
    }
};

// ---- value types with a conversion of their own

template <ConvertedType T>
    requires(!ModelType<T>)
struct Codec<T> {
    using Conversion = JSONValueConversion<T>;
    static TypeInfo info() { return {.structName = std::string(Conversion::kName)}; }
    static ReadResult read(T& out, const json::value& value, JSONImportContext& context) {
        if (!Conversion::accepts(JSONValueTransformer::classByResolvingClusterClasses(value))) {
            return mismatch(context, Conversion::kName);
        }
        auto converted = Conversion::fromJSON(value);
        if (!converted) return ReadResult::none;
        out = std::move(*converted);
        return ReadResult::value;
    }
    static JSONExportState write(const T& in, json::value& out) {
        out = Conversion::toJSON(in);
        return JSONExportState::value;
    }
};

// ---- anything else: only a custom setter imports it and only a custom getter exports it

template <typename T>
concept KnownType = std::is_arithmetic_v<T> || std::is_same_v<T, std::string> || std::is_same_v<T, JSONURL> ||
    std::is_same_v<T, std::chrono::system_clock::time_point> || std::is_same_v<T, json::value> ||
    std::is_same_v<T, json::object> || std::is_same_v<T, json::array> || IsOptional<T>::value || ModelType<T> ||
    SharedModelType<T> || IsVector<T>::value || IsSet<T>::value || StringMap<T> || ConvertedType<T>;

// Whether the mapping reads and writes a value of this type by itself, down to
// the elements of its collections. A member of any other type compiles only
// when its model ignores it or maps it with setters of its own.
template <typename T>
constexpr bool kMappable = KnownType<T> && !IsVector<T>::value && !IsSet<T>::value && !StringMap<T>;
template <typename T>
constexpr bool kMappable<std::optional<T>> = kMappable<T>;
template <typename E, typename A>
constexpr bool kMappable<std::vector<E, A>> = kMappable<E>;
template <typename E, typename C, typename A>
constexpr bool kMappable<std::set<E, C, A>> = kMappable<E>;
template <typename V, typename C, typename A>
constexpr bool kMappable<std::map<std::string, V, C, A>> = kMappable<V>;
template <typename V, typename H, typename E, typename A>
constexpr bool kMappable<std::unordered_map<std::string, V, H, E, A>> = kMappable<V>;

template <typename T>
    requires(!KnownType<T>)
struct Codec<T> {
    static TypeInfo info() { return {.type = modelName<T>()}; }
    static ReadResult read(T&, const json::value&, JSONImportContext& context) {
        return mismatch(context, modelName<T>());
    }
    static JSONExportState write(const T&, json::value&) {
        throw JSONModelProgrammingError("Value transformer not found",
                                        "[JSONValueTransformer __JSONObjectFrom" + modelName<T>() + ":] not found");
    }
};

// ---- comparing, hashing and showing values (index properties and descriptions)

// Whether a value holds models anywhere inside: those compare by their exported JSON.
template <typename T>
constexpr bool kHoldsModels = ModelElement<T>;
template <typename T>
constexpr bool kHoldsModels<std::optional<T>> = kHoldsModels<T>;
template <typename E, typename A>
constexpr bool kHoldsModels<std::vector<E, A>> = kHoldsModels<E>;
template <typename K, typename V, typename C, typename A>
constexpr bool kHoldsModels<std::map<K, V, C, A>> = kHoldsModels<V>;
template <typename K, typename V, typename H, typename E, typename A>
constexpr bool kHoldsModels<std::unordered_map<K, V, H, E, A>> = kHoldsModels<V>;

template <typename T>
bool exportsEqual(const T& lhs, const T& rhs) {
    json::value left;
    json::value right;
    const auto leftState = Codec<T>::write(lhs, left);
    const auto rightState = Codec<T>::write(rhs, right);
    return leftState == rightState && left == right;
}

template <typename T>
bool valuesEqual(const T& lhs, const T& rhs) {
    if constexpr (SharedModelType<T>) {
        if (!lhs || !rhs) return lhs == rhs;
        return lhs->toDictionary() == rhs->toDictionary();
    } else if constexpr (ModelType<T>) {
        return lhs.toDictionary() == rhs.toDictionary();
    } else if constexpr (std::equality_comparable<T> && !kHoldsModels<T>) {
        return lhs == rhs;
    } else {
        return exportsEqual(lhs, rhs);
    }
}

template <typename T>
std::optional<std::size_t> valueHash(const T& value) {
    if constexpr (IsOptional<T>::value) {
        if (!value) return std::nullopt;
        return valueHash(*value);
    } else if constexpr (SharedModelType<T>) {
        if (!value) return std::nullopt;
        return std::hash<std::string>{}(json::serialize(value->toDictionary()));
    } else if constexpr (std::is_same_v<T, std::string> || std::is_arithmetic_v<T>) {
        return std::hash<T>{}(value);
    } else if constexpr (std::is_same_v<T, JSONURL>) {
        return std::hash<std::string>{}(value.absoluteString);
    } else if constexpr (std::is_same_v<T, std::chrono::system_clock::time_point>) {
        return std::hash<std::int64_t>{}(value.time_since_epoch().count());
    } else {
        json::value exported;
        if (Codec<T>::write(value, exported) == JSONExportState::absent) return std::nullopt;
        return std::hash<std::string>{}(json::serialize(exported));
    }
}

template <typename T>
int valueCompare(const T& lhs, const T& rhs) {
    if constexpr (std::three_way_comparable<T> && !kHoldsModels<T>) {
        const auto order = lhs <=> rhs;
        if (order < 0) return -1;
        if (order > 0) return 1;
        return 0;
    } else {
        return 0;
    }
}

// A text or number of 61 characters or more shows its first 59 and "...".
inline std::string shortened(std::string text) {
    if (text.size() >= 61) text = text.substr(0, 59) + "...";
    return text;
}

template <typename T>
std::string describeValue(const T& value) {
    if constexpr (IsOptional<T>::value) {
        return value ? describeValue(*value) : std::string("<nil>");
    } else if constexpr (SharedModelType<T>) {
        return value ? value->description() : std::string("<nil>");
    } else if constexpr (ModelType<T>) {
        return value.description();
    } else if constexpr (std::is_same_v<T, std::string>) {
        return shortened(value);
    } else if constexpr (std::is_same_v<T, bool>) {
        return value ? "1" : "0";
    } else if constexpr (std::is_arithmetic_v<T>) {
        json::value number;
        Codec<T>::write(value, number);
        return shortened(JSONValueTransformer::shared().NSStringFromNSNumber(number));
    } else if constexpr (std::is_same_v<T, JSONURL>) {
        return value.absoluteString;
    } else if constexpr (std::is_same_v<T, std::chrono::system_clock::time_point>) {
        return JSONValueTransformer::shared().JSONObjectFromNSDate(value);
    } else if constexpr (!KnownType<T>) {
        return "<" + modelName<T>() + ">";
    } else {
        json::value exported;
        switch (Codec<T>::write(value, exported)) {
            case JSONExportState::absent: return "<nil>";
            case JSONExportState::null: return "<null>";
            case JSONExportState::value: return json::serialize(exported);
        }
        return {};
    }
}

template <typename T>
constexpr bool kIsNestedModel = ModelType<T> || SharedModelType<T>;
template <typename T>
constexpr bool kIsNestedModel<std::optional<T>> = kIsNestedModel<T>;

// The property access of one described member D of class C.
template <typename C, typename D>
struct MemberAccess {
    using Member = std::remove_cvref_t<decltype(std::declval<C&>().*D::pointer)>;

    static Member& field(JSONModel& model) { return static_cast<C&>(model).*D::pointer; }
    static const Member& field(const JSONModel& model) { return static_cast<const C&>(model).*D::pointer; }

    static bool importValue(JSONModel& model, const json::value& value, JSONImportContext& context) {
        Member& target = field(model);
        switch (Codec<Member>::read(target, value, context)) {
            case ReadResult::value: return true;
            case ReadResult::none: target = Member{}; return true;
            case ReadResult::failure:
                // A nested model that fails is skipped when the property may be missing.
                if constexpr (kIsNestedModel<Member>) {
                    if (context.isOptional || !context.validation) {
                        context.error.reset();
                        return true;
                    }
                }
                return false;
        }
        return false;
    }
    static JSONExportState exportValue(const JSONModel& model, json::value& out) {
        return Codec<Member>::write(field(model), out);
    }
    static bool equal(const JSONModel& lhs, const JSONModel& rhs) { return valuesEqual(field(lhs), field(rhs)); }
    static std::optional<std::size_t> hash(const JSONModel& model) { return valueHash(field(model)); }
    static int compare(const JSONModel& lhs, const JSONModel& rhs) { return valueCompare(field(lhs), field(rhs)); }
    static std::string describe(const JSONModel& model) { return describeValue(field(model)); }

    static constexpr JSONPropertyAccess kAccess{&importValue, &exportValue, &equal, &hash, &compare, &describe};
};

}  // namespace ambrell::detail
