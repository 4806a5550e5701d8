// Image URLs and the image provider against the sample's loopback web
// service, with the sample's bundle as the host app's resources and a data
// set in a temporary container.

#include <gtest/gtest.h>

#include <future>
#include <limits>

#include "data/AmbrellLegacy.h"
#include "data/CVImageProvider.h"
#include "data/CVImageUrls.h"
#include "platform/FileSystem.h"
#include "platform/runtime/MainQueue.h"
#include "tests/data/SampleServiceFixture.h"
#include "tests/support/EncodedImages.h"

namespace ambrell::image_provider_test {
namespace {

namespace fs = std::filesystem;
using platform::Image;

TEST(ImageUrls, SizedUrlsAskTheMediaHostOnly) {
    const auto nan = std::numeric_limits<double>::quiet_NaN();
    const auto inf = std::numeric_limits<double>::infinity();
    const struct {
        std::string url;
        double width, height;
        std::string sized;
    } cases[] = {
        {"https://media.ambrell.com/icons/a.png", 30, 30,
         "https://media.ambrell.com/icons/a.png?width=30&height=30&fitMode=cover"},
        {"https://media.ambrell.com/icons/a.png?v=2#top", 30.9, 0,
         "https://media.ambrell.com/icons/a.png?v=2&width=30&height=0&fitMode=cover#top"},
        {"https://media.ambrell.com/icons/a.png", -2.5, 12,
         "https://media.ambrell.com/icons/a.png?width=-2&height=12&fitMode=cover"},
        {"https://media.ambrell.com/icons/a.png", 0, 0, "https://media.ambrell.com/icons/a.png"},
        {"https://photos.example.com/a.png", 30, 30, "https://photos.example.com/a.png"},
        {"https://media.ambrell.com/a.png", nan, 30, "https://media.ambrell.com/a.png"},
        {"https://media.ambrell.com/a.png", 30, inf, "https://media.ambrell.com/a.png"},
        {"https://media.ambrell.com/a.png", 1e19, 30, "https://media.ambrell.com/a.png"},
        {"https://media.ambrell.com/a b", 30, 30, "https://media.ambrell.com/a b"},
    };
    for (const auto& c : cases) EXPECT_EQ(withImageSize(c.url, c.width, c.height), c.sized) << c.url;
}

TEST(ImageUrls, TextsAreEncodedOnceAndNamedInTheResources) {
    const std::pair<std::string, std::optional<std::string>> texts[] = {
        {"https://media.ambrell.com/icons/a b.png?q=ü", "https://media.ambrell.com/icons/a%20b.png?q=%C3%BC"},
        {"https://media.ambrell.com/icons/a%20b.png", "https://media.ambrell.com/icons/a%20b.png"},
        {"https://h/a.png?x=(1)&y=@#f", "https://h/a.png?x=(1)&y=@#f"},
        {"https://h/a.png?x=[1]", std::nullopt},
        {"icons/a.png", "icons/a.png"},
        {"", std::nullopt},
        {"100%", std::nullopt},
        {"https://h/a.png#a#b", std::nullopt},
    };
    for (const auto& [text, url] : texts) EXPECT_EQ(imageUrlFromString(text), url) << text;
    EXPECT_TRUE(urlAllowedCharacters()['#']);
    EXPECT_FALSE(urlAllowedCharacters()['%']);

    const std::pair<std::string, std::optional<std::string>> names[] = {
        {"https://h/icons/a.png?width=3", "ax_icons_a.png"},
        {"https://h/icons/a%20b.png", "ax_icons_a b.png"},
        {"https://h/icons/", "ax_icons"},
        {"https://h/a%00.png", std::nullopt},
        {"%zz", std::nullopt},
    };
    for (const auto& [url, name] : names) EXPECT_EQ(imageResourceName(url), name) << url;
}

// What the provider answered: the image or the error, and where the handler ran.
struct Answer {
    std::optional<Image> image;
    std::optional<platform::NSError> error;
    bool onMainQueue = true;
};

class ImageProvider : public test::SampleServiceFixture {
protected:
    ImageProvider() { setImageMediaHost("127.0.0.1"); }
    ~ImageProvider() override { setImageMediaHost("media.ambrell.com"); }

    static Answer wait(const std::function<void(CVImageProviderProtocol::Handler)>& call) {
        auto promise = std::make_shared<std::promise<Answer>>();
        call([promise](std::optional<Image> image, std::optional<platform::NSError> error) {
            promise->set_value(Answer{std::move(image), std::move(error), platform::MainQueue::shared().isCurrent()});
        });
        auto answer = promise->get_future();
        if (answer.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            ADD_FAILURE() << "no answer";
            return {};
        }
        return answer.get();
    }
    Answer remote(const std::string& url, CVImageSize size = {}) const {
        return wait([&](auto handler) { provider_.imageFromUrlString(url, size, std::move(handler)); });
    }
    Answer local(const std::string& url) const {
        return wait([&](auto handler) { provider_.getLocalImageFromUrlString(url, std::move(handler)); });
    }

    static fs::path cacheFile(const std::string& url,
                              const std::string& dataSet = CVImageProviderImpl::imageDataSetId()) {
        return *AmbrellLegacy::dataSetCacheManager()->pathForCachingUrl(url, dataSet);
    }
    static Image oneColour(std::uint32_t argb) {
        auto image = *Image::create(3, 2);
        for (auto& pixel : image.pixels()) pixel = argb;
        return image;
    }
    // A one-colour image written as the data-set file of a URL.
    static Image cacheImage(const std::string& url, std::uint32_t argb) {
        const auto image = oneColour(argb);
        const auto png = *image.pngData();
        fs::create_directories(cacheFile(url).parent_path());
        EXPECT_FALSE(platform::writeFileAtomically(
            cacheFile(url), std::span(reinterpret_cast<const std::uint8_t*>(png.data()), png.size())));
        return image;
    }
    Image sampleIcon(const std::string& name) const {
        const auto bytes = *platform::readFile(service_.sample() / "service" / "icons" / (name + ".png"));
        return *Image::fromPngData(std::as_bytes(std::span(bytes)));
    }
    static void expectImage(const Answer& answer, const Image& image, const std::string& what) {
        EXPECT_FALSE(answer.error) << what;
        EXPECT_FALSE(answer.onMainQueue) << what;
        ASSERT_TRUE(answer.image) << what;
        EXPECT_TRUE(*answer.image == image) << what;
    }
    static void expectNotFound(const Answer& answer, const std::string& what) {
        EXPECT_FALSE(answer.image) << what;
        ASSERT_TRUE(answer.error) << what;
        EXPECT_EQ(answer.error->domain, "Ambrell.CVError") << what;
        EXPECT_EQ(answer.error->code, 4) << what;
    }

    CVImageProviderImpl provider_;
    const std::string icon_ = service_.url("/icons/meeting.png");
    const std::string sized_ = icon_ + "?width=30&height=30&fitMode=cover";
};

TEST_F(ImageProvider, DownloadsTheSizedImageIntoTheDataSet) {
    expectImage(remote(icon_, {30, 30}), sampleIcon("meeting"), "sized");
    const auto request = service_.web().lastRequest("/icons/meeting.png");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->query, "width=30&height=30&fitMode=cover");
    EXPECT_TRUE(fs::exists(cacheFile(sized_)));
    EXPECT_FALSE(fs::exists(cacheFile(icon_)));

    expectImage(remote(icon_, {0, 0}), sampleIcon("meeting"), "unsized");
    EXPECT_EQ(service_.web().lastRequest("/icons/meeting.png")->query, "");
    EXPECT_TRUE(fs::exists(cacheFile(icon_)));

    // A URL on another host is never sized.
    setImageMediaHost("media.ambrell.com");
    expectImage(remote(service_.url("/icons/desk.png"), {30, 30}), sampleIcon("desk"), "other host");
    EXPECT_EQ(service_.web().lastRequest("/icons/desk.png")->query, "");
}

TEST_F(ImageProvider, ConcurrentRequestsForOneFileEachAnswerTheImage) {
    constexpr int kRequests = 12;
    std::vector<std::future<Answer>> answers;
    for (int index = 0; index < kRequests; ++index) {
        answers.push_back(std::async(std::launch::async, [&] { return remote(icon_, {30, 30}); }));
    }
    for (auto& answer : answers) expectImage(answer.get(), sampleIcon("meeting"), "concurrent");
}

TEST_F(ImageProvider, WithoutAnApiKeyTheDataSetIsRandom) {
    AmbrellLegacy::setApiKey(std::nullopt);
    expectImage(remote(icon_), sampleIcon("meeting"), "no key");
    EXPECT_TRUE(fs::exists(cacheFile(icon_, "random")));
}

TEST_F(ImageProvider, AFailedDownloadFallsBackToTheSizedFileTheUnsizedFileAndTheResources) {
    setOnline(false);
    // Nothing in the data set: the bundled resource res/ax_icons_meeting.png.
    expectImage(remote(icon_, {30, 30}), sampleIcon("meeting"), "bundled");
    const auto unsized = cacheImage(icon_, 0xFF0000FF);
    expectImage(remote(icon_, {30, 30}), unsized, "unsized file");
    const auto sized = cacheImage(sized_, 0xFF00FF00);
    expectImage(remote(icon_, {30, 30}), sized, "sized file");
    expectImage(remote(icon_), unsized, "the unsized request");
    EXPECT_TRUE(service_.web().requests().empty());

    // Online, a status the service fails with is no better.
    setOnline(true);
    const auto missing = service_.url("/icons/gone.png");
    service_.web().respond("/icons/gone.png", {404, "", {}});
    expectNotFound(remote(missing, {30, 30}), "gone");
    const auto gone = cacheImage(missing, 0xFFFF0000);
    expectImage(remote(missing, {30, 30}), gone, "gone, cached");
    EXPECT_EQ(service_.web().requestsTo("/icons/gone.png").size(), 2U);
}

TEST_F(ImageProvider, ADownloadThatIsNoImageIsAFailedDownload) {
    const auto broken = service_.url("/icons/broken.png");
    service_.web().respond("/icons/broken.png", {200, "not a png", {{"Content-Type", "image/png"}}});
    expectNotFound(remote(broken, {30, 30}), "nothing stored");
    EXPECT_FALSE(fs::exists(cacheFile(broken + "?width=30&height=30&fitMode=cover")));
}

// What is served decides the answer: an image of every decoded format at its
// own size, no image and no error for a format recognised only (kept for the
// host), and for what is no image or is cut short the local look-up, which
// finds nothing here.
TEST_F(ImageProvider, EachFormatServedIsAnsweredAsWhatItIs) {
    enum class Expected { image, noImage, failed };
    const auto jpeg = test::jpegFile(16, 12, 0xFF3A7BC8);
    const struct {
        std::string path, body, type;
        Expected expected;
        int width = 0, height = 0;
    } rows[] = {
        {"/photos/a.jpg", jpeg, "image/jpeg", Expected::image, 16, 12},
        {"/photos/a.webp", test::webpFile(15, 10, 0xFF3A7BC8), "image/webp", Expected::image, 15, 10},
        {"/icons/a.gif", test::gifFile(9, 7, {0xFF3A7BC8, 0xFFC00000}), "image/gif", Expected::image, 9, 7},
        {"/icons/a.svg", R"(<svg xmlns="http://www.w3.org/2000/svg" width="8" height="8"/>)", "image/svg+xml",
         Expected::noImage},
        {"/photos/login.jpg", "<html><body><form action=\"/login\">Sign in</form></body></html>", "text/html",
         Expected::failed},
        {"/photos/cut.jpg", jpeg.substr(0, jpeg.size() / 2), "image/jpeg", Expected::failed},
    };
    for (const auto& row : rows) {
        service_.web().serveBody(row.path, row.body, row.type);
        const auto url = service_.url(row.path);
        const auto answer = remote(url);
        if (row.expected == Expected::failed) {
            expectNotFound(answer, row.path);
            EXPECT_FALSE(fs::exists(cacheFile(url))) << row.path;
            continue;
        }
        EXPECT_FALSE(answer.error) << row.path;
        EXPECT_EQ(platform::readFile(cacheFile(url)), std::vector<std::uint8_t>(row.body.begin(), row.body.end()))
            << row.path;
        EXPECT_EQ(answer.image.has_value(), row.expected == Expected::image) << row.path;
        if (answer.image) {
            EXPECT_EQ(answer.image->width(), row.width) << row.path;
            EXPECT_EQ(answer.image->height(), row.height) << row.path;
        }
    }
}

TEST_F(ImageProvider, ALoginPageKeepsTheStoredImageForTheNextStartWithoutNetwork) {
    // An earlier download stored an image unlike the bundled one.
    const auto earlier = oneColour(0xFF00FF00);
    const auto png = *earlier.pngData();
    service_.web().serveBody("/icons/meeting.png", std::string(reinterpret_cast<const char*>(png.data()), png.size()),
                             "image/png");
    expectImage(remote(icon_, {30, 30}), earlier, "earlier download");
    const auto stored = platform::readFile(cacheFile(sized_));
    ASSERT_TRUE(stored);

    service_.web().respond(
        "/icons/meeting.png",
        {200, "<html><body><form action=\"/login\">Sign in</form></body></html>", {{"Content-Type", "text/html"}}});
    expectImage(remote(icon_, {30, 30}), earlier, "login page");

    CVModelCache::resetMemoryCacheForTesting();
    CVDataSetCacheManagerInternal::resetSharedInstanceForTesting();
    setOnline(false);
    const CVImageProviderImpl restarted;
    const auto answer = wait([&](auto handler) { restarted.imageFromUrlString(icon_, {30, 30}, std::move(handler)); });
    expectImage(answer, earlier, "next start");
    EXPECT_EQ(platform::readFile(cacheFile(sized_)), stored);
}

TEST_F(ImageProvider, LocalImagesComeFromTheDataSetOrTheResourcesOnly) {
    expectImage(local(icon_), sampleIcon("meeting"), "bundled");
    const auto cached = cacheImage(icon_, 0xFF0000FF);
    expectImage(local(icon_), cached, "data set");
    // A text with spaces is encoded; its resource name is the decoded path.
    const auto spaced = service_.url("/icons/a b.png");
    const auto spacedImage = cacheImage(*imageUrlFromString(spaced), 0xFF00FF00);
    expectImage(local(spaced), spacedImage, "encoded");
    EXPECT_TRUE(service_.web().requests().empty());

    for (const auto& text : std::vector<std::string>{"", "100%", service_.url("/icons/unknown.png")}) {
        expectNotFound(local(text), text);
    }
    expectNotFound(remote("100%", {30, 30}), "no URL");
}

}  // namespace
}  // namespace ambrell::image_provider_test
