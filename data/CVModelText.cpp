#include "data/CVModelText.h"

#include <cctype>
#include <limits>

#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

#include "Ambrell/CVLog.h"
#include "Ambrell/ErrorObjects.h"

namespace ambrell {

std::string CVNameWithLineBreaks(std::string_view text) {
    std::string name;
    name.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            name += '\n';
            ++i;
        } else {
            name += text[i];
        }
    }
    return name;
}

std::int64_t CVIntegerValueOfText(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        const int digit = text[i] - '0';
        if (value > (kMax - digit) / 10) return negative ? std::numeric_limits<std::int64_t>::min() : kMax;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

namespace {

// The length of the text's first `maxBytes` bytes, backed up to the start of a
// character so that the cut text stays valid UTF-8.
std::size_t cutPoint(std::string_view text, std::size_t maxBytes) {
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0U) == 0x80U) --end;
    return end;
}

}  // namespace

std::string CVShortTextForLog(const boost::json::value& value) {
    if (value.is_number()) return boost::json::serialize(value);
    if (!value.is_string()) return {};
    constexpr std::size_t kMaxBytes = 128;
    std::string_view text = value.get_string();
    if (text.size() <= kMaxBytes) return boost::json::serialize(value);
    const std::size_t end = cutPoint(text, kMaxBytes);
    return boost::json::serialize(boost::json::value(boost::json::string_view(text.substr(0, end)))) + "...";
}

std::string CVElementIdForLog(const boost::json::value& element) {
    const auto* object = element.if_object();
    const boost::json::value* id = object != nullptr ? object->if_contains("id") : nullptr;
    return id != nullptr ? CVShortTextForLog(*id) : std::string();
}

std::string CVElementIdOrNoneForLog(const boost::json::value& element) {
    std::string id = CVElementIdForLog(element);
    return id.empty() ? std::string("none") : id;
}

std::string CVRefusalForLog(const std::optional<JSONModelError>& error, std::string_view otherwise) {
    if (!error) return std::string(otherwise);
    std::string text = errorDescription(*error);
    if (const auto missing = error->missingKeys(); !missing.empty()) {
        text += "; missing keys: ";
        for (std::size_t i = 0; i < missing.size(); ++i) text += (i == 0 ? "" : ", ") + missing[i];
    }
    if (const auto mismatch = error->typeMismatch()) text += "; " + *mismatch;
    if (const auto path = error->keyPath()) text += "; at " + *path;
    constexpr std::size_t kMaxBytes = 512;
    if (text.size() > kMaxBytes) text = text.substr(0, cutPoint(text, kMaxBytes)) + "...";
    return text;
}

void CVRefusalLines::finish() const {
    if (refused_ <= kMaxRefusalLines) return;
    CVLog::core().error("{} [E] Skipped {} more {} entries of this list", operation_, refused_ - kMaxRefusalLines,
                        kind_);
}

std::size_t CVReadEachElement(const boost::json::array& list, std::string_view operation, std::string_view kind,
                              const CVElementReader& read) {
    CVRefusalLines lines(operation, kind);
    for (std::size_t index = 0; index < list.size(); ++index) {
        std::optional<JSONModelError> error;
        if (read(list[index], &error) || !lines.count()) continue;
        CVLog::core().error("{} [E] Skipped {} at index {} (id {}): {}", operation, kind, index,
                            CVElementIdOrNoneForLog(list[index]), CVRefusalForLog(error, "no reason given"));
    }
    lines.finish();
    return lines.refused();
}

boost::json::object CVObjectWithoutKey(const boost::json::object& object, std::string_view key) {
    boost::json::object rest(object.storage());
    rest.reserve(object.size());
    for (const auto& entry : object) {
        if (entry.key() != key) rest.emplace(entry.key(), entry.value());
    }
    return rest;
}

}  // namespace ambrell
