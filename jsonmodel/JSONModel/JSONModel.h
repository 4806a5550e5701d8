#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include <boost/describe/class.hpp>
#include <boost/json/fwd.hpp>

#include "jsonmodel/JSONModel/JSONKeyMapper.h"
#include "jsonmodel/JSONModel/JSONModelClass.h"
#include "jsonmodel/JSONModel/JSONModelError.h"

namespace ambrell {

template <typename C>
class JSONModelDeclaration;

// The base class of every model read from JSON. A model declares ordinary
// members, lists them with Boost.Describe and derives through JSONModelOf:
//
//     struct CVFloor : JSONModelOf<CVFloor> {
//         std::string floorId;
//         std::string name;
//         std::optional<double> floorIndex;   // std::optional: may be missing or null
//         std::vector<std::string> aliases;
//         static void declareJSON(JSONModelDeclaration<CVFloor>& d);  // key mapper, markers, setters
//     };
//     BOOST_DESCRIBE_STRUCT(CVFloor, (JSONModel), (floorId, name, floorIndex, aliases))
//
// and, in one .cpp that includes "jsonmodel/JSONModel/JSONModelDeclaration.h",
// defines declareJSON (when it has one) and AMBRELL_JSON_MODEL_DEFINE(CVFloor).
// A subclass of a model derives from JSONModelOf<Sub, CVFloor> and lists
// CVFloor as its described base; it inherits the properties and declarations
// and may re-declare either (the subclass wins).
//
// A member of a type the mapping cannot read, or a collection of such
// elements, stops the build unless the class opts it out where the compiler
// sees it:
//
//     static constexpr std::string_view kJSONIgnoredMembers[] = {"cache"};    // neither imported nor exported
//     static constexpr std::string_view kJSONCustomMembers[] = {"venueInfo"};  // read by a custom setter
//
// A member listed as custom must get a setter in declareJSON; without a
// custom getter its export fails ("Value transformer not found").
//
// Every failure is reported through a JSONModelErrorOut, never thrown.
class JSONModel {
public:
    JSONModel() = default;
    JSONModel(const JSONModel&) = default;
    JSONModel(JSONModel&&) = default;
    JSONModel& operator=(const JSONModel&) = default;
    JSONModel& operator=(JSONModel&&) = default;
    virtual ~JSONModel() = default;

    // The property table of the object's own class.
    [[nodiscard]] virtual const JSONModelClass& modelClass() const;

    // Checks the required keys, imports every property, then validates. A
    // model class may override it to prepare the input or to finish the
    // import; the override calls this one.
    virtual bool initWithDictionary(const boost::json::value& dictionary, JSONModelErrorOut error = nullptr);
    // Absent data: error 5; malformed JSON: error 3.
    bool initWithData(const std::vector<std::uint8_t>* data, JSONModelErrorOut error = nullptr);
    bool initWithData(std::span<const std::uint8_t> data, JSONModelErrorOut error = nullptr);
    // The text is UTF-8 JSON.
    bool initWithString(const std::string* text, JSONModelErrorOut error = nullptr);
    bool initWithString(std::string_view text, JSONModelErrorOut error = nullptr);

    // Imports into this model without the required-key check and without
    // validation; with useKeyMapping false only the global key mapper applies.
    // A merge that fails part way keeps the properties changed before the failure.
    bool mergeFromDictionary(const boost::json::value& dictionary, bool useKeyMapping,
                             JSONModelErrorOut error = nullptr);

    // Cross-field checks after an import; false makes the import fail.
    virtual bool validate(JSONModelErrorOut error);

    [[nodiscard]] boost::json::object toDictionary() const;
    // With a list, only the named properties (an empty list names none, so
    // exports nothing); with none, every property.
    [[nodiscard]] boost::json::object toDictionaryWithKeys(
        std::optional<std::span<const std::string>> propertyNames) const;
    // None when the dictionary holds a number JSON cannot write (NaN, infinity).
    [[nodiscard]] std::optional<std::vector<std::uint8_t>> toJSONData() const;
    [[nodiscard]] std::optional<std::vector<std::uint8_t>> toJSONDataWithKeys(
        std::optional<std::span<const std::string>> propertyNames) const;
    [[nodiscard]] std::optional<std::string> toJSONString() const;
    [[nodiscard]] std::optional<std::string> toJSONStringWithKeys(
        std::optional<std::span<const std::string>> propertyNames) const;

    // With an index property: same class and equal index values. Without
    // one: the same object.
    [[nodiscard]] bool isEqual(const JSONModel& other) const;
    // The index value's hash when there is one, else the object's address.
    [[nodiscard]] std::size_t hash() const;
    // The index values compared (-1, 0, 1); 0 when there is nothing to compare.
    [[nodiscard]] int compare(const JSONModel& other) const;
    // "<CVFloor> \n   [name]: Ground\n</CVFloor>".
    [[nodiscard]] std::string description() const;
    // A fresh import of this model's exported JSON: properties that do not
    // export are not carried over. Null when that import fails.
    [[nodiscard]] std::shared_ptr<JSONModel> copy() const;

    [[nodiscard]] const std::vector<JSONModelClassProperty>& properties() const { return modelClass().properties(); }
    [[nodiscard]] const std::vector<std::string>& requiredPropertyNames() const {
        return modelClass().requiredPropertyNames();
    }
    [[nodiscard]] const std::shared_ptr<const JSONKeyMapper>& keyMapper() const { return modelClass().keyMapper(); }
    [[nodiscard]] const std::optional<std::string>& indexPropertyName() const {
        return modelClass().indexPropertyName();
    }

    // Null clears it (also what tests do to start clean).
    static void setGlobalKeyMapper(std::shared_ptr<const JSONKeyMapper> mapper) {
        JSONModelClass::setGlobalKeyMapper(std::move(mapper));
    }
    [[nodiscard]] static std::shared_ptr<const JSONKeyMapper> globalKeyMapper() {
        return JSONModelClass::globalKeyMapper();
    }

    BOOST_DESCRIBE_CLASS(JSONModel, (), (), (), ())

private:
    bool importDictionary(const boost::json::value& dictionary, bool useClassKeyMapper, bool validation,
                          bool checkRequired, JSONModelErrorOut error);
};

// Called once per imported element by the collection builders; adds a model
// made from the dictionary to the caller's collection.
using JSONModelSink = bool (*)(void* collection, const boost::json::value& dictionary, std::string_view key,
                               JSONModelErrorOut error);

namespace detail {
// The collection rules shared by the class operations and by array and
// dictionary properties; see JSONModelOf.
bool collectModelsFromArray(const boost::json::value& array, void* collection, JSONModelSink sink,
                            JSONModelErrorOut error);
bool collectModelsFromDictionary(const boost::json::value& dictionary, void* collection, JSONModelSink sink,
                                 JSONModelSink arraySink, JSONModelErrorOut error);
bool parseForCollection(std::span<const std::uint8_t> data, bool wantArray, void* collection, JSONModelSink sink,
                        JSONModelSink arraySink, JSONModelErrorOut error);
// "[3]": the key path component of an element of an array.
[[nodiscard]] std::string indexComponent(std::size_t index);
}  // namespace detail

// One entry of a dictionary of models: a model, or an array of models.
template <typename M>
using JSONModelOrModels = std::variant<std::shared_ptr<M>, std::vector<std::shared_ptr<M>>>;

template <typename Self, typename Base = JSONModel>
class JSONModelOf : public Base {
    static_assert(std::is_base_of_v<JSONModel, Base>, "a model derives from JSONModel or from another model");

public:
    using Base::Base;
    using JSONModelSelf = Self;
    using JSONModelSuper = Base;

    [[nodiscard]] const JSONModelClass& modelClass() const override { return jsonClass(); }
    // Defined by JSONModelDeclaration.h; AMBRELL_JSON_MODEL_DEFINE instantiates it.
    static const JSONModelClass& jsonClass();

    // A new model from the dictionary, or null with the error.
    static std::shared_ptr<Self> fromDictionary(const boost::json::value& dictionary,
                                                JSONModelErrorOut error = nullptr) {
        auto model = std::make_shared<Self>();
        if (!model->initWithDictionary(dictionary, error)) return nullptr;
        return model;
    }
    // Null input: error 5.
    static std::shared_ptr<Self> fromDictionary(const boost::json::value* dictionary,
                                                JSONModelErrorOut error = nullptr) {
        if (dictionary == nullptr) {
            setJSONModelError(error, JSONModelError::errorInputIsNil());
            return nullptr;
        }
        return fromDictionary(*dictionary, error);
    }
    static std::shared_ptr<Self> fromData(std::span<const std::uint8_t> data, JSONModelErrorOut error = nullptr) {
        auto model = std::make_shared<Self>();
        if (!model->initWithData(data, error)) return nullptr;
        return model;
    }
    static std::shared_ptr<Self> fromString(std::string_view text, JSONModelErrorOut error = nullptr) {
        auto model = std::make_shared<Self>();
        if (!model->initWithString(text, error)) return nullptr;
        return model;
    }

    // Each object element becomes a model (a failure fails the whole, with
    // the element's index first in the key path); an array element adds its
    // own models (a failure inside is reported but does not stop the rest);
    // any other element is skipped. Null input: none without error.
    static std::optional<std::vector<std::shared_ptr<Self>>> arrayOfModelsFromDictionaries(
        const boost::json::value* array, JSONModelErrorOut error = nullptr) {
        if (array == nullptr) return std::nullopt;
        std::vector<std::shared_ptr<Self>> models;
        if (!detail::collectModelsFromArray(*array, &models, &addModel, error)) return std::nullopt;
        return models;
    }
    static std::optional<std::vector<std::shared_ptr<Self>>> arrayOfModelsFromDictionaries(
        const boost::json::value& array, JSONModelErrorOut error = nullptr) {
        return arrayOfModelsFromDictionaries(&array, error);
    }
    // Malformed JSON: error 3; JSON that is not an array: none without error.
    static std::optional<std::vector<std::shared_ptr<Self>>> arrayOfModelsFromData(std::span<const std::uint8_t> data,
                                                                                   JSONModelErrorOut error = nullptr) {
        std::vector<std::shared_ptr<Self>> models;
        if (!detail::parseForCollection(data, true, &models, &addModel, nullptr, error)) return std::nullopt;
        return models;
    }
    static std::optional<std::vector<std::shared_ptr<Self>>> arrayOfModelsFromString(
        std::string_view text, JSONModelErrorOut error = nullptr) {
        return arrayOfModelsFromData(asBytes(text), error);
    }

    // Object entries become models, array entries arrays of models; any other
    // entry fails with a type mismatch. Null input: none without error.
    static std::optional<std::map<std::string, JSONModelOrModels<Self>>> dictionaryOfModelsFromDictionary(
        const boost::json::value* dictionary, JSONModelErrorOut error = nullptr) {
        if (dictionary == nullptr) return std::nullopt;
        std::map<std::string, JSONModelOrModels<Self>> models;
        if (!detail::collectModelsFromDictionary(*dictionary, &models, &addEntry, &addEntryArray, error)) {
            return std::nullopt;
        }
        return models;
    }
    static std::optional<std::map<std::string, JSONModelOrModels<Self>>> dictionaryOfModelsFromDictionary(
        const boost::json::value& dictionary, JSONModelErrorOut error = nullptr) {
        return dictionaryOfModelsFromDictionary(&dictionary, error);
    }
    static std::optional<std::map<std::string, JSONModelOrModels<Self>>> dictionaryOfModelsFromData(
        std::span<const std::uint8_t> data, JSONModelErrorOut error = nullptr) {
        std::map<std::string, JSONModelOrModels<Self>> models;
        if (!detail::parseForCollection(data, false, &models, &addEntry, &addEntryArray, error)) return std::nullopt;
        return models;
    }
    static std::optional<std::map<std::string, JSONModelOrModels<Self>>> dictionaryOfModelsFromString(
        std::string_view text, JSONModelErrorOut error = nullptr) {
        return dictionaryOfModelsFromData(asBytes(text), error);
    }

    [[nodiscard]] std::shared_ptr<Self> copy() const { return std::static_pointer_cast<Self>(JSONModel::copy()); }

private:
    static std::span<const std::uint8_t> asBytes(std::string_view text) {
        return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
    }
    static bool addModel(void* collection, const boost::json::value& dictionary, std::string_view,
                         JSONModelErrorOut error) {
        auto model = std::make_shared<Self>();
        if (!model->initWithDictionary(dictionary, error)) return false;
        static_cast<std::vector<std::shared_ptr<Self>>*>(collection)->push_back(std::move(model));
        return true;
    }
    static bool addEntry(void* collection, const boost::json::value& dictionary, std::string_view key,
                         JSONModelErrorOut error) {
        auto model = std::make_shared<Self>();
        if (!model->initWithDictionary(dictionary, error)) return false;
        static_cast<std::map<std::string, JSONModelOrModels<Self>>*>(collection)
            ->insert_or_assign(std::string(key), std::move(model));
        return true;
    }
    static bool addEntryArray(void* collection, const boost::json::value& array, std::string_view key,
                              JSONModelErrorOut error) {
        std::vector<std::shared_ptr<Self>> models;
        if (!detail::collectModelsFromArray(array, &models, &addModel, error)) return false;
        static_cast<std::map<std::string, JSONModelOrModels<Self>>*>(collection)
            ->insert_or_assign(std::string(key), std::move(models));
        return true;
    }
};

}  // namespace ambrell
