#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ambrell::test {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// A request as the service received it.
struct RecordedRequest {
    std::string method;
    // The request target exactly as sent: a path with its query, or, for a
    // request sent to a proxy, the absolute URL.
    std::string target;
    // The decoded path, without the query (for an absolute target, the URL's path).
    std::string path;
    // The query text as sent, without "?"; empty when there is none.
    std::string query;
    // Every field as sent, in order; empty values and percent signs as they were.
    HeaderList headers;
    std::vector<std::uint8_t> body;
    // The client's port: requests on one kept-alive connection share it.
    int remotePort = 0;

    // The first value of the header, compared case-insensitively.
    [[nodiscard]] std::optional<std::string> header(std::string_view name) const;
    [[nodiscard]] std::vector<std::string> headerValues(std::string_view name) const;
    [[nodiscard]] std::string bodyText() const { return std::string(body.begin(), body.end()); }
};

// A real HTTP/1.1 server on 127.0.0.1, on a port of its own, standing in for
// the web service. It listens from construction to destruction and answers
// any method, on kept-alive connections.
//
// Routes are keyed by path. A key "path?query" answers only requests with
// exactly that query text; a key without "?" answers any query (the exact
// key wins). A path no route answers gets 404. Every request is recorded,
// 404s included. All members are thread-safe.
class LoopbackWebService {
public:
    using Clock = std::chrono::system_clock;

    struct Response {
        int status = 200;
        std::string body;
        // "Content-Type" among them sets the body's type ("application/json"
        // when absent).
        HeaderList headers;
    };
    using Handler = std::function<Response(const RecordedRequest&)>;

    LoopbackWebService();
    ~LoopbackWebService();
    LoopbackWebService(const LoopbackWebService&) = delete;
    LoopbackWebService& operator=(const LoopbackWebService&) = delete;

    [[nodiscard]] int port() const;
    // "http://127.0.0.1:<port><pathAndQuery>"
    [[nodiscard]] std::string url(std::string_view pathAndQuery) const;
    // "http://127.0.0.1:<port>/"
    [[nodiscard]] std::string baseUrl() const;

    // Served content answers with "Last-Modified" (the given instant, else the
    // file's modification time, else the moment the route was set) and
    // honours "If-Modified-Since": content not modified since then answers
    // 304 without a body.
    // The file is read at each request; a file that has gone answers 404.
    void serveFile(std::string route, std::filesystem::path file, std::optional<Clock::time_point> lastModified = {});
    void serveBody(std::string route, std::string body, std::string contentType = "application/json",
                   std::optional<Clock::time_point> lastModified = {});
    // Sends `chunks` with chunked transfer coding, pausing `interval` before
    // each: a slow but steady answer.
    void serveChunks(std::string route, std::vector<std::string> chunks, std::chrono::milliseconds interval,
                     std::string contentType = "application/octet-stream");

    // A fixed answer.
    void respond(std::string route, Response response);
    // An answer computed per request (called on a server thread).
    void handle(std::string route, Handler handler);
    // Waits this long before answering the route, whatever answers it. Ends
    // early when the service stops.
    void delay(std::string route, std::chrono::milliseconds duration);
    // Closes the connection without answering: the client sees a transport error.
    void dropConnection(std::string route);
    // Adds a header to every answer of the route.
    void addResponseHeader(std::string route, std::string name, std::string value);

    [[nodiscard]] std::vector<RecordedRequest> requests() const;
    [[nodiscard]] std::vector<RecordedRequest> requestsTo(std::string_view path) const;
    [[nodiscard]] std::optional<RecordedRequest> lastRequest(std::string_view path) const;
    // Whether at least `count` requests arrived (all paths) within the bound.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds bound = std::chrono::seconds(30)) const;
    void clearRequests();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// HTTP-date text ("Sun, 06 Nov 1994 08:49:37 GMT") of an instant, to the second.
[[nodiscard]] std::string httpDate(std::chrono::system_clock::time_point time);
// The instant of an HTTP-date text; none when it does not parse.
[[nodiscard]] std::optional<std::chrono::system_clock::time_point> parseHttpDate(std::string_view text);

}  // namespace ambrell::test
