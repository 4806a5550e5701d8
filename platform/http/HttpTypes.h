#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ambrell::platform {

struct HttpHeaderField {
    std::string name;
    std::string value;

    friend bool operator==(const HttpHeaderField&, const HttpHeaderField&) = default;
};

// The header fields of a request or a response, in the order they were added
// (which is the order they travel in). A name may occur more than once: adding
// a value under a name that already has one appends a second field, as HTTP
// allows, rather than replacing the first. Names compare case-insensitively.
class HttpHeaders {
public:
    using const_iterator = std::vector<HttpHeaderField>::const_iterator;

    HttpHeaders() = default;
    HttpHeaders(std::initializer_list<HttpHeaderField> fields);

    void add(std::string name, std::string value);
    // Drops every field of that name, then adds one.
    void set(std::string name, std::string value);
    void remove(std::string_view name);

    [[nodiscard]] bool contains(std::string_view name) const;
    // The first value under the name.
    [[nodiscard]] std::optional<std::string> value(std::string_view name) const;
    // Every value under the name, in order.
    [[nodiscard]] std::vector<std::string> values(std::string_view name) const;
    // The values joined with ", ", which HTTP treats as equal to the separate fields.
    [[nodiscard]] std::optional<std::string> joinedValue(std::string_view name) const;

    [[nodiscard]] bool empty() const { return fields_.empty(); }
    [[nodiscard]] std::size_t size() const { return fields_.size(); }
    [[nodiscard]] const_iterator begin() const { return fields_.begin(); }
    [[nodiscard]] const_iterator end() const { return fields_.end(); }

    // For log lines: {"Name": "value", "Other": "value"} in field order, with
    // quotes, backslashes and control characters escaped; "{}" when empty.
    [[nodiscard]] std::string description() const;

    friend bool operator==(const HttpHeaders&, const HttpHeaders&) = default;

private:
    std::vector<HttpHeaderField> fields_;
};

// Case-insensitive comparison of header names (ASCII, as HTTP defines them).
[[nodiscard]] bool headerNamesEqual(std::string_view lhs, std::string_view rhs);

struct HttpRequest {
    std::string url;
    std::string method = "GET";
    HttpHeaders headers;
    // Sent as the body when present (an empty vector sends an empty body).
    std::optional<std::vector<std::uint8_t>> body;
    // The file whose bytes an upload streams as the body.
    std::optional<std::filesystem::path> bodyFile;
    // An inactivity bound: the request fails when no byte moves for this long
    // (connecting included). There is no bound on the total time, so a long
    // download that keeps moving never times out. Bounds above a year count
    // as a year.
    std::chrono::seconds timeout{60};
};

struct HttpResponse {
    int statusCode = 0;
    // The URL that answered, after redirects.
    std::string url;
    HttpHeaders headers;
};

struct HttpDataResult {
    std::vector<std::uint8_t> body;
    HttpResponse response;
};

struct HttpDownloadResult {
    // A new file in the folder the caller named, holding the body; the caller
    // moves it into place or removes it.
    std::filesystem::path temporaryFile;
    HttpResponse response;
};

}  // namespace ambrell::platform
