#include "jsonmodel/JSONModel/JSONModelClass.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include <boost/core/demangle.hpp>

namespace ambrell {
namespace {

struct GlobalKeyMapper {
    std::mutex mutex;
    std::shared_ptr<const JSONKeyMapper> mapper;
    // Bumped at every change, so the classes' path tables know when to remap.
    std::atomic<std::uint64_t> generation{1};
};

GlobalKeyMapper& globalMapperState() {
    static GlobalKeyMapper state;
    return state;
}

}  // namespace

std::string JSONModelClassProperty::description() const {
    std::string text = "@property ";
    if (type) {
        text += *type + "*";
    } else if (structName) {
        text += *structName;
    } else {
        text += "primitive";
    }
    if (protocol) text += "<" + *protocol + ">";
    text += " " + name + " ";
    std::vector<std::string> flags;
    if (isIndex) flags.emplace_back("Index");
    if (isOptional) flags.emplace_back("Optional");
    if (isMutable) flags.emplace_back("Mutable");
    if (isStandardJSONType) flags.emplace_back("Standard JSON type");
    if (customGetter) flags.push_back("Getter = " + customGetter->selector);
    std::string setters;
    for (const auto& [key, setter] : customSetters) {
        if (!setters.empty()) setters += ", ";
        setters += setter.selector;
    }
    flags.push_back("Setters = [" + setters + "]");
    text += "(";
    for (std::size_t i = 0; i < flags.size(); ++i) {
        if (i > 0) text += ", ";
        text += flags[i];
    }
    text += ")";
    return text;
}

JSONModelClass::JSONModelClass(std::string name, std::vector<JSONModelClassProperty> properties,
                               std::shared_ptr<const JSONKeyMapper> keyMapper, Factory factory)
    : name_(std::move(name)), properties_(std::move(properties)), keyMapper_(std::move(keyMapper)), factory_(factory) {
    for (const auto& property : properties_) {
        if (!property.isOptional) requiredNames_.push_back(property.name);
        // The last index marker met wins.
        if (property.isIndex) {
            indexName_ = property.name;
            indexProperty_ = &property;
        }
    }
}

const JSONModelClassProperty* JSONModelClass::property(std::string_view name) const {
    for (const auto& property : properties_) {
        if (property.name == name) return &property;
    }
    return nullptr;
}

std::string JSONModelClass::mapName(std::string_view propertyName, bool useClassKeyMapper) const {
    auto global = globalKeyMapper();
    if (useClassKeyMapper && keyMapper_) {
        std::string mapped = keyMapper_->convertValue(propertyName);
        if (mapped == propertyName && global) return global->convertValue(propertyName);
        return mapped;
    }
    if (global) return global->convertValue(propertyName);
    return std::string(propertyName);
}

std::shared_ptr<const JSONModelClass::PathTable> JSONModelClass::buildPathTable(bool useClassKeyMapper,
                                                                                std::uint64_t generation) const {
    auto fresh = std::make_shared<PathTable>();
    fresh->generation = generation;
    auto& keyPaths = fresh->keyPaths;
    keyPaths.paths.reserve(properties_.size());
    std::vector<std::string> parents;
    for (const auto& property : properties_) {
        JSONKeyPath keyPath;
        keyPath.path = mapName(property.name, useClassKeyMapper);
        const auto lastDot = keyPath.path.rfind('.');
        if (lastDot != std::string::npos) {
            std::string_view rest = keyPath.path;
            while (true) {
                auto dot = rest.find('.');
                keyPath.segments.emplace_back(rest.substr(0, dot));
                if (dot == std::string_view::npos) break;
                rest.remove_prefix(dot + 1);
            }
            const std::string parent = keyPath.path.substr(0, lastDot);
            auto found = std::find(parents.begin(), parents.end(), parent);
            keyPath.parentSlot = static_cast<std::size_t>(found - parents.begin());
            if (found == parents.end()) parents.push_back(parent);
        }
        keyPaths.paths.push_back(std::move(keyPath));
    }
    keyPaths.parentSlots = parents.size();
    const std::size_t hints = keyPaths.paths.size() + keyPaths.parentSlots;
    keyPaths.positionHints = std::make_unique<std::atomic<std::uint32_t>[]>(hints);
    for (std::size_t i = 0; i < hints; ++i) keyPaths.positionHints[i].store(0, std::memory_order_relaxed);
    return fresh;
}

const JSONModelClass::PathTable& JSONModelClass::pathTable(bool useClassKeyMapper) const {
    auto& slot = pathTables_[useClassKeyMapper ? 1 : 0];
    const std::uint64_t generation = globalMapperState().generation.load(std::memory_order_acquire);
    const PathTable* table = slot.load(std::memory_order_acquire);
    if (table != nullptr && table->generation == generation) return *table;
    // Made outside the lock: the key mappers are the app's code.
    auto fresh = buildPathTable(useClassKeyMapper, generation);
    std::lock_guard lock(pathTablesMutex_);
    // Another thread may have made it meanwhile.
    table = slot.load(std::memory_order_acquire);
    if (table != nullptr && table->generation == generation) return *table;
    madeTables_.push_back(fresh);
    slot.store(fresh.get(), std::memory_order_release);
    return *fresh;
}

const JSONKeyPaths& JSONModelClass::currentKeyPaths(bool useClassKeyMapper) const {
    return pathTable(useClassKeyMapper).keyPaths;
}

std::shared_ptr<const JSONKeyPaths> JSONModelClass::keyPaths(bool useClassKeyMapper) const {
    // The class keeps the table: the share owns nothing.
    return std::shared_ptr<const JSONKeyPaths>(std::shared_ptr<const JSONKeyPaths>(),
                                               &currentKeyPaths(useClassKeyMapper));
}

void JSONModelClass::setGlobalKeyMapper(std::shared_ptr<const JSONKeyMapper> mapper) {
    auto& state = globalMapperState();
    std::lock_guard lock(state.mutex);
    state.mapper = std::move(mapper);
    state.generation.fetch_add(1, std::memory_order_acq_rel);
}

std::shared_ptr<const JSONKeyMapper> JSONModelClass::globalKeyMapper() {
    auto& state = globalMapperState();
    std::lock_guard lock(state.mutex);
    return state.mapper;
}

namespace detail {

std::string shortTypeName(const std::type_info& type) {
    std::string full = boost::core::demangle(type.name());
    // Drop namespaces (but not the ones inside template arguments).
    std::size_t depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i + 1 < full.size(); ++i) {
        if (full[i] == '<') ++depth;
        if (full[i] == '>' && depth > 0) --depth;
        if (depth == 0 && full[i] == ':' && full[i + 1] == ':') start = i + 2;
    }
    return full.substr(start);
}

}  // namespace detail
}  // namespace ambrell
