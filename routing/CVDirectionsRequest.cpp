#include "routing/CVDirectionsRequest.h"

#include <ctime>

#include <boost/url/parse.hpp>
#include <boost/url/url.hpp>

#include "foundation/CVAXAPI.h"
#include "foundation/CVPercentEncoding.h"

namespace ambrell {

namespace directions_request {
namespace {

bool unreserved(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
           byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

void appendEncoded(std::string& out, std::string_view text) {
    for (const char character : text) {
        const auto byte = static_cast<unsigned char>(character);
        if (unreserved(byte)) {
            out.push_back(character);
        } else {
            appendPercentEscaped(out, byte);
        }
    }
}

std::string joined(std::span<const std::string> values, std::string_view separator) {
    std::string text;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) text += separator;
        text += values[i];
    }
    return text;
}

}  // namespace
}  // namespace directions_request

std::optional<CVDirectionsRequest> CVDirectionsRequest::withPath(std::string_view path) {
    // The view refers to the text, which must outlive it.
    const auto base = CVAXAPI::baseUrl();
    const auto parsed = boost::urls::parse_absolute_uri(base);
    if (!parsed || !parsed->has_authority()) return std::nullopt;
    boost::urls::url url(*parsed);
    boost::system::result<boost::urls::pct_string_view> encoded = boost::urls::make_pct_string_view(path);
    if (!encoded) return std::nullopt;
    url.set_encoded_path(*encoded);
    url.remove_query();
    url.remove_fragment();
    return CVDirectionsRequest(std::string(url.buffer()));
}

std::string CVDirectionsRequest::pathSegment(std::string_view id) {
    // Dots are unreserved, so a dot segment would pass through as it is.
    if (id == "." || id == "..") {
        std::string segment;
        for (std::size_t i = 0; i < id.size(); ++i) segment += "%2E";
        return segment;
    }
    std::string segment;
    directions_request::appendEncoded(segment, id);
    return segment;
}

void CVDirectionsRequest::add(std::string_view name, std::string_view value) {
    if (!query_.empty()) query_ += '&';
    directions_request::appendEncoded(query_, name);
    query_ += '=';
    directions_request::appendEncoded(query_, value);
}

void CVDirectionsRequest::add(std::string_view name, std::span<const std::string> values, std::string_view separator) {
    add(name, directions_request::joined(values, separator));
}

void CVDirectionsRequest::addHighways(std::string_view name, std::span<const CVHighway> highways) {
    add(name, CVHighway::highwaysAsStrings(highways), ",");
}

void CVDirectionsRequest::addUserRoles(std::string_view name, std::span<const CVUserRole> roles) {
    if (roles.empty()) return;
    std::vector<std::string> ids;
    ids.reserve(roles.size());
    for (const auto& role : roles) ids.push_back(role.userRoleId);
    add(name, ids, ",");
}

std::string CVDirectionsRequest::url() const { return query_.empty() ? base_ : base_ + "?" + query_; }

std::string CVDirectionsRequest::dateText(std::chrono::system_clock::time_point date) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(date).time_since_epoch().count();
    const auto time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    if (::gmtime_r(&time, &utc) == nullptr) return {};
    char text[64];
    const auto length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return std::string(text, length);
}

}  // namespace ambrell
