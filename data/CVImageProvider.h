#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/Error.h"
#include "platform/Image.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

// A size in points; 0 x 0 asks for the image as it is.
struct CVImageSize {
    double width = 0;
    double height = 0;
};

// Turns the image URLs of the content (location icons, type icons, 2D-model
// images) into images for the map.
//
// The awaitable forms:
//   Complete: on the caller's executor; files are read on the blocking I/O pool.
//   Errors: CVError.imageNotFound when the text forms no URL or no image is
//     found where the operation looks.
//   Cancelling: the task's cancellation ends a download in flight and throws
//     CancellationError.
// The completion forms run the awaitable form in a task of their own and call
// the handler once, from that task (never on the main queue): with the image
// and no error, or with no image and the error object (domain
// "Ambrell.CVError", code 4).
class CVImageProviderProtocol {
public:
    using Handler = std::function<void(std::optional<platform::Image>, std::optional<platform::NSError>)>;

    virtual ~CVImageProviderProtocol() = default;

    // No image, and no error, when what was fetched is not an image.
    [[nodiscard]] virtual platform::Awaitable<std::optional<platform::Image>> imageFromUrlString(
        std::string urlString, CVImageSize imageSize) const = 0;
    // From the device only.
    [[nodiscard]] virtual platform::Awaitable<platform::Image> getLocalImageFromUrlString(
        std::string urlString) const = 0;

    void imageFromUrlString(std::string urlString, CVImageSize imageSize, Handler completionHandler) const;
    void getLocalImageFromUrlString(std::string urlString, Handler completionHandler) const;
};

// Fetches images into the data set of the bound API key ("random" while no
// key is bound) through the data-set cache manager's file of each URL, and
// falls back to the copy on the device: that file, else the host app's
// resource "res/" + imageResourceName(url). Holds no state; calls share
// nothing but the files, and one in flight does not need the provider.
//
// A remote image on the media host is asked for at the requested size
// (withImageSize). When its download fails, for whatever reason, the answer
// comes from the device: the file of the sized URL, then the local look-up of
// the URL as given. Download failures are never reported.
class CVImageProviderImpl final : public CVImageProviderProtocol {
public:
    using CVImageProviderProtocol::getLocalImageFromUrlString;
    using CVImageProviderProtocol::imageFromUrlString;

    [[nodiscard]] platform::Awaitable<std::optional<platform::Image>> imageFromUrlString(
        std::string urlString, CVImageSize imageSize) const override;
    [[nodiscard]] platform::Awaitable<platform::Image> getLocalImageFromUrlString(std::string urlString) const override;

    // The data set image files are kept in.
    [[nodiscard]] static std::string imageDataSetId();
};

}  // namespace ambrell
