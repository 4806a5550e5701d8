#include "tests/support/LoopbackWebService.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/FileSystem.h"
#include "tests/support/LoopbackRelay.h"

namespace ambrell::test {

namespace {

using Clock = std::chrono::system_clock;

constexpr std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsIgnoringCase(std::string_view lhs, std::string_view rhs) {
    return lhs.size() == rhs.size() && std::equal(lhs.begin(), lhs.end(), rhs.begin(),
                                                  [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int high = hexValue(text[i + 1]);
            const int low = hexValue(text[i + 2]);
            if (high >= 0 && low >= 0) {
                out += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        out += text[i];
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

std::optional<Clock::time_point> fileTime(const std::filesystem::path& file) {
    std::error_code error;
    const auto written = std::filesystem::last_write_time(file, error);
    if (error) return std::nullopt;
    return std::chrono::time_point_cast<Clock::duration>(std::chrono::file_clock::to_sys(written));
}

std::string contentTypeFor(const std::filesystem::path& file) {
    static const std::map<std::string, std::string> types = {
        {".json", "application/json"}, {".geojson", "application/geo+json"},
        {".png", "image/png"},         {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},       {".svg", "image/svg+xml"},
        {".zip", "application/zip"},   {".txt", "text/plain"},
        {".html", "text/html"}};
    const auto found = types.find(file.extension().string());
    return found == types.end() ? "application/octet-stream" : found->second;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Method, target and header fields of a request head as sent.
void readHead(std::string_view head, RecordedRequest& request) {
    auto end = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, end);
    const auto firstSpace = requestLine.find(' ');
    const auto lastSpace = requestLine.rfind(' ');
    if (firstSpace != std::string_view::npos && lastSpace > firstSpace) {
        request.method = std::string(requestLine.substr(0, firstSpace));
        request.target = std::string(requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1));
    }
    request.headers.clear();
    while (end != std::string_view::npos) {
        const auto start = end + 2;
        end = head.find("\r\n", start);
        const std::string_view line =
            head.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        request.headers.emplace_back(std::string(trimmed(line.substr(0, colon))),
                                     std::string(trimmed(line.substr(colon + 1))));
    }
}

bool hasParentStep(const std::filesystem::path& relative) {
    return std::any_of(relative.begin(), relative.end(), [](const auto& part) { return part == ".."; });
}

// One thread per connection, so a kept-alive connection that waits for its
// next request never holds up a new one.
class ConnectionThreads : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> work) override {
        std::vector<std::thread> ended;
        {
            std::lock_guard lock(mutex_);
            for (const int id : finished_) {
                ended.push_back(std::move(threads_.at(id)));
                threads_.erase(id);
            }
            finished_.clear();
            const int id = nextId_++;
            threads_.emplace(id, std::thread([this, id, work = std::move(work)] {
                                 work();
                                 std::lock_guard lock(mutex_);
                                 finished_.push_back(id);
                             }));
        }
        for (auto& thread : ended) thread.join();
    }

    void shutdown() override {
        std::map<int, std::thread> all;
        {
            std::lock_guard lock(mutex_);
            all.swap(threads_);
            finished_.clear();
        }
        for (auto& [id, thread] : all) thread.join();
    }

private:
    std::mutex mutex_;
    std::map<int, std::thread> threads_;
    std::vector<int> finished_;
    int nextId_ = 0;
};

// Sends one request straight to the server and reads the answer to its end.
void requestOnce(int port, std::string_view request) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        for (;;) {
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, 5000) <= 0 || ::read(fd, buffer, sizeof buffer) <= 0) break;
        }
    }
    ::close(fd);
}

// The server library listens with a backlog of 5: a burst of connections
// overflows it, and the dropped ones retry only a second later. Listening
// again on the same socket raises the backlog.
class LoopbackServer : public httplib::Server {
public:
    void widenBacklog() { ::listen(svr_sock_, SOMAXCONN); }
};

}  // namespace

std::string httpDate(Clock::time_point time) {
    const std::time_t seconds = Clock::to_time_t(time);
    std::tm parts{};
    ::gmtime_r(&seconds, &parts);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT",
                  kDays.at(static_cast<std::size_t>(parts.tm_wday)), parts.tm_mday,
                  kMonths.at(static_cast<std::size_t>(parts.tm_mon)), parts.tm_year + 1900, parts.tm_hour, parts.tm_min,
                  parts.tm_sec);
    return text;
}

std::optional<Clock::time_point> parseHttpDate(std::string_view text) {
    char day[4] = {};
    char month[4] = {};
    std::tm parts{};
    int consumed = 0;
    const std::string copy(text);
    if (std::sscanf(copy.c_str(), "%3[A-Za-z], %2d %3[A-Za-z] %4d %2d:%2d:%2d GMT%n", day, &parts.tm_mday, month,
                    &parts.tm_year, &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &consumed) != 7 ||
        static_cast<std::size_t>(consumed) != copy.size()) {
        return std::nullopt;
    }
    const auto monthIndex =
        std::find_if(kMonths.begin(), kMonths.end(), [&](const char* name) { return std::strcmp(name, month) == 0; });
    if (monthIndex == kMonths.end()) return std::nullopt;
    parts.tm_mon = static_cast<int>(monthIndex - kMonths.begin());
    parts.tm_year -= 1900;
    return Clock::from_time_t(::timegm(&parts));
}

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    for (const auto& [fieldName, value] : headers) {
        if (equalsIgnoringCase(fieldName, name)) return value;
    }
    return std::nullopt;
}

std::vector<std::string> RecordedRequest::headerValues(std::string_view name) const {
    std::vector<std::string> values;
    for (const auto& [fieldName, value] : headers) {
        if (equalsIgnoringCase(fieldName, name)) values.push_back(value);
    }
    return values;
}

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

    LoopbackServer server;
    std::thread listener;
    std::unique_ptr<detail::LoopbackRelay> relay;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool stopping = false;
    std::map<std::string, Route, std::less<>> routes;
    std::vector<std::pair<std::string, std::filesystem::path>> folders;
    std::vector<RecordedRequest> recorded;

    Impl();
    ~Impl();
    void serve(const httplib::Request& request, httplib::Response& response);
    RecordedRequest record(const httplib::Request& request);
    Route plan(const RecordedRequest& request) const;
    std::optional<Response> serveFromFolder(const RecordedRequest& request) const;
    // Waits for the duration or until the service stops; false when stopping.
    bool pause(std::chrono::milliseconds duration) const;
};

namespace {

LoopbackWebService::Response servedContent(const RecordedRequest& request, std::string body, std::string contentType,
                                           Clock::time_point lastModified) {
    const auto modified = std::chrono::floor<std::chrono::seconds>(lastModified);
    LoopbackWebService::Response response{200, {}, {{"Last-Modified", httpDate(modified)}}};
    if (const auto since = request.header("If-Modified-Since")) {
        if (const auto sinceTime = parseHttpDate(*since); sinceTime && modified <= *sinceTime) {
            response.status = 304;
            return response;
        }
    }
    response.body = std::move(body);
    response.headers.emplace_back("Content-Type", std::move(contentType));
    return response;
}

LoopbackWebService::Response fileContent(const RecordedRequest& request, const std::filesystem::path& file,
                                         std::optional<Clock::time_point> lastModified) {
    auto body = platform::readTextFile(file);
    if (!body) return {404, "Not Found", {{"Content-Type", "text/plain"}}};
    const auto modified = lastModified ? lastModified : fileTime(file);
    return servedContent(request, std::move(*body), contentTypeFor(file), modified.value_or(Clock::now()));
}

}  // namespace

LoopbackWebService::Impl::Impl() {
    server.new_task_queue = [] { return new ConnectionThreads; };
    // Short, so a client that keeps its connection open past the service's
    // end delays the shutdown little.
    server.set_keep_alive_timeout(2);
    // As a real web service, many requests per connection, not the library's five.
    server.set_keep_alive_max_count(1000);
    // Headers and body leave in separate writes; with Nagle's algorithm the
    // body would wait for the client's delayed acknowledgement.
    server.set_tcp_nodelay(true);
    const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        serve(request, response);
    };
    const std::string anyPath = "[\\s\\S]*";
    server.Get(anyPath, handler);
    server.Post(anyPath, handler);
    server.Put(anyPath, handler);
    server.Patch(anyPath, handler);
    server.Delete(anyPath, handler);
    server.Options(anyPath, handler);
    const int serverPort = server.bind_to_any_port("127.0.0.1");
    if (serverPort <= 0) throw std::runtime_error("LoopbackWebService: cannot bind a port on 127.0.0.1");
    server.widenBacklog();
    relay = std::make_unique<detail::LoopbackRelay>(serverPort);
    listener = std::thread([this] { server.listen_after_bind(); });
    // The socket already queues connections, but stop() works only once the
    // accept loop runs.
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The server library fills some tables of its own on the first request it
    // parses. Parsing one here, before tests send theirs from many threads,
    // keeps ThreadSanitizer from taking that lazy set-up inside the
    // uninstrumented library for a race.
    requestOnce(serverPort, "OPTIONS /loopback-warm-up HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    std::lock_guard lock(mutex);
    recorded.clear();
}

LoopbackWebService::Impl::~Impl() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    // Closing the clients' connections first spares the server its wait for
    // their next request.
    if (relay) relay->stop();
    server.stop();
    if (listener.joinable()) listener.join();
}

bool LoopbackWebService::Impl::pause(std::chrono::milliseconds duration) const {
    std::unique_lock lock(mutex);
    return !changed.wait_for(lock, duration, [this] { return stopping; });
}

RecordedRequest LoopbackWebService::Impl::record(const httplib::Request& request) {
    RecordedRequest recordedRequest;
    recordedRequest.method = request.method;
    recordedRequest.target = request.target;
    recordedRequest.remotePort = request.remote_port;
    for (const auto& [name, value] : request.headers) {
        // The server library files the connection's addresses among the headers.
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT") continue;
        recordedRequest.headers.emplace_back(name, value);
    }
    if (auto head = relay->takeHead(request.remote_port)) {
        readHead(head->text, recordedRequest);
        recordedRequest.remotePort = head->clientPort;
    }
    std::tie(recordedRequest.path, recordedRequest.query) = splitTarget(recordedRequest.target);
    recordedRequest.body.assign(request.body.begin(), request.body.end());
    recordedRequest.time = Clock::now();
    {
        std::lock_guard lock(mutex);
        recorded.push_back(recordedRequest);
    }
    changed.notify_all();
    return recordedRequest;
}

LoopbackWebService::Impl::Route LoopbackWebService::Impl::plan(const RecordedRequest& request) const {
    std::lock_guard lock(mutex);
    const Route* exact = nullptr;
    if (const auto found = routes.find(request.path + "?" + request.query); found != routes.end())
        exact = &found->second;
    const Route* general = nullptr;
    if (const auto found = routes.find(request.path); found != routes.end()) general = &found->second;

    Route plan;
    for (const Route* route : {general, exact}) {  // the exact key overrides
        if (route == nullptr) continue;
        if (route->handler || route->stream) {
            plan.handler = route->handler;
            plan.stream = route->stream;
        }
        if (route->delay) plan.delay = route->delay;
        plan.drop = plan.drop || route->drop;
        plan.headers.insert(plan.headers.end(), route->headers.begin(), route->headers.end());
    }
    return plan;
}

std::optional<LoopbackWebService::Response> LoopbackWebService::Impl::serveFromFolder(
    const RecordedRequest& request) const {
    std::optional<std::filesystem::path> file;
    {
        std::lock_guard lock(mutex);
        std::size_t longest = 0;
        for (const auto& [prefix, folder] : folders) {
            if (!request.path.starts_with(prefix) || prefix.size() < longest) continue;
            std::string_view rest = std::string_view(request.path).substr(prefix.size());
            if (!prefix.ends_with('/')) {
                if (!rest.starts_with('/')) continue;
                rest.remove_prefix(1);
            }
            const std::filesystem::path relative(rest);
            if (rest.empty() || relative.is_absolute() || hasParentStep(relative)) continue;
            file = folder / relative;
            longest = prefix.size();
        }
    }
    if (!file) return std::nullopt;
    return fileContent(request, *file, std::nullopt);
}

void LoopbackWebService::Impl::serve(const httplib::Request& request, httplib::Response& response) {
    const RecordedRequest recordedRequest = record(request);
    const Route plan = this->plan(recordedRequest);
    if (plan.delay && plan.delay->count() > 0 && !pause(*plan.delay)) {
        response.status = 503;
        return;
    }
    if (plan.drop) {
        relay->dropClient(request.remote_port);
        response.status = 500;
        return;
    }
    for (const auto& [name, value] : plan.headers) response.headers.emplace(name, value);
    if (plan.stream) {
        auto next = std::make_shared<std::size_t>(0);
        response.status = 200;
        response.set_chunked_content_provider(
            plan.stream->contentType, [this, stream = *plan.stream, next](std::size_t, httplib::DataSink& sink) {
                if (*next == stream.chunks.size()) {
                    sink.done();
                    return true;
                }
                if (!pause(stream.interval)) return false;
                const auto& chunk = stream.chunks[(*next)++];
                return sink.write(chunk.data(), chunk.size());
            });
        return;
    }

    std::optional<Response> answer;
    try {
        if (plan.handler) {
            answer = plan.handler(recordedRequest);
        } else {
            answer = serveFromFolder(recordedRequest);
        }
    } catch (const std::exception& error) {
        answer = Response{500, std::string("handler failed: ") + error.what(), {{"Content-Type", "text/plain"}}};
    }
    if (!answer) answer = Response{404, "Not Found", {{"Content-Type", "text/plain"}}};

    response.status = answer->status;
    std::string contentType = "application/json";
    for (const auto& [name, value] : answer->headers) {
        if (equalsIgnoringCase(name, "Content-Type")) {
            contentType = value;
        } else {
            response.headers.emplace(name, value);
        }
    }
    if (!answer->body.empty()) response.set_content(answer->body, contentType);
}

LoopbackWebService::LoopbackWebService() : impl_(std::make_unique<Impl>()) {}
LoopbackWebService::~LoopbackWebService() = default;

int LoopbackWebService::port() const { return impl_->relay->port(); }

std::string LoopbackWebService::url(std::string_view pathAndQuery) const {
    return "http://127.0.0.1:" + std::to_string(port()) + std::string(pathAndQuery);
}

std::string LoopbackWebService::baseUrl() const { return url("/"); }

void LoopbackWebService::serveFile(std::string route, std::filesystem::path file,
                                   std::optional<Clock::time_point> lastModified) {
    handle(std::move(route), [file = std::move(file), lastModified](const RecordedRequest& request) {
        return fileContent(request, file, lastModified);
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

void LoopbackWebService::serveFolder(std::string urlPrefix, std::filesystem::path folder) {
    std::lock_guard lock(impl_->mutex);
    impl_->folders.emplace_back(std::move(urlPrefix), std::move(folder));
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

void LoopbackWebService::removeRoute(const std::string& route) {
    std::lock_guard lock(impl_->mutex);
    impl_->routes.erase(route);
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
    std::lock_guard lock(impl_->mutex);
    for (auto request = impl_->recorded.rbegin(); request != impl_->recorded.rend(); ++request) {
        if (request->path == path) return *request;
    }
    return std::nullopt;
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
