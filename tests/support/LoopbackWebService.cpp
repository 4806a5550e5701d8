#include "tests/support/LoopbackWebService.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <iterator>
#include <locale>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/FileSystem.h"

namespace ambrell::test {

namespace {

using Clock = std::chrono::system_clock;
using Response = LoopbackWebService::Response;

constexpr const char* kHttpDateFormat = "%a, %d %b %Y %H:%M:%S GMT";

bool equalsIgnoringCase(std::string_view lhs, std::string_view rhs) {
    return lhs.size() == rhs.size() && ::strncasecmp(lhs.data(), rhs.data(), lhs.size()) == 0;
}

std::string percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Path and query of a request target; a target in absolute form (what a
// proxy receives) is reduced to its path.
std::pair<std::string, std::string> splitTarget(std::string_view target) {
    const auto questionMark = target.find('?');
    std::string_view path = target.substr(0, questionMark);
    const std::string_view query =
        questionMark == std::string_view::npos ? std::string_view() : target.substr(questionMark + 1);
    if (const auto scheme = path.find("://"); scheme != std::string_view::npos && path.front() != '/') {
        const auto slash = path.find('/', scheme + 3);
        path = slash == std::string_view::npos ? std::string_view("/") : path.substr(slash);
    }
    return {percentDecoded(path), std::string(query)};
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool sendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

// Reads from the connection until `buffer` holds `size` bytes; false when it ends first.
bool fill(int fd, std::string& buffer, std::size_t size) {
    char chunk[65536];
    while (buffer.size() < size) {
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        buffer.append(chunk, static_cast<std::size_t>(count));
    }
    return true;
}

// Takes the text before the next `delimiter` off the buffer, reading as needed.
std::optional<std::string> takeUntil(int fd, std::string& buffer, std::string_view delimiter) {
    std::size_t end;
    while ((end = buffer.find(delimiter)) == std::string::npos) {
        if (!fill(fd, buffer, buffer.size() + 1)) return std::nullopt;
    }
    std::string text = buffer.substr(0, end);
    buffer.erase(0, end + delimiter.size());
    return text;
}

// The next request on the connection, body included; none when it closes.
std::optional<RecordedRequest> readRequest(int fd, std::string& buffer) {
    // What does not begin as a request line (a TLS greeting, say) ends the connection.
    if (!fill(fd, buffer, 1) || !std::isupper(static_cast<unsigned char>(buffer.front()))) return std::nullopt;
    RecordedRequest request;
    const auto requestLine = takeUntil(fd, buffer, "\r\n");
    if (!requestLine) return std::nullopt;
    std::istringstream(*requestLine) >> request.method >> request.target;
    std::tie(request.path, request.query) = splitTarget(request.target);
    // The header fields exactly as sent, up to the blank line.
    for (;;) {
        const auto line = takeUntil(fd, buffer, "\r\n");
        if (!line) return std::nullopt;
        if (line->empty()) break;
        const std::string_view field(*line);
        if (const auto colon = field.find(':'); colon != std::string_view::npos) {
            request.headers.emplace_back(trimmed(field.substr(0, colon)), trimmed(field.substr(colon + 1)));
        }
    }
    if (equalsIgnoringCase(request.header("Expect").value_or(""), "100-continue") &&
        !sendAll(fd, "HTTP/1.1 100 Continue\r\n\r\n")) {
        return std::nullopt;
    }
    // The clients under test always send a length; a chunked body would
    // read as a request that does not begin as one, and end the connection.
    const std::size_t size = std::strtoull(request.header("Content-Length").value_or("0").c_str(), nullptr, 10);
    if (!fill(fd, buffer, size)) return std::nullopt;
    request.body.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
    buffer.erase(0, size);
    return request;
}

Response servedContent(const RecordedRequest& request, std::string body, std::string contentType,
                       Clock::time_point lastModified) {
    const auto modified = std::chrono::floor<std::chrono::seconds>(lastModified);
    Response response{200, {}, {{"Last-Modified", httpDate(modified)}}};
    if (const auto since = parseHttpDate(request.header("If-Modified-Since").value_or(""));
        since && modified <= *since) {
        response.status = 304;
        return response;
    }
    response.body = std::move(body);
    response.headers.emplace_back("Content-Type", std::move(contentType));
    return response;
}

const Response kNotFound{404, "Not Found", {{"Content-Type", "text/plain"}}};

}  // namespace

// Both ways in the classic locale, whatever locale a test has set.
std::string httpDate(Clock::time_point time) {
    const std::time_t seconds = Clock::to_time_t(time);
    std::tm parts{};
    ::gmtime_r(&seconds, &parts);
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << std::put_time(&parts, kHttpDateFormat);
    return text.str();
}

std::optional<Clock::time_point> parseHttpDate(std::string_view text) {
    std::istringstream input{std::string(text)};
    input.imbue(std::locale::classic());
    std::tm parts{};
    input >> std::get_time(&parts, kHttpDateFormat);
    // Whatever does not print back the same (a wrong day name, a zone,
    // trailing text) is not an HTTP-date.
    const auto time = Clock::from_time_t(::timegm(&parts));
    if (input.fail() || httpDate(time) != text) return std::nullopt;
    return time;
}

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    const auto values = headerValues(name);
    return values.empty() ? std::nullopt : std::optional(values.front());
}

std::vector<std::string> RecordedRequest::headerValues(std::string_view name) const {
    std::vector<std::string> values;
    for (const auto& [fieldName, value] : headers) {
        if (equalsIgnoringCase(fieldName, name)) values.push_back(value);
    }
    return values;
}

// The server reads each request head itself rather than through an HTTP
// library, which would file the fields by name, decode them and drop empty
// ones: a test of what a client sends needs the head as sent.
struct LoopbackWebService::Impl {
    struct Stream {
        std::vector<std::string> chunks;
        std::chrono::milliseconds interval;
        std::string contentType;
    };
    // What a route key sets; also what answers one request, gathered from its routes.
    struct Route {
        Handler handler;
        std::optional<Stream> stream;
        std::optional<std::chrono::milliseconds> delay;
        bool drop = false;
        HeaderList headers;
    };

    int listener = -1;
    int port = 0;
    std::thread acceptor;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool stopping = false;
    // One thread per connection, so a kept-alive connection waiting for its
    // next request never holds up another; all are joined at the end.
    std::vector<std::thread> threads;
    std::set<int> open;  // the sockets of the connections not yet closed
    std::map<std::string, Route, std::less<>> routes;
    std::vector<RecordedRequest> recorded;

    Impl() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener, SOMAXCONN) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            if (listener >= 0) ::close(listener);
            throw std::runtime_error("LoopbackWebService: cannot listen on 127.0.0.1");
        }
        port = ntohs(address.sin_port);
        acceptor = std::thread([this] { acceptLoop(); });
    }

    ~Impl() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
            ::shutdown(listener, SHUT_RDWR);  // wakes the blocked accept()
            for (const int fd : open) ::shutdown(fd, SHUT_RDWR);
        }
        changed.notify_all();
        acceptor.join();
        for (auto& thread : threads) thread.join();
        ::close(listener);
    }

    void acceptLoop() {
        for (;;) {
            sockaddr_in client{};
            socklen_t length = sizeof client;
            const int fd = ::accept4(listener, reinterpret_cast<sockaddr*>(&client), &length, SOCK_CLOEXEC);
            if (fd < 0 && (errno == EINTR || errno == ECONNABORTED)) continue;
            if (fd < 0) return;
            // Bytes leave as written; Nagle's algorithm would hold the end of
            // a chunked answer back for the client's delayed acknowledgement.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            std::lock_guard lock(mutex);
            if (stopping) {
                ::close(fd);
                return;
            }
            open.insert(fd);
            threads.emplace_back([this, fd, clientPort = ntohs(client.sin_port)] { converse(fd, clientPort); });
        }
    }

    void converse(int fd, int clientPort) {
        std::string buffer;
        while (auto request = readRequest(fd, buffer)) {
            request->remotePort = clientPort;
            {
                std::lock_guard lock(mutex);
                recorded.push_back(*request);
            }
            changed.notify_all();
            if (!answer(fd, *request)) break;
        }
        std::lock_guard lock(mutex);
        ::close(fd);
        open.erase(fd);
    }

    // Waits for the duration or until the service stops; false when stopping.
    bool pause(std::chrono::milliseconds duration) const {
        std::unique_lock lock(mutex);
        return !changed.wait_for(lock, duration, [this] { return stopping; });
    }

    Route plan(const RecordedRequest& request) const {
        std::lock_guard lock(mutex);
        Route plan;
        // The exact key overrides.
        for (const auto& found : {routes.find(request.path), routes.find(request.path + "?" + request.query)}) {
            if (found == routes.end()) continue;
            const Route& route = found->second;
            if (route.handler || route.stream) {
                plan.handler = route.handler;
                plan.stream = route.stream;
            }
            if (route.delay) plan.delay = route.delay;
            plan.drop = plan.drop || route.drop;
            plan.headers.insert(plan.headers.end(), route.headers.begin(), route.headers.end());
        }
        return plan;
    }

    // Answers one request; false when the connection is to close.
    bool answer(int fd, const RecordedRequest& request) const {
        const Route plan = this->plan(request);
        if (plan.delay && !pause(*plan.delay)) return false;
        if (plan.drop) return false;  // the client sees the connection close without an answer
        const bool keepAlive = !equalsIgnoringCase(request.header("Connection").value_or(""), "close");
        std::string head = keepAlive ? "" : "Connection: close\r\n";
        for (const auto& [name, value] : plan.headers) head += name + ": " + value + "\r\n";
        if (plan.stream) {
            head = "HTTP/1.1 200 \r\nTransfer-Encoding: chunked\r\nContent-Type: " + plan.stream->contentType + "\r\n" +
                   head + "\r\n";
            if (!sendAll(fd, head)) return false;
            for (const auto& chunk : plan.stream->chunks) {
                char size[24];
                std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
                if (!pause(plan.stream->interval) || !sendAll(fd, size + chunk + "\r\n")) return false;
            }
            return sendAll(fd, "0\r\n\r\n") && keepAlive;
        }
        Response response = kNotFound;
        try {
            if (plan.handler) response = plan.handler(request);
        } catch (const std::exception& error) {
            response = Response{500, std::string("handler failed: ") + error.what(), {{"Content-Type", "text/plain"}}};
        }
        std::string contentType = "application/json";
        for (const auto& [name, value] : response.headers) {
            if (equalsIgnoringCase(name, "Content-Type")) {
                contentType = value;
            } else {
                head += name + ": " + value + "\r\n";
            }
        }
        // 204 and 304 answers have no body, nor a length; a HEAD answer tells the length only.
        const bool bodiless = response.status == 204 || response.status == 304;
        if (!bodiless && !response.body.empty()) head += "Content-Type: " + contentType + "\r\n";
        if (!bodiless) head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
        head = "HTTP/1.1 " + std::to_string(response.status) + " \r\n" + head + "\r\n";
        if (!bodiless && request.method != "HEAD") head += response.body;
        return sendAll(fd, head) && keepAlive;
    }
};

LoopbackWebService::LoopbackWebService() : impl_(std::make_unique<Impl>()) {}
LoopbackWebService::~LoopbackWebService() = default;

int LoopbackWebService::port() const { return impl_->port; }

std::string LoopbackWebService::url(std::string_view pathAndQuery) const {
    return "http://127.0.0.1:" + std::to_string(port()) + std::string(pathAndQuery);
}

std::string LoopbackWebService::baseUrl() const { return url("/"); }

void LoopbackWebService::serveFile(std::string route, std::filesystem::path file,
                                   std::optional<Clock::time_point> lastModified) {
    handle(std::move(route), [file = std::move(file), lastModified](const RecordedRequest& request) {
        auto body = platform::readTextFile(file);
        if (!body) return kNotFound;
        auto modified = lastModified.value_or(Clock::now());
        std::error_code error;
        if (const auto written = std::filesystem::last_write_time(file, error); !lastModified && !error) {
            modified = std::chrono::time_point_cast<Clock::duration>(std::chrono::file_clock::to_sys(written));
        }
        return servedContent(request, std::move(*body),
                             file.extension() == ".json" ? "application/json" : "application/octet-stream", modified);
    });
}

void LoopbackWebService::serveBody(std::string route, std::string body, std::string contentType,
                                   std::optional<Clock::time_point> lastModified) {
    const auto modified = lastModified.value_or(Clock::now());
    handle(std::move(route),
           [body = std::move(body), contentType = std::move(contentType), modified](const RecordedRequest& request) {
               return servedContent(request, body, contentType, modified);
           });
}

void LoopbackWebService::serveChunks(std::string route, std::vector<std::string> chunks,
                                     std::chrono::milliseconds interval, std::string contentType) {
    std::lock_guard lock(impl_->mutex);
    auto& entry = impl_->routes[std::move(route)];
    entry.handler = nullptr;
    entry.stream = Impl::Stream{std::move(chunks), interval, std::move(contentType)};
}

void LoopbackWebService::respond(std::string route, Response response) {
    handle(std::move(route), [response = std::move(response)](const RecordedRequest&) { return response; });
}

void LoopbackWebService::handle(std::string route, Handler handler) {
    std::lock_guard lock(impl_->mutex);
    auto& entry = impl_->routes[std::move(route)];
    entry.handler = std::move(handler);
    entry.stream.reset();
}

void LoopbackWebService::delay(std::string route, std::chrono::milliseconds duration) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes[std::move(route)].delay = duration;
}

void LoopbackWebService::dropConnection(std::string route) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes[std::move(route)].drop = true;
}

void LoopbackWebService::addResponseHeader(std::string route, std::string name, std::string value) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes[std::move(route)].headers.emplace_back(std::move(name), std::move(value));
}

std::vector<RecordedRequest> LoopbackWebService::requests() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->recorded;
}

std::vector<RecordedRequest> LoopbackWebService::requestsTo(std::string_view path) const {
    std::lock_guard lock(impl_->mutex);
    std::vector<RecordedRequest> matching;
    std::copy_if(impl_->recorded.begin(), impl_->recorded.end(), std::back_inserter(matching),
                 [&](const RecordedRequest& request) { return request.path == path; });
    return matching;
}

std::optional<RecordedRequest> LoopbackWebService::lastRequest(std::string_view path) const {
    auto matching = requestsTo(path);
    return matching.empty() ? std::nullopt : std::optional(std::move(matching.back()));
}

bool LoopbackWebService::waitForRequests(std::size_t count, std::chrono::milliseconds bound) const {
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, bound, [&] { return impl_->recorded.size() >= count; });
}

void LoopbackWebService::clearRequests() {
    std::lock_guard lock(impl_->mutex);
    impl_->recorded.clear();
}

}  // namespace ambrell::test
