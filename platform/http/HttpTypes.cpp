#include "platform/http/HttpTypes.h"

#include <algorithm>
#include <cstdio>

namespace ambrell::platform {

namespace {

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

void appendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x",
                                  static_cast<unsigned>(static_cast<unsigned char>(c)));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

}  // namespace

bool headerNamesEqual(std::string_view lhs, std::string_view rhs) {
    return lhs.size() == rhs.size() && std::equal(lhs.begin(), lhs.end(), rhs.begin(),
                                                  [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
}

HttpHeaders::HttpHeaders(std::initializer_list<HttpHeaderField> fields) : fields_(fields) {}

void HttpHeaders::add(std::string name, std::string value) {
    fields_.push_back(HttpHeaderField{std::move(name), std::move(value)});
}

void HttpHeaders::set(std::string name, std::string value) {
    remove(name);
    add(std::move(name), std::move(value));
}

void HttpHeaders::remove(std::string_view name) {
    std::erase_if(fields_, [&](const HttpHeaderField& field) { return headerNamesEqual(field.name, name); });
}

bool HttpHeaders::contains(std::string_view name) const {
    return std::any_of(fields_.begin(), fields_.end(),
                       [&](const HttpHeaderField& field) { return headerNamesEqual(field.name, name); });
}

std::optional<std::string> HttpHeaders::value(std::string_view name) const {
    for (const auto& field : fields_) {
        if (headerNamesEqual(field.name, name)) return field.value;
    }
    return std::nullopt;
}

std::vector<std::string> HttpHeaders::values(std::string_view name) const {
    std::vector<std::string> result;
    for (const auto& field : fields_) {
        if (headerNamesEqual(field.name, name)) result.push_back(field.value);
    }
    return result;
}

std::optional<std::string> HttpHeaders::joinedValue(std::string_view name) const {
    std::optional<std::string> joined;
    for (const auto& field : fields_) {
        if (!headerNamesEqual(field.name, name)) continue;
        if (joined) {
            *joined += ", ";
            *joined += field.value;
        } else {
            joined = field.value;
        }
    }
    return joined;
}

std::string HttpHeaders::description() const {
    std::string out = "{";
    bool first = true;
    for (const auto& field : fields_) {
        if (!first) out += ", ";
        first = false;
        appendQuoted(out, field.name);
        out += ": ";
        appendQuoted(out, field.value);
    }
    out += '}';
    return out;
}

}  // namespace ambrell::platform
