#pragma once

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "data/CVImageProvider.h"
#include "platform/Image.h"

namespace ambrell::test {

// An image provider that fetches nothing: it answers from images a test
// hands it, else from the sample solution's bundled PNGs (the resource file
// the URL's path names), else, for downloads, with an image it makes of the
// size asked for. It counts every call, remembers what was asked, and fails
// on demand. Safe from any thread.
class FakeImageProvider final : public CVImageProviderProtocol {
public:
    struct Request {
        std::string url;
        // None for a local look-up.
        std::optional<CVImageSize> size;
    };

    using CVImageProviderProtocol::getLocalImageFromUrlString;
    using CVImageProviderProtocol::imageFromUrlString;

    // Where bundled PNGs are looked for; the sample solution's by default.
    explicit FakeImageProvider(std::filesystem::path resourceFolder = sampleResourceFolder());

    [[nodiscard]] static std::filesystem::path sampleResourceFolder();

    // Answers for exactly this URL text, locally or downloaded.
    void serveLocally(const std::string& url, platform::Image image);
    void serveDownload(const std::string& url, platform::Image image);
    // Whether local look-ups find the bundled PNGs; off by default, so icons
    // go the download way.
    void setBundledImagesAreLocal(bool local);
    // Every download fails with CVError.imageNotFound while set.
    void setFailing(bool failing);

    [[nodiscard]] int localCalls() const;
    [[nodiscard]] int downloadCalls() const;
    [[nodiscard]] std::vector<Request> requests() const;

    [[nodiscard]] platform::Awaitable<std::optional<platform::Image>> imageFromUrlString(
        std::string urlString, CVImageSize imageSize) const override;
    [[nodiscard]] platform::Awaitable<platform::Image> getLocalImageFromUrlString(std::string urlString) const override;

private:
    [[nodiscard]] std::optional<platform::Image> bundledImage(const std::string& url) const;
    [[nodiscard]] std::optional<platform::Image> answerDownload(const std::string& url, CVImageSize size) const;
    [[nodiscard]] std::optional<platform::Image> answerLocal(const std::string& url) const;

    std::filesystem::path resourceFolder_;
    mutable std::mutex mutex_;
    std::map<std::string, platform::Image> local_;
    std::map<std::string, platform::Image> downloads_;
    bool bundledAreLocal_ = false;
    bool failing_ = false;
    mutable std::vector<Request> requests_;
};

}  // namespace ambrell::test
