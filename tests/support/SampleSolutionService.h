#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/LoopbackWebService.h"

namespace ambrell::test {

// The web service of the sample solution (examples/sample-solution, or a
// variant its generator wrote elsewhere) on a loopback web service: every
// sync endpoint with its exact query, per venue where the sample has venue
// documents, the "dataset" size response, icons, images, external images,
// the tile package and single tiles wherever the venues' tile URL templates
// point, for every style of the venue.
//
// The documents name the sample's own hosts (the API, media, tile and photo
// hosts the generator lists under "origins"); every document is served with
// those hosts replaced by this service, so a URL read from a served document
// comes back here. Point CVAXAPI's base URL at baseUrl().
//
// Sync answers carry "Content-Language" (the "lr" of the request) and every
// answer "Last-Modified" (the sample's "serviceLastModified"), honouring
// "If-Modified-Since" with 304. A sync request for another solution id or a
// language the sample lacks gets 404, like a path the sample does not have.
// Handlers run on the service's threads; all members are thread-safe except
// stop(), which the test calls when nothing else uses web().
class SampleSolutionService {
public:
    // The sample committed beside the generator.
    [[nodiscard]] static std::filesystem::path committedSample();

    // Throws std::runtime_error when the folder holds no generated sample.
    explicit SampleSolutionService(std::filesystem::path sample = committedSample());
    ~SampleSolutionService();
    SampleSolutionService(const SampleSolutionService&) = delete;
    SampleSolutionService& operator=(const SampleSolutionService&) = delete;

    [[nodiscard]] const std::filesystem::path& sample() const { return sample_; }
    [[nodiscard]] const std::string& solutionId() const { return solutionId_; }
    // "http://127.0.0.1:<port>/"; still the same after stop().
    [[nodiscard]] const std::string& baseUrl() const { return baseUrl_; }
    [[nodiscard]] std::string url(std::string_view pathAndQuery) const;
    // The text with the sample's hosts replaced by this service, as documents are served.
    [[nodiscard]] std::string served(std::string_view text) const;
    [[nodiscard]] std::chrono::system_clock::time_point lastModified() const { return lastModified_; }
    // The document a sync URL is answered with, as served.
    [[nodiscard]] std::string syncDocument(std::string_view endpoint, std::string_view language) const;

    // The running service; throws std::logic_error after stop().
    [[nodiscard]] LoopbackWebService& web();
    [[nodiscard]] bool running() const { return web_ != nullptr; }
    // Closes the port: requests made afterwards fail as they do offline.
    void stop();

private:
    using Body = std::shared_ptr<const std::string>;

    [[nodiscard]] Body body(const std::filesystem::path& file) const;
    [[nodiscard]] LoopbackWebService::Response answer(const RecordedRequest& request, const std::filesystem::path& file,
                                                      HeaderList headers = {}) const;
    [[nodiscard]] LoopbackWebService::Response sync(std::string_view endpoint, const RecordedRequest& request) const;
    void serveFiles();
    void serveTiles();

    std::filesystem::path sample_;
    std::string solutionId_;
    std::set<std::string> languages_;
    std::set<std::string> venueEndpoints_;
    std::vector<std::string> origins_;
    std::chrono::system_clock::time_point lastModified_;
    std::string baseUrl_;

    mutable std::mutex mutex_;
    // Files read once and kept, documents with their hosts replaced.
    mutable std::map<std::filesystem::path, Body> bodies_;

    // Last: its threads call the members above until it is gone.
    std::unique_ptr<LoopbackWebService> web_;
};

}  // namespace ambrell::test
