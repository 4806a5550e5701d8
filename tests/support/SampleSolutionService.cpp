#include "tests/support/SampleSolutionService.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "platform/FileSystem.h"

namespace ambrell::test {

namespace fs = std::filesystem;
namespace json = boost::json;
using Response = LoopbackWebService::Response;

namespace {

const Response kNotFound{404, "Not Found", {{"Content-Type", "text/plain"}}};

json::value documentAt(const fs::path& file) {
    const auto text = platform::readTextFile(file);
    if (!text) throw std::runtime_error("SampleSolutionService: no " + file.string());
    return json::parse(*text);
}

std::string textOf(const json::value& value) { return std::string(value.as_string()); }

std::string contentTypeOf(const fs::path& file) {
    const auto extension = file.extension();
    if (extension == ".json") return "application/json";
    if (extension == ".png") return "image/png";
    if (extension == ".zip") return "application/zip";
    return "application/octet-stream";
}

// The value of a query item; "" when absent. The library sends its sync
// queries unescaped, so they are compared as sent.
std::string queryItem(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const auto end = std::min(query.find('&'), query.size());
        const auto item = query.substr(0, end);
        if (const auto equals = item.find('='); equals != std::string_view::npos && item.substr(0, equals) == name) {
            return std::string(item.substr(equals + 1));
        }
        query.remove_prefix(std::min(end + 1, query.size()));
    }
    return {};
}

std::string lowered(std::string text) {
    std::ranges::transform(text, text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

fs::path SampleSolutionService::committedSample() { return AMBRELL_SAMPLE_SOLUTION_DIR; }

SampleSolutionService::SampleSolutionService(fs::path sample) : sample_(std::move(sample)) {
    const json::value counts = documentAt(sample_ / "expected-counts.json");
    solutionId_ = textOf(counts.at("solutionId"));
    for (const auto& language : counts.at("languages").as_array()) languages_.insert(textOf(language));
    for (const auto& endpoint : counts.at("venueEndpoints").as_array()) venueEndpoints_.insert(textOf(endpoint));
    for (const auto& origin : counts.at("origins").as_array()) origins_.push_back(textOf(origin));
    lastModified_ = std::chrono::system_clock::time_point(
        std::chrono::seconds(counts.at("serviceLastModified").to_number<std::int64_t>()));

    web_ = std::make_unique<LoopbackWebService>();
    baseUrl_ = web_->baseUrl();
    serveFiles();
    serveTiles();
}

SampleSolutionService::~SampleSolutionService() = default;

std::string SampleSolutionService::url(std::string_view pathAndQuery) const {
    std::string url = baseUrl_;
    url.pop_back();
    return url + std::string(pathAndQuery);
}

std::string SampleSolutionService::served(std::string_view text) const {
    const std::string origin = url("");
    std::string result(text);
    for (const auto& host : origins_) {
        for (auto at = result.find(host); at != std::string::npos; at = result.find(host, at + origin.size())) {
            result.replace(at, host.size(), origin);
        }
    }
    return result;
}

std::string SampleSolutionService::syncDocument(std::string_view endpoint, std::string_view language) const {
    return *body(sample_ / "service" / "sync" / (std::string(endpoint) + "_" + std::string(language) + ".json"));
}

LoopbackWebService& SampleSolutionService::web() {
    if (!web_) throw std::logic_error("SampleSolutionService: the service was stopped");
    return *web_;
}

void SampleSolutionService::stop() { web_.reset(); }

SampleSolutionService::Body SampleSolutionService::body(const fs::path& file) const {
    {
        std::lock_guard lock(mutex_);
        if (const auto found = bodies_.find(file); found != bodies_.end()) return found->second;
    }
    // Read outside the lock: concurrent first reads of one file read it twice and keep one.
    auto text = platform::readTextFile(file);
    if (!text) return nullptr;
    auto body = std::make_shared<const std::string>(file.extension() == ".json" ? served(*text) : std::move(*text));
    std::lock_guard lock(mutex_);
    return bodies_.emplace(file, std::move(body)).first->second;
}

Response SampleSolutionService::answer(const RecordedRequest& request, const fs::path& file, HeaderList headers) const {
    const auto content = body(file);
    if (!content) return kNotFound;
    headers.emplace_back("Last-Modified", httpDate(lastModified_));
    if (const auto since = parseHttpDate(request.header("If-Modified-Since").value_or(""));
        since && lastModified_ <= *since) {
        return Response{304, {}, std::move(headers)};
    }
    headers.emplace_back("Content-Type", contentTypeOf(file));
    return Response{200, *content, std::move(headers)};
}

Response SampleSolutionService::sync(std::string_view endpoint, const RecordedRequest& request) const {
    const std::string language = queryItem(request.query, "lr");
    if (queryItem(request.query, "solutionId") != solutionId_ || !languages_.contains(language)) return kNotFound;
    const std::string name = std::string(endpoint) + "_" + language + ".json";
    fs::path file = sample_ / "service" / "sync" / name;
    // A venue's URL gets the venue's document where the service has them, else the whole one.
    if (const auto venueId = queryItem(request.query, "venueId");
        !venueId.empty() && venueEndpoints_.contains(std::string(endpoint))) {
        file = sample_ / "service" / "sync" / venueId / name;
    }
    return answer(request, file, {{"Content-Language", language}});
}

void SampleSolutionService::serveFiles() {
    const fs::path service = sample_ / "service";
    std::set<std::string> endpoints;
    for (const auto& entry : fs::directory_iterator(service / "sync")) {
        const std::string stem = entry.path().stem().string();
        if (entry.is_regular_file() && stem.find('_') != std::string::npos) {
            endpoints.insert(stem.substr(0, stem.rfind('_')));
        }
    }
    for (const auto& endpoint : endpoints) {
        web_->handle("/sync/" + endpoint,
                     [this, endpoint](const RecordedRequest& request) { return sync(endpoint, request); });
    }
    // Everything else lies at its URL's path.
    for (const auto& entry : fs::recursive_directory_iterator(service)) {
        const fs::path relative = entry.path().lexically_relative(service);
        if (!entry.is_regular_file() || *relative.begin() == "sync") continue;
        // Appended rather than "/" + text, which g++ 12's optimiser misreads as an overlapping copy.
        std::string route = "/";
        route += relative.generic_string();
        web_->handle(std::move(route),
                     [this, file = entry.path()](const RecordedRequest& request) { return answer(request, file); });
    }
}

// A venue's tiles lie where its template points with the "/{style}" segment
// left out; they are served under every style of the venue, plain and in the
// retina form "<style>_X2" that the tile provider asks for.
void SampleSolutionService::serveTiles() {
    const std::string origin = url("");
    const auto language = *languages_.begin();
    const json::value venues = json::parse(syncDocument("venues", language));
    for (const auto& venue : venues.as_array()) {
        const auto* tilesUrl = venue.as_object().if_contains("tilesUrl");
        if (tilesUrl == nullptr || !tilesUrl->is_string()) continue;
        const std::string path = served(textOf(*tilesUrl)).substr(origin.size());
        const auto style = path.find("/{style}");
        if (path.rfind("/", 0) != 0 || style == std::string::npos) continue;
        const std::string prefix = path.substr(0, style);
        std::set<std::string> styles;
        std::vector<const json::value*> folders;
        if (const auto* list = venue.as_object().if_contains("styles"); list != nullptr && list->is_array()) {
            for (const auto& entry : list->as_array()) folders.push_back(entry.as_object().if_contains("folder"));
        }
        if (const auto* override = venue.as_object().if_contains("styleOverride"); override && override->is_object()) {
            folders.push_back(override->as_object().if_contains("folder"));
        }
        for (const auto* folder : folders) {
            if (folder == nullptr || !folder->is_string()) continue;
            for (const auto& name : {textOf(*folder), lowered(textOf(*folder))}) {
                styles.insert(name);
                styles.insert(name + "_X2");
            }
        }
        const fs::path stored = sample_ / "service" / fs::path(prefix.substr(1));
        if (!fs::is_directory(stored)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(stored)) {
            if (!entry.is_regular_file()) continue;
            const std::string relative = entry.path().lexically_relative(stored).generic_string();
            for (const auto& name : styles) {
                web_->handle(
                    prefix + "/" + name + "/" + relative,
                    [this, file = entry.path()](const RecordedRequest& request) { return answer(request, file); });
            }
        }
    }
}

}  // namespace ambrell::test
