#include "FakeImageProvider.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "Ambrell/CVError.h"
#include "data/CVImageUrls.h"
#include "platform/FileSystem.h"

namespace ambrell::test {

namespace fake_image_provider {
namespace {

// What a made-up download looks like: opaque teal, so a test can tell it
// from a bundled icon.
constexpr std::uint32_t kMadeUpColour = 0xFF008080;
constexpr int kMadeUpSide = 24;

int sideFor(double pixels) {
    if (!std::isfinite(pixels) || pixels < 1) return kMadeUpSide;
    return static_cast<int>(std::min(pixels, 4096.0));
}

}  // namespace
}  // namespace fake_image_provider

FakeImageProvider::FakeImageProvider(std::filesystem::path resourceFolder)
    : resourceFolder_(std::move(resourceFolder)) {}

std::filesystem::path FakeImageProvider::sampleResourceFolder() {
    return std::filesystem::path(AMBRELL_SAMPLE_SOLUTION_DIR) / "bundle" / "res";
}

void FakeImageProvider::serveLocally(const std::string& url, platform::Image image) {
    std::lock_guard lock(mutex_);
    local_.insert_or_assign(url, std::move(image));
}

void FakeImageProvider::serveDownload(const std::string& url, platform::Image image) {
    std::lock_guard lock(mutex_);
    downloads_.insert_or_assign(url, std::move(image));
}

void FakeImageProvider::setBundledImagesAreLocal(bool local) {
    std::lock_guard lock(mutex_);
    bundledAreLocal_ = local;
}

void FakeImageProvider::setFailing(bool failing) {
    std::lock_guard lock(mutex_);
    failing_ = failing;
}

int FakeImageProvider::localCalls() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(
        std::count_if(requests_.begin(), requests_.end(), [](const Request& request) { return !request.size; }));
}

int FakeImageProvider::downloadCalls() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(requests_.begin(), requests_.end(),
                                          [](const Request& request) { return request.size.has_value(); }));
}

std::vector<FakeImageProvider::Request> FakeImageProvider::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::optional<platform::Image> FakeImageProvider::bundledImage(const std::string& url) const {
    const auto name = imageResourceName(url);
    if (!name) return std::nullopt;
    const auto bytes = platform::readFile(resourceFolder_ / *name);
    if (!bytes) return std::nullopt;
    return platform::Image::fromPngData(std::as_bytes(std::span(*bytes)));
}

std::optional<platform::Image> FakeImageProvider::answerDownload(const std::string& url, CVImageSize size) const {
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(Request{url, size});
        if (failing_) throw CVError(CVErrorCase::imageNotFound);
        if (auto found = downloads_.find(url); found != downloads_.end()) return found->second;
    }
    if (auto bundled = bundledImage(url)) return bundled;
    auto made =
        platform::Image::create(fake_image_provider::sideFor(size.width), fake_image_provider::sideFor(size.height));
    for (auto& pixel : made->pixels()) pixel = fake_image_provider::kMadeUpColour;
    return made;
}

std::optional<platform::Image> FakeImageProvider::answerLocal(const std::string& url) const {
    bool bundledAreLocal = false;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(Request{url, std::nullopt});
        if (auto found = local_.find(url); found != local_.end()) return found->second;
        bundledAreLocal = bundledAreLocal_;
    }
    return bundledAreLocal ? bundledImage(url) : std::nullopt;
}

platform::Awaitable<std::optional<platform::Image>> FakeImageProvider::imageFromUrlString(std::string urlString,
                                                                                          CVImageSize imageSize) const {
    co_return answerDownload(urlString, imageSize);
}

platform::Awaitable<platform::Image> FakeImageProvider::getLocalImageFromUrlString(std::string urlString) const {
    auto image = answerLocal(urlString);
    if (!image) throw CVError(CVErrorCase::imageNotFound);
    co_return std::move(*image);
}

}  // namespace ambrell::test
