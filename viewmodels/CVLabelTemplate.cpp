#include "viewmodels/CVLabelTemplate.h"

#include <array>
#include <initializer_list>
#include <string_view>

#include "Ambrell/CVDisplayRule.h"
#include "data/CVLocationInternal.h"

namespace ambrell {

namespace label_template {
namespace {

// A placeholder as written, and the positions whose letter may come in either
// case (the first letter of each word).
struct Placeholder {
    std::string_view text;
    std::array<std::size_t, 2> anyCase;
};

constexpr Placeholder kName{"{{name}}", {2, 2}};
constexpr Placeholder kRoomId{"{{roomId}}", {2, 6}};
constexpr Placeholder kExternalId{"{{externalId}}", {2, 10}};

char lowered(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool matchesAt(std::string_view text, std::size_t at, const Placeholder& placeholder) {
    if (text.size() - at < placeholder.text.size()) return false;
    for (std::size_t i = 0; i < placeholder.text.size(); ++i) {
        const char wanted = placeholder.text[i];
        const char found = text[at + i];
        const bool free = i == placeholder.anyCase[0] || i == placeholder.anyCase[1];
        if (free ? lowered(found) != lowered(wanted) : found != wanted) return false;
    }
    return true;
}

// Every occurrence, left to right without overlaps, by the value as it is:
// a name is text, so "$1" or a backslash in it stays what it is.
std::string replacedAll(std::string_view text, const Placeholder& placeholder, std::string_view value) {
    std::string result;
    result.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        if (matchesAt(text, at, placeholder)) {
            result.append(value);
            at += placeholder.text.size();
        } else {
            result.push_back(text[at]);
            ++at;
        }
    }
    return result;
}

}  // namespace
}  // namespace label_template

std::string expandedLabel(const CVLocation& location, const CVDisplayRule& rule) {
    const auto label = rule.label();
    if (!label) return {};
    std::string text = label_template::replacedAll(*label, label_template::kName, location.getName());
    const auto* model = dynamic_cast<const CVLocationInternal*>(&location);
    if (model != nullptr && !model->externalId.empty()) {
        text = label_template::replacedAll(text, label_template::kRoomId, model->externalId);
        text = label_template::replacedAll(text, label_template::kExternalId, model->externalId);
    }
    return text;
}

}  // namespace ambrell
