#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include <boost/json/fwd.hpp>

#include "jsonmodel/JSONModel/JSONKeyMapper.h"
#include "jsonmodel/JSONModel/JSONModelError.h"

namespace ambrell {

class JSONModel;
class JSONModelClass;

// A mistake in a model class's declaration, found when the class is first
// used or when it exports (never caused by input): "JSONModelProperty type not
// allowed", "Bad property protocol declaration", "Value transformer not found".
class JSONModelProgrammingError : public std::logic_error {
public:
    JSONModelProgrammingError(std::string name, const std::string& reason)
        : std::logic_error(name + ": " + reason), name_(std::move(name)) {}
    [[nodiscard]] const std::string& name() const { return name_; }

private:
    std::string name_;
};

// What one property's import needs to know and where it leaves its failure.
struct JSONImportContext {
    const JSONModelClass* modelClass = nullptr;
    std::string_view propertyName;
    bool validation = true;
    bool isOptional = false;
    // The failure, its key path relative to the property; empty when a
    // failure has nothing to report.
    std::optional<JSONModelError> error;
};

enum class JSONExportState { absent, null, value };

// How one property of one class reads, writes, compares and shows its value.
// Made at compile time for each described member.
struct JSONPropertyAccess {
    bool (*importValue)(JSONModel& model, const boost::json::value& value, JSONImportContext& context);
    JSONExportState (*exportValue)(const JSONModel& model, boost::json::value& out);
    bool (*equal)(const JSONModel& lhs, const JSONModel& rhs);
    std::optional<std::size_t> (*hash)(const JSONModel& model);
    // -1, 0 or 1; 0 also when the values have no order.
    int (*compare)(const JSONModel& lhs, const JSONModel& rhs);
    std::string (*describe)(const JSONModel& model);
};

struct JSONCustomSetter {
    std::string selector;  // "setNameWithNSString:"
    std::function<void(JSONModel&, const boost::json::value&)> call;
};

struct JSONCustomGetter {
    std::string selector;  // "JSONObjectForName"
    std::function<void(const JSONModel&, boost::json::value&)> call;
};

// The record of one mapped property.
struct JSONModelClassProperty {
    bool isIndex = false;
    bool isOptional = false;
    bool isStandardJSONType = false;
    // Always false: every C++ member is mutable, and none is a "Mutable" class.
    bool isMutable = false;
    std::string name;
    // The mapping's class name of the property ("NSString", "NSArray", a
    // model class name); none for primitives and for the raw JSON value.
    std::optional<std::string> type;
    // The name of a value type converted through JSONValueConversion.
    std::optional<std::string> structName;
    // The model class an array or dictionary of models holds.
    std::optional<std::string> protocol;
    // For a primitive: its name ("int", "BOOL", "double").
    std::string primitiveName;
    std::optional<JSONCustomGetter> customGetter;
    // Key "generic" or a JSON class name ("NSString", "NSNumber", "NSArray", "NSDictionary").
    std::map<std::string, JSONCustomSetter, std::less<>> customSetters;

    const JSONPropertyAccess* access = nullptr;

    // "@property NSString* name (Optional, Standard JSON type, Setters = [])".
    [[nodiscard]] std::string description() const;
};

// A property's JSON key path, mapped once and split at its points.
struct JSONKeyPath {
    std::string path;
    std::vector<std::string> segments;  // empty when the path has no "."
    // Paths with the same segments before the last share a parent slot, so
    // one import resolves "properties" once for all "properties.x" paths.
    std::size_t parentSlot = 0;
};

struct JSONKeyPaths {
    std::vector<JSONKeyPath> paths;
    std::size_t parentSlots = 0;
    // Where each path's last key (paths[i]) and each parent slot's first key
    // (paths.size() + slot) were last found in their object. The elements of
    // a document list their keys in the same order, so the next element's key
    // is mostly where the last one's was: one comparison instead of a search.
    // Only a guess, checked before use, so threads may overwrite each other's.
    std::unique_ptr<std::atomic<std::uint32_t>[]> positionHints;
};

// The per-class table: every mapped property of a model class and the class's
// key mapper, built once (on first use, thread-safe) and never changed.
class JSONModelClass {
public:
    using Factory = std::shared_ptr<JSONModel> (*)();

    JSONModelClass(std::string name, std::vector<JSONModelClassProperty> properties,
                   std::shared_ptr<const JSONKeyMapper> keyMapper, Factory factory);
    JSONModelClass(const JSONModelClass&) = delete;
    JSONModelClass& operator=(const JSONModelClass&) = delete;

    [[nodiscard]] const std::string& name() const { return name_; }
    // In declaration order, inherited properties first.
    [[nodiscard]] const std::vector<JSONModelClassProperty>& properties() const { return properties_; }
    [[nodiscard]] const JSONModelClassProperty* property(std::string_view name) const;
    [[nodiscard]] const std::vector<std::string>& requiredPropertyNames() const { return requiredNames_; }
    [[nodiscard]] const std::shared_ptr<const JSONKeyMapper>& keyMapper() const { return keyMapper_; }
    [[nodiscard]] const std::optional<std::string>& indexPropertyName() const { return indexName_; }
    [[nodiscard]] const JSONModelClassProperty* indexProperty() const { return indexProperty_; }
    // A new, empty model of this class.
    [[nodiscard]] std::shared_ptr<JSONModel> create() const { return factory_(); }

    // The property name mapped through the class key mapper (when asked for)
    // and the global key mapper.
    [[nodiscard]] std::string mapName(std::string_view propertyName, bool useClassKeyMapper) const;
    // The key path of every property, in property order, under the key
    // mappers in force; recomputed only when the global key mapper changes.
    [[nodiscard]] std::shared_ptr<const JSONKeyPaths> keyPaths(bool useClassKeyMapper) const;
    // The same without taking a share: a table, once made, lives as long as
    // its class. Imports ask for it once per element, so it takes no lock.
    [[nodiscard]] const JSONKeyPaths& currentKeyPaths(bool useClassKeyMapper) const;

    // The process-wide key mapper applied after (or instead of) each class's own.
    static void setGlobalKeyMapper(std::shared_ptr<const JSONKeyMapper> mapper);
    [[nodiscard]] static std::shared_ptr<const JSONKeyMapper> globalKeyMapper();

private:
    struct PathTable {
        std::uint64_t generation = 0;
        JSONKeyPaths keyPaths;
    };
    [[nodiscard]] const PathTable& pathTable(bool useClassKeyMapper) const;
    [[nodiscard]] std::shared_ptr<const PathTable> buildPathTable(bool useClassKeyMapper,
                                                                  std::uint64_t generation) const;

    std::string name_;
    std::vector<JSONModelClassProperty> properties_;
    std::vector<std::string> requiredNames_;
    std::shared_ptr<const JSONKeyMapper> keyMapper_;
    std::optional<std::string> indexName_;
    const JSONModelClassProperty* indexProperty_ = nullptr;
    Factory factory_;
    // The tables in force, read without a lock. Every table made is kept in
    // madeTables_ (guarded by pathTablesMutex_), so that a reader still
    // holding one never sees it freed; a new one is made only when the global
    // key mapper changes, which an app does a handful of times at most.
    mutable std::atomic<const PathTable*> pathTables_[2] = {nullptr, nullptr};
    mutable std::mutex pathTablesMutex_;
    mutable std::vector<std::shared_ptr<const PathTable>> madeTables_;
};

namespace detail {
// "ambrell::CVVenue" -> "CVVenue": the name a class shows in messages.
[[nodiscard]] std::string shortTypeName(const std::type_info& type);
}  // namespace detail

}  // namespace ambrell
