#include "jsonmodel/JSONModel/JSONModel.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <exception>
#include <functional>
#include <utility>

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <fmt/format.h>

#include "Ambrell/CVLog.h"
#include "jsonmodel/JSONModel/JSONParsing.h"
#include "jsonmodel/JSONModel/JSONValueTransformer.h"

// The diagnostic form of the mapping's log lines: "[file:line] text".
#define AMBRELL_JSONMODEL_LOG(text) ::ambrell::CVLog::core().debug("[{}:{}] {}", __FILE_NAME__, __LINE__, (text))

namespace ambrell {
namespace {

namespace json = boost::json;

const JSONModelClass& baseModelClass() {
    static const JSONModelClass instance("JSONModel", {}, nullptr, [] { return std::make_shared<JSONModel>(); });
    return instance;
}

// The entry under `key`, tried first where `hint` says it was last time.
const json::value* findNearHint(const json::object& object, std::string_view key, std::atomic<std::uint32_t>& hint) {
    const std::uint32_t guess = hint.load(std::memory_order_relaxed);
    if (guess < object.size()) {
        const json::key_value_pair& entry = object.begin()[guess];
        if (std::string_view(entry.key().data(), entry.key().size()) == key) return &entry.value();
    }
    const auto found = object.find(key);
    if (found == object.end()) return nullptr;
    hint.store(static_cast<std::uint32_t>(found - object.begin()), std::memory_order_relaxed);
    return &found->value();
}

// Looks up every property's value, resolving each shared parent object once.
class KeyPathLookup {
public:
    KeyPathLookup(const json::object& object, const JSONKeyPaths& keyPaths) : object_(object), keyPaths_(keyPaths) {
        if (keyPaths.parentSlots > inline_.size()) heap_.resize(keyPaths.parentSlots);
        parents_ = keyPaths.parentSlots > inline_.size() ? heap_.data() : inline_.data();
    }

    const json::value* valueFor(std::size_t index) {
        const JSONKeyPath& keyPath = keyPaths_.paths[index];
        std::atomic<std::uint32_t>& hint = keyPaths_.positionHints[index];
        if (keyPath.segments.empty()) return findNearHint(object_, keyPath.path, hint);
        Parent& parent = parents_[keyPath.parentSlot];
        if (!parent.resolved) {
            resolve(parent, keyPath);
            parent.resolved = true;
        }
        if (!parent.usable) return object_.if_contains(keyPath.path);
        return parent.object != nullptr ? findNearHint(*parent.object, keyPath.segments.back(), hint) : nullptr;
    }

private:
    struct Parent {
        const json::object* object = nullptr;
        bool resolved = false;
        // False when a step lands on something that is not an object: then
        // the whole path is tried as one plain key instead.
        bool usable = true;
    };

    // The object that holds a dotted path's last key; null when a step is missing.
    void resolve(Parent& parent, const JSONKeyPath& keyPath) {
        std::atomic<std::uint32_t>& hint = keyPaths_.positionHints[keyPaths_.paths.size() + keyPath.parentSlot];
        const json::object* current = &object_;
        for (std::size_t i = 0; i + 1 < keyPath.segments.size(); ++i) {
            const json::value* found =
                i == 0 ? findNearHint(*current, keyPath.segments[i], hint) : current->if_contains(keyPath.segments[i]);
            if (found == nullptr) {
                parent.object = nullptr;
                return;
            }
            current = found->if_object();
            if (current == nullptr) {
                parent.usable = false;
                parent.object = nullptr;
                return;
            }
        }
        parent.object = current;
    }

    const json::object& object_;
    const JSONKeyPaths& keyPaths_;
    std::array<Parent, 8> inline_{};
    std::vector<Parent> heap_;
    Parent* parents_ = nullptr;
};

// Room for the looked-up values of one import without a heap allocation for
// the usual class size.
class ValueSlots {
public:
    explicit ValueSlots(std::size_t count) {
        if (count > inline_.size()) heap_.resize(count);
        data_ = count > inline_.size() ? heap_.data() : inline_.data();
    }
    const json::value*& operator[](std::size_t i) { return data_[i]; }

private:
    std::array<const json::value*, 48> inline_{};
    std::vector<const json::value*> heap_;
    const json::value** data_;
};

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

bool hasNonFiniteNumber(const json::value& value) {
    switch (value.kind()) {
        case json::kind::double_: return !std::isfinite(value.get_double());
        case json::kind::array:
            for (const auto& element : value.get_array()) {
                if (hasNonFiniteNumber(element)) return true;
            }
            return false;
        case json::kind::object:
            for (const auto& entry : value.get_object()) {
                if (hasNonFiniteNumber(entry.value())) return true;
            }
            return false;
        default: return false;
    }
}

// A parsed document takes about twice its text's size.
std::size_t arenaSizeFor(std::size_t textSize) { return std::max<std::size_t>(1024, textSize * 2); }

JSONModelError notADictionaryError() {
    return JSONModelError::errorInvalidDataWithMessage(
        "Attempt to initialize JSONModel object using initWithDictionary:error: but the dictionary parameter was not "
        "an 'NSDictionary'.");
}

// Parses the document into the arena, which must outlive the value; logs and
// reports malformed JSON as error 3.
std::optional<json::value> parseDocument(std::span<const std::uint8_t> data, json::monotonic_resource& arena,
                                         JSONModelErrorOut error) {
    JSONParseFailure failure;
    auto parsed = parseJSON(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), failure,
                            json::storage_ptr(&arena));
    if (!parsed) {
        AMBRELL_JSONMODEL_LOG(fmt::format("Malformed JSON at byte {}: {}", failure.offset, failure.reason));
        setJSONModelError(error, JSONModelError::errorBadJSON(failure));
    }
    return parsed;
}

}  // namespace

const JSONModelClass& JSONModel::modelClass() const { return baseModelClass(); }

bool JSONModel::initWithDictionary(const json::value& dictionary, JSONModelErrorOut error) {
    if (!dictionary.is_object()) {
        setJSONModelError(error, notADictionaryError());
        return false;
    }
    if (!importDictionary(dictionary, true, true, true, error)) return false;
    return validate(error);
}

bool JSONModel::initWithData(const std::vector<std::uint8_t>* data, JSONModelErrorOut error) {
    if (data == nullptr) {
        setJSONModelError(error, JSONModelError::errorInputIsNil());
        return false;
    }
    return initWithData(std::span<const std::uint8_t>(*data), error);
}

bool JSONModel::initWithData(std::span<const std::uint8_t> data, JSONModelErrorOut error) {
    // The parsed document only lives for the import: one arena for all of it,
    // its first block sized for the usual document so it seldom grows.
    json::monotonic_resource arena(arenaSizeFor(data.size()));
    auto parsed = parseDocument(data, arena, error);
    if (!parsed) return false;
    return initWithDictionary(*parsed, error);
}

bool JSONModel::initWithString(const std::string* text, JSONModelErrorOut error) {
    if (text == nullptr) {
        setJSONModelError(error, JSONModelError::errorInputIsNil());
        return false;
    }
    return initWithData(bytesOf(*text), error);
}

bool JSONModel::initWithString(std::string_view text, JSONModelErrorOut error) {
    return initWithData(bytesOf(text), error);
}

bool JSONModel::mergeFromDictionary(const json::value& dictionary, bool useKeyMapping, JSONModelErrorOut error) {
    if (!dictionary.is_object()) {
        setJSONModelError(error, notADictionaryError());
        return false;
    }
    return importDictionary(dictionary, useKeyMapping, false, false, error);
}

bool JSONModel::validate(JSONModelErrorOut /*error*/) { return true; }

bool JSONModel::importDictionary(const json::value& dictionary, bool useClassKeyMapper, bool validation,
                                 bool checkRequired, JSONModelErrorOut error) {
    const JSONModelClass& modelClass = this->modelClass();
    const auto& properties = modelClass.properties();
    const JSONKeyPaths& keyPaths = modelClass.currentKeyPaths(useClassKeyMapper);
    const json::object& object = dictionary.get_object();

    ValueSlots values(properties.size());
    KeyPathLookup lookup(object, keyPaths);
    for (std::size_t i = 0; i < properties.size(); ++i) values[i] = lookup.valueFor(i);

    if (checkRequired) {
        std::vector<std::string> missing;
        for (std::size_t i = 0; i < properties.size(); ++i) {
            // A key present with null counts as present here; the import step rejects it.
            if (!properties[i].isOptional && values[i] == nullptr) missing.push_back(properties[i].name);
        }
        if (!missing.empty()) {
            std::string names;
            for (const auto& name : missing) names += (names.empty() ? "" : ", ") + name;
            AMBRELL_JSONMODEL_LOG(fmt::format("Incoming data was invalid [{} initWithDictionary:]. Keys missing: {}",
                                              modelClass.name(), names));
            setJSONModelError(error, JSONModelError::errorInvalidDataWithMissingKeys(missing));
            return false;
        }
    }

    JSONImportContext context;
    context.modelClass = &modelClass;
    context.validation = validation;
    for (std::size_t i = 0; i < properties.size(); ++i) {
        const JSONModelClassProperty& property = properties[i];
        const json::value* value = values[i];
        if (value == nullptr || value->is_null()) {
            if (property.isOptional || !validation) continue;
            setJSONModelError(error, JSONModelError::errorInvalidDataWithMessage(
                                         fmt::format("Value of required model key {} is null", property.name))
                                         .errorByPrependingKeyPathComponent(property.name));
            return false;
        }
        if (!property.customSetters.empty()) {
            auto setter = property.customSetters.find(JSONValueTransformer::classByResolvingClusterClasses(*value));
            if (setter == property.customSetters.end()) setter = property.customSetters.find("generic");
            if (setter != property.customSetters.end()) {
                try {
                    setter->second.call(*this, *value);
                } catch (const std::exception& failure) {
                    // A setter is the model's own code: its failure is reported like any other.
                    setJSONModelError(error, JSONModelError::errorInvalidDataWithMessage(failure.what())
                                                 .errorByPrependingKeyPathComponent(property.name));
                    return false;
                }
                continue;
            }
        }
        context.propertyName = property.name;
        context.isOptional = property.isOptional;
        context.error.reset();
        if (!property.access->importValue(*this, *value, context)) {
            // A failure must never reach the caller without saying what failed.
            // It names the property, not the input, which can be megabytes.
            JSONModelError failure = context.error ? std::move(*context.error)
                                                   : JSONModelError::errorInvalidDataWithMessage(fmt::format(
                                                         "Failed to transform value, but no error was set during "
                                                         "transformation. ({})",
                                                         property.description()));
            setJSONModelError(error, failure.errorByPrependingKeyPathComponent(property.name));
            return false;
        }
    }
    return true;
}

json::object JSONModel::toDictionary() const { return toDictionaryWithKeys(std::nullopt); }

json::object JSONModel::toDictionaryWithKeys(std::optional<std::span<const std::string>> propertyNames) const {
    const JSONModelClass& modelClass = this->modelClass();
    const auto& properties = modelClass.properties();
    const JSONKeyPaths& keyPaths = modelClass.currentKeyPaths(true);
    json::object result;
    for (std::size_t i = 0; i < properties.size(); ++i) {
        const JSONModelClassProperty& property = properties[i];
        if (propertyNames &&
            std::find(propertyNames->begin(), propertyNames->end(), property.name) == propertyNames->end()) {
            continue;
        }
        const JSONKeyPath& keyPath = keyPaths.paths[i];
        json::object* target = &result;
        std::string_view key = keyPath.path;
        if (!keyPath.segments.empty()) {
            for (std::size_t s = 0; s + 1 < keyPath.segments.size(); ++s) {
                json::value& slot = (*target)[keyPath.segments[s]];
                if (!slot.is_object()) slot = json::object();
                target = &slot.get_object();
            }
            key = keyPath.segments.back();
        }
        json::value value;
        if (property.customGetter) {
            property.customGetter->call(*this, value);
            (*target)[key] = std::move(value);
            continue;
        }
        switch (property.access->exportValue(*this, value)) {
            case JSONExportState::absent: result.erase(keyPath.path); break;
            case JSONExportState::null: (*target)[key] = nullptr; break;
            case JSONExportState::value: (*target)[key] = std::move(value); break;
        }
    }
    return result;
}

std::optional<std::vector<std::uint8_t>> JSONModel::toJSONData() const { return toJSONDataWithKeys(std::nullopt); }

std::optional<std::vector<std::uint8_t>> JSONModel::toJSONDataWithKeys(
    std::optional<std::span<const std::string>> names) const {
    auto text = toJSONStringWithKeys(names);
    if (!text) return std::nullopt;
    return std::vector<std::uint8_t>(text->begin(), text->end());
}

std::optional<std::string> JSONModel::toJSONString() const { return toJSONStringWithKeys(std::nullopt); }

std::optional<std::string> JSONModel::toJSONStringWithKeys(std::optional<std::span<const std::string>> names) const {
    json::value dictionary = toDictionaryWithKeys(names);
    if (hasNonFiniteNumber(dictionary)) {
        AMBRELL_JSONMODEL_LOG("EXCEPTION: Invalid number value (NaN or infinity) in JSON write");
        return std::nullopt;
    }
    return json::serialize(dictionary);
}

bool JSONModel::isEqual(const JSONModel& other) const {
    if (&modelClass() != &other.modelClass()) return false;
    if (const auto* index = modelClass().indexProperty()) return index->access->equal(*this, other);
    return this == &other;
}

std::size_t JSONModel::hash() const {
    if (const auto* index = modelClass().indexProperty()) {
        if (auto value = index->access->hash(*this)) return *value;
    }
    return std::hash<const void*>{}(this);
}

int JSONModel::compare(const JSONModel& other) const {
    const auto* index = modelClass().indexProperty();
    if (index == nullptr || &modelClass() != &other.modelClass()) return 0;
    return index->access->compare(*this, other);
}

std::string JSONModel::description() const {
    const JSONModelClass& modelClass = this->modelClass();
    std::string text = "<" + modelClass.name() + "> \n";
    for (const auto& property : modelClass.properties()) {
        const std::string value = property.access->describe(*this);
        std::string indented;
        for (char c : value) {
            indented += c;
            if (c == '\n') indented += "   ";
        }
        text += "   [" + property.name + "]: " + indented + "\n";
    }
    text += "</" + modelClass.name() + ">";
    return text;
}

std::shared_ptr<JSONModel> JSONModel::copy() const {
    auto text = toJSONString();
    if (!text) return nullptr;
    auto model = modelClass().create();
    std::optional<JSONModelError> error;
    if (!model->initWithString(*text, &error)) {
        AMBRELL_JSONMODEL_LOG(error ? error->localizedDescription() : std::string("copy failed"));
        return nullptr;
    }
    return model;
}

namespace detail {

std::string indexComponent(std::size_t index) {
    // Appended one at a time: g++ 12 misreads "[" + text + "]" as an overlapping copy.
    std::string component(1, '[');
    component += std::to_string(index);
    component += ']';
    return component;
}

bool collectModelsFromArray(const json::value& array, void* collection, JSONModelSink sink, JSONModelErrorOut error) {
    const json::array* elements = array.if_array();
    if (elements == nullptr) return true;
    for (std::size_t i = 0; i < elements->size(); ++i) {
        const json::value& element = (*elements)[i];
        if (element.is_object()) {
            std::optional<JSONModelError> failure;
            if (!sink(collection, element, {}, &failure)) {
                if (failure) setJSONModelError(error, failure->errorByPrependingKeyPathComponent(indexComponent(i)));
                return false;
            }
        } else if (element.is_array()) {
            // A nested array adds its models; its failure is reported without stopping the rest.
            std::optional<JSONModelError> failure;
            collectModelsFromArray(element, collection, sink, &failure);
            if (failure) setJSONModelError(error, failure->errorByPrependingKeyPathComponent(indexComponent(i)));
        }
    }
    return true;
}

bool collectModelsFromDictionary(const json::value& dictionary, void* collection, JSONModelSink sink,
                                 JSONModelSink arraySink, JSONModelErrorOut error) {
    const json::object* entries = dictionary.if_object();
    if (entries == nullptr) return false;
    for (const auto& entry : *entries) {
        std::optional<JSONModelError> failure;
        bool added = false;
        if (entry.value().is_object()) {
            added = sink(collection, entry.value(), entry.key(), &failure);
        } else if (entry.value().is_array() && arraySink != nullptr) {
            added = arraySink(collection, entry.value(), entry.key(), &failure);
        } else {
            failure = JSONModelError::errorInvalidDataWithTypeMismatch("Only dictionaries and arrays are supported");
        }
        if (!added) {
            if (failure) setJSONModelError(error, failure->errorByPrependingKeyPathComponent(entry.key()));
            return false;
        }
    }
    return true;
}

bool parseForCollection(std::span<const std::uint8_t> data, bool wantArray, void* collection, JSONModelSink sink,
                        JSONModelSink arraySink, JSONModelErrorOut error) {
    json::monotonic_resource arena(arenaSizeFor(data.size()));
    auto parsed = parseDocument(data, arena, error);
    if (!parsed) return false;
    if (wantArray) {
        if (!parsed->is_array()) return false;
        return collectModelsFromArray(*parsed, collection, sink, error);
    }
    if (!parsed->is_object()) return false;
    return collectModelsFromDictionary(*parsed, collection, sink, arraySink, error);
}

}  // namespace detail
}  // namespace ambrell
