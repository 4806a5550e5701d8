#include "viewmodels/GeoJsonTextWriter.h"

#include <charconv>
#include <system_error>

namespace ambrell {

void GeoJsonTextWriter::newLine(std::size_t depth) {
    text_ += '\n';
    text_.append(depth * 2, ' ');
}

void GeoJsonTextWriter::beforeValue() {
    if (afterName_) {
        afterName_ = false;
        return;
    }
    if (empty_.empty()) return;
    if (!empty_.back()) text_ += ',';
    empty_.back() = false;
    if (pretty_) newLine(empty_.size());
}

void GeoJsonTextWriter::begin(char opening) {
    beforeValue();
    text_ += opening;
    empty_.push_back(true);
}

void GeoJsonTextWriter::end(char closing) {
    const bool wasEmpty = empty_.empty() || empty_.back();
    if (!empty_.empty()) empty_.pop_back();
    if (pretty_ && !wasEmpty) newLine(empty_.size());
    text_ += closing;
}

void GeoJsonTextWriter::beginObject() { begin('{'); }
void GeoJsonTextWriter::endObject() { end('}'); }
void GeoJsonTextWriter::beginArray() { begin('['); }
void GeoJsonTextWriter::endArray() { end(']'); }

void GeoJsonTextWriter::name(std::string_view memberName) {
    beforeValue();
    quoted(memberName);
    text_ += pretty_ ? " : " : ":";
    afterName_ = true;
}

void GeoJsonTextWriter::quoted(std::string_view text) {
    static constexpr char hexDigits[] = "0123456789abcdef";
    text_ += '"';
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        switch (character) {
            case '"': text_ += "\\\""; break;
            case '\\': text_ += "\\\\"; break;
            case '\n': text_ += "\\n"; break;
            case '\r': text_ += "\\r"; break;
            case '\t': text_ += "\\t"; break;
            case '\b': text_ += "\\b"; break;
            case '\f': text_ += "\\f"; break;
            default:
                if (byte < 0x20) {
                    text_ += "\\u00";
                    text_ += hexDigits[byte >> 4];
                    text_ += hexDigits[byte & 0xF];
                } else {
                    text_ += character;
                }
        }
    }
    text_ += '"';
}

void GeoJsonTextWriter::string(std::string_view text) {
    beforeValue();
    quoted(text);
}

void GeoJsonTextWriter::number(double value) {
    beforeValue();
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (result.ec == std::errc()) text_.append(buffer, result.ptr);
}

void GeoJsonTextWriter::integer(std::int64_t value) {
    beforeValue();
    text_ += std::to_string(value);
}

void GeoJsonTextWriter::unsignedInteger(std::uint64_t value) {
    beforeValue();
    text_ += std::to_string(value);
}

void GeoJsonTextWriter::boolean(bool value) {
    beforeValue();
    text_ += value ? "true" : "false";
}

}  // namespace ambrell
