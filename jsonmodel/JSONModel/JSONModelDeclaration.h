#pragma once

// Everything a model class's .cpp needs to declare its JSON mapping and build
// its property table. Heavy (Boost.JSON, Boost.Describe): include it from .cpp
// files, not from headers.

#include <cstddef>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include <boost/describe/bases.hpp>
#include <boost/describe/members.hpp>
#include <boost/json/value.hpp>
#include <boost/mp11/algorithm.hpp>

#include "jsonmodel/JSONModel/JSONModel.h"
#include "jsonmodel/JSONModel/JSONModelCodecs.h"

namespace ambrell {

namespace detail {

// What a class's declareJSON says, accumulated from the top of the hierarchy
// down so that a subclass's word wins.
struct JSONModelDeclarationData {
    std::optional<std::shared_ptr<const JSONKeyMapper>> keyMapper;
    std::set<std::string, std::less<>> optional;
    std::set<std::string, std::less<>> ignored;
    std::optional<std::string> index;
    std::map<std::string, std::map<std::string, JSONCustomSetter, std::less<>>, std::less<>> setters;
    std::map<std::string, JSONCustomGetter, std::less<>> getters;
};

inline std::string capitalized(std::string_view name) {
    std::string text(name);
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

}  // namespace detail

// The registration API a model class's `static void declareJSON(JSONModelDeclaration<C>&)`
// receives: the class's key mapper, its optional, ignored and index
// properties, and its custom setters and getters, each by property name.
template <typename C>
class JSONModelDeclaration {
public:
    explicit JSONModelDeclaration(detail::JSONModelDeclarationData& data) : data_(data) {}

    // The class key mapper (inherited by subclasses unless they set their own).
    JSONModelDeclaration& keyMapper(std::shared_ptr<const JSONKeyMapper> mapper) {
        data_.keyMapper = std::move(mapper);
        return *this;
    }
    // Properties that may be missing or null in the input.
    JSONModelDeclaration& optional(std::initializer_list<std::string_view> names) {
        for (auto name : names) data_.optional.emplace(name);
        return *this;
    }
    // Properties neither imported nor exported. A member of a type the
    // mapping cannot read is ignored through kJSONIgnoredMembers instead,
    // which the compiler sees.
    JSONModelDeclaration& ignore(std::initializer_list<std::string_view> names) {
        for (auto name : names) data_.ignored.emplace(name);
        return *this;
    }
    // The property that equality, hashing and ordering go by.
    JSONModelDeclaration& index(std::string_view name) {
        data_.index = std::string(name);
        return *this;
    }

    // Custom setters: called instead of the mapping for a JSON value of their
    // class (a text, an array, an object, a number), or of any class.
    template <typename Owner>
    JSONModelDeclaration& setter(std::string_view name, void (Owner::*fn)(std::string_view)) {
        return addSetter<Owner>(name, "NSString", [fn](JSONModel& model, const boost::json::value& value) {
            const auto& text = value.get_string();
            (static_cast<C&>(model).*fn)(std::string_view(text.data(), text.size()));
        });
    }
    template <typename Owner>
    JSONModelDeclaration& setter(std::string_view name, void (Owner::*fn)(const boost::json::array&)) {
        return addSetter<Owner>(name, "NSArray", [fn](JSONModel& model, const boost::json::value& value) {
            (static_cast<C&>(model).*fn)(value.get_array());
        });
    }
    template <typename Owner>
    JSONModelDeclaration& setter(std::string_view name, void (Owner::*fn)(const boost::json::object&)) {
        return addSetter<Owner>(name, "NSDictionary", [fn](JSONModel& model, const boost::json::value& value) {
            (static_cast<C&>(model).*fn)(value.get_object());
        });
    }
    // For a boolean or a number.
    template <typename Owner>
    JSONModelDeclaration& numberSetter(std::string_view name, void (Owner::*fn)(const boost::json::value&)) {
        return addSetter<Owner>(name, "NSNumber", [fn](JSONModel& model, const boost::json::value& value) {
            (static_cast<C&>(model).*fn)(value);
        });
    }
    // For a value of any class that no setter above takes.
    template <typename Owner>
    JSONModelDeclaration& genericSetter(std::string_view name, void (Owner::*fn)(const boost::json::value&)) {
        return addSetter<Owner>(name, "generic", [fn](JSONModel& model, const boost::json::value& value) {
            (static_cast<C&>(model).*fn)(value);
        });
    }
    // The export of the property: its result is stored as it is.
    template <typename Owner>
    JSONModelDeclaration& getter(std::string_view name, boost::json::value (Owner::*fn)() const) {
        static_assert(std::is_base_of_v<Owner, C>);
        data_.getters.insert_or_assign(std::string(name),
                                       JSONCustomGetter{"JSONObjectFor" + detail::capitalized(name),
                                                        [fn](const JSONModel& model, boost::json::value& out) {
                                                            out = (static_cast<const C&>(model).*fn)();
                                                        }});
        return *this;
    }

private:
    template <typename Owner, typename Call>
    JSONModelDeclaration& addSetter(std::string_view name, std::string_view jsonClass, Call call) {
        static_assert(std::is_base_of_v<Owner, C>);
        std::string selector = "set" + detail::capitalized(name) + "With" +
                               (jsonClass == "generic" ? std::string("JSONObject") : std::string(jsonClass)) + ":";
        data_.setters[std::string(name)].insert_or_assign(std::string(jsonClass),
                                                          JSONCustomSetter{std::move(selector), std::move(call)});
        return *this;
    }

    detail::JSONModelDeclarationData& data_;
};

namespace detail {

template <typename D>
using DescribedBaseType = typename D::type;

template <typename C>
void applyDeclarations(JSONModelDeclarationData& data) {
    boost::mp11::mp_for_each<boost::describe::describe_bases<C, boost::describe::mod_any_access>>([&](auto base) {
        using Base = typename decltype(base)::type;
        if constexpr (std::is_base_of_v<JSONModel, Base> && !std::is_same_v<Base, JSONModel>) {
            applyDeclarations<Base>(data);
        }
    });
    // Only a declareJSON of C's own: an inherited one takes its class's declaration type.
    if constexpr (requires(JSONModelDeclaration<C> & declaration) { C::declareJSON(declaration); }) {
        JSONModelDeclaration<C> declaration(data);
        C::declareJSON(declaration);
    }
}

// The compile-time opt-outs a model class may list (see JSONModel):
//     static constexpr std::string_view kJSONIgnoredMembers[] = {"loggingConfig"};
//     static constexpr std::string_view kJSONCustomMembers[] = {"venueInfo"};
enum class MemberList { ignored, custom };

template <typename C, MemberList L>
constexpr bool listsOwn(std::string_view name) {
    if constexpr (L == MemberList::ignored && requires { C::kJSONIgnoredMembers; }) {
        for (std::string_view listed : C::kJSONIgnoredMembers) {
            if (listed == name) return true;
        }
    } else if constexpr (L == MemberList::custom && requires { C::kJSONCustomMembers; }) {
        for (std::string_view listed : C::kJSONCustomMembers) {
            if (listed == name) return true;
        }
    }
    return false;
}

// Whether C or a model class above it lists the member.
template <typename C, MemberList L>
constexpr bool listsMember(std::string_view name) {
    if constexpr (std::is_same_v<C, JSONModel>) {
        return false;
    } else {
        return listsOwn<C, L>(name) || listsMember<typename C::JSONModelSuper, L>(name);
    }
}

template <typename C>
using DescribedMembers =
    boost::describe::describe_members<C, boost::describe::mod_any_access | boost::describe::mod_inherited>;

template <typename C>
constexpr bool describesMember(std::string_view name) {
    bool found = false;
    boost::mp11::mp_for_each<DescribedMembers<C>>([&](auto descriptor) {
        if (std::string_view(decltype(descriptor)::name) == name) found = true;
    });
    return found;
}

template <typename C>
constexpr bool listsDescribedMembersOnly() {
    bool described = true;
    if constexpr (requires { C::kJSONIgnoredMembers; }) {
        for (std::string_view name : C::kJSONIgnoredMembers) described = described && describesMember<C>(name);
    }
    if constexpr (requires { C::kJSONCustomMembers; }) {
        for (std::string_view name : C::kJSONCustomMembers) described = described && describesMember<C>(name);
    }
    return described;
}

// A member's name as a template argument, so that a failed check below shows
// which member it is about in the compiler's "required from" line.
template <std::size_t N>
struct MemberName {
    char text[N] = {};
    constexpr explicit MemberName(const char* name) {
        for (std::size_t i = 0; i + 1 < N; ++i) text[i] = name[i];
    }
    [[nodiscard]] constexpr std::string_view view() const { return {text, N - 1}; }
};

template <typename T>
constexpr bool kIsCollection = IsVector<T>::value || IsSet<T>::value || StringMap<T>;
template <typename T>
constexpr bool kIsCollection<std::optional<T>> = kIsCollection<T>;

// The declaration mistakes the mapping would otherwise meet at every import
// as a type mismatch: a member of a type it cannot read, or a collection of
// elements it cannot read, that the model neither ignores nor maps itself.
template <typename C, typename Member, MemberName Name>
struct MemberTypeCheck {
    static constexpr bool kOptedOut =
        listsMember<C, MemberList::ignored>(Name.view()) || listsMember<C, MemberList::custom>(Name.view());
    static_assert(kMappable<Member> || kOptedOut || kIsCollection<Member>,
                  "JSONModelProperty type not allowed: the mapping cannot read or write the type of the member named "
                  "in MemberTypeCheck<Model, Type, Name> above. List the member in the model's kJSONIgnoredMembers, "
                  "or in its kJSONCustomMembers and declare a custom setter for it.");
    static_assert(kMappable<Member> || kOptedOut || !kIsCollection<Member>,
                  "Bad property protocol declaration: the mapping cannot read or write the elements of the collection "
                  "member named in MemberTypeCheck<Model, Type, Name> above. List the member in the model's "
                  "kJSONIgnoredMembers, or in its kJSONCustomMembers and declare a custom setter for it.");
    static constexpr bool kChecked = true;
};

template <typename C>
std::shared_ptr<JSONModel> createModel() {
    return std::make_shared<C>();
}

template <typename C>
std::unique_ptr<const JSONModelClass> buildModelClass() {
    static_assert(boost::describe::has_describe_members<C>::value,
                  "a model lists its members with BOOST_DESCRIBE_STRUCT or BOOST_DESCRIBE_CLASS");
    static_assert(std::is_same_v<typename C::JSONModelSelf, C>, "a model derives from JSONModelOf<itself, its base>");
    using Super = typename C::JSONModelSuper;
    static_assert(
        std::is_same_v<Super, JSONModel> ||
            boost::mp11::mp_contains<
                boost::mp11::mp_transform<DescribedBaseType,
                                          boost::describe::describe_bases<C, boost::describe::mod_any_access>>,
                Super>::value,
        "a model's description lists its model base class");
    static_assert(std::is_default_constructible_v<C>, "a model is default constructible");
    static_assert(listsDescribedMembersOnly<C>(),
                  "kJSONIgnoredMembers and kJSONCustomMembers name members listed in the model's description");

    JSONModelDeclarationData data;
    applyDeclarations<C>(data);

    std::vector<JSONModelClassProperty> properties;
    std::set<std::string, std::less<>> described;
    boost::mp11::mp_for_each<DescribedMembers<C>>([&](auto descriptor) {
        using D = decltype(descriptor);
        using Access = MemberAccess<C, D>;
        using Declared = std::remove_reference_t<decltype(std::declval<C&>().*D::pointer)>;
        using Member = typename Access::Member;
        described.emplace(D::name);
        // Read-only members, function objects and members ignored at compile time are not mapped.
        if constexpr (!std::is_const_v<Declared> && !IsFunction<Member>::value &&
                      !listsMember<C, MemberList::ignored>(D::name)) {
            static_assert(
                MemberTypeCheck<C, Member, MemberName<std::char_traits<char>::length(D::name) + 1>(D::name)>::kChecked);
            if (data.ignored.contains(D::name)) return;
            const TypeInfo info = Codec<Member>::info();
            JSONModelClassProperty property;
            property.name = D::name;
            property.type = info.type;
            property.structName = info.structName;
            property.protocol = info.protocol;
            property.isStandardJSONType = info.standard;
            property.primitiveName = info.primitiveName;
            property.isOptional = info.optionalType || data.optional.contains(D::name);
            property.isIndex = data.index == property.name;
            if (auto setters = data.setters.find(property.name); setters != data.setters.end()) {
                for (const auto& [key, setter] : setters->second) property.customSetters.emplace(key, setter);
            }
            if (auto getter = data.getters.find(property.name); getter != data.getters.end()) {
                property.customGetter = getter->second;
            }
            if (listsMember<C, MemberList::custom>(D::name) && property.customSetters.empty()) {
                throw JSONModelProgrammingError("JSONModel declaration",
                                                shortTypeName(typeid(C)) + " lists " + property.name +
                                                    " in kJSONCustomMembers but declares no setter for it");
            }
            property.access = &Access::kAccess;
            properties.push_back(std::move(property));
        }
    });

    const std::string className = shortTypeName(typeid(C));
    auto requireMember = [&](std::string_view name, std::string_view what) {
        if (!described.contains(name)) {
            throw JSONModelProgrammingError("JSONModel declaration", className + " declares " + std::string(what) +
                                                                         " for " + std::string(name) +
                                                                         ", which is not a described member");
        }
    };
    if (data.index) requireMember(*data.index, "an index");
    for (const auto& [name, setters] : data.setters) requireMember(name, "a setter");
    for (const auto& [name, getter] : data.getters) requireMember(name, "a getter");

    return std::make_unique<const JSONModelClass>(className, std::move(properties), data.keyMapper.value_or(nullptr),
                                                  &createModel<C>);
}

}  // namespace detail

template <typename Self, typename Base>
const JSONModelClass& JSONModelOf<Self, Base>::jsonClass() {
    static const std::unique_ptr<const JSONModelClass> modelClass = detail::buildModelClass<Self>();
    return *modelClass;
}

}  // namespace ambrell

// Instantiates the property table of a model class in the .cpp that defines
// it, so that headers need not include this one. Use it at global scope or in
// namespace ambrell.
#define AMBRELL_JSON_MODEL_DEFINE(Type) \
    template const ::ambrell::JSONModelClass& ::ambrell::JSONModelOf<Type, Type::JSONModelSuper>::jsonClass();
