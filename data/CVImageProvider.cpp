#include "data/CVImageProvider.h"

#include <cstddef>
#include <exception>
#include <filesystem>
#include <memory>
#include <span>
#include <utility>

#include "Ambrell/CVError.h"
#include "Ambrell/ErrorObjects.h"
#include "data/AmbrellLegacy.h"
#include "data/CVImageUrls.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "foundation/StoredCopyRefresh.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/runtime/CompletionForm.h"
#include "platform/runtime/RunBlocking.h"

namespace ambrell {

namespace {

using Image = platform::Image;
using OptionalImage = std::optional<Image>;

// Runs on the blocking I/O pool.
OptionalImage readImageFile(const std::filesystem::path& file) {
    const auto bytes = platform::readFile(file);
    if (!bytes) return std::nullopt;
    return Image::fromData(std::as_bytes(std::span(*bytes)));
}

// Runs on the blocking I/O pool. Whether a download is an image: one that
// decodes (into `decoded`), or one in a format recognised but not decoded
// here, stored for the host to read and answered as no image.
bool readDownloadedImage(const std::filesystem::path& file, OptionalImage& decoded) {
    const auto bytes = platform::readFile(file);
    if (!bytes) return false;
    auto reading = platform::readImageBytes(std::as_bytes(std::span(*bytes)));
    decoded = std::move(reading.decoded);
    return reading.isImage;
}

std::string urlFromString(std::string_view text) {
    auto url = imageUrlFromString(text);
    if (!url) throw CVError(CVErrorCase::imageNotFound);
    return std::move(*url);
}

// Runs on the blocking I/O pool.
OptionalImage readLocalImage(const std::string& url, const std::string& dataSetId) {
    if (const auto file = AmbrellLegacy::dataSetCacheManager()->pathForCachingUrl(url, dataSetId)) {
        if (auto image = readImageFile(*file)) return image;
    }
    const auto name = imageResourceName(url);
    if (!name) return std::nullopt;
    return readImageFile(platform::Paths::resources().string() + "/res/" + *name);
}

// Free coroutines: an operation in flight never touches the provider, which
// may be gone before it ends.
platform::Awaitable<Image> localImage(std::string urlString) {
    const auto url = urlFromString(urlString);
    auto read = [url, dataSetId = CVImageProviderImpl::imageDataSetId()] { return readLocalImage(url, dataSetId); };
    auto image = co_await platform::runBlocking(std::move(read));
    if (!image) throw CVError(CVErrorCase::imageNotFound);
    co_return std::move(*image);
}

platform::Awaitable<OptionalImage> remoteImage(std::string urlString, CVImageSize size) {
    const auto url = urlFromString(urlString);
    const auto requested = size.width != 0 || size.height != 0 ? withImageSize(url, size.width, size.height) : url;
    const auto target =
        AmbrellLegacy::dataSetCacheManager()->pathForCachingUrl(requested, CVImageProviderImpl::imageDataSetId());
    if (target) {
        // Only a download that is an image takes the stored copy's place: a
        // login page or a body cut short must not cost the image the next
        // start without the network shows. Decoded once, answered.
        OptionalImage downloaded;
        auto read = [&downloaded](const std::filesystem::path& incoming) {
            return readDownloadedImage(incoming, downloaded);
        };
        auto refreshing = refreshStoredCopy(requested, *target, std::move(read));
        const auto refresh = co_await std::move(refreshing);
        if (refresh.outcome == StoredCopyRefresh::Outcome::replaced) co_return std::move(downloaded);
        if (refresh.outcome == StoredCopyRefresh::Outcome::notModified) {
            auto readStored = [file = *target] { return readImageFile(file); };
            co_return co_await platform::runBlocking(std::move(readStored));
        }
        // Otherwise the device's copies decide the answer.
    }
    // The copy of this very size, fetched before, is a better answer than the
    // image at its own size.
    if (target && requested != url) {
        auto read = [file = *target] { return readImageFile(file); };
        if (auto image = co_await platform::runBlocking(std::move(read))) co_return image;
    }
    auto local = localImage(std::move(urlString));
    co_return co_await std::move(local);
}

void complete(platform::Awaitable<OptionalImage> operation, CVImageProviderProtocol::Handler handler) {
    auto shared = std::make_shared<CVImageProviderProtocol::Handler>(std::move(handler));
    platform::completeOn(
        platform::CompletionQueue::workingTask, std::move(operation),
        [shared](OptionalImage image) {
            if (*shared) (*shared)(std::move(image), std::nullopt);
        },
        [shared](const std::exception_ptr& error) {
            if (*shared) (*shared)(std::nullopt, errorObjectFor(error));
        });
}

platform::Awaitable<OptionalImage> asOptional(platform::Awaitable<Image> operation) {
    co_return co_await std::move(operation);
}

}  // namespace

void CVImageProviderProtocol::imageFromUrlString(std::string urlString, CVImageSize imageSize,
                                                 Handler completionHandler) const {
    complete(imageFromUrlString(std::move(urlString), imageSize), std::move(completionHandler));
}

void CVImageProviderProtocol::getLocalImageFromUrlString(std::string urlString, Handler completionHandler) const {
    complete(asOptional(getLocalImageFromUrlString(std::move(urlString))), std::move(completionHandler));
}

platform::Awaitable<OptionalImage> CVImageProviderImpl::imageFromUrlString(std::string urlString,
                                                                           CVImageSize imageSize) const {
    return remoteImage(std::move(urlString), imageSize);
}

platform::Awaitable<Image> CVImageProviderImpl::getLocalImageFromUrlString(std::string urlString) const {
    return localImage(std::move(urlString));
}

std::string CVImageProviderImpl::imageDataSetId() { return AmbrellLegacy::getAmbrellAPIKey().value_or("random"); }

}  // namespace ambrell
