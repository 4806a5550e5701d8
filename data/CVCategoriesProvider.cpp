#include "data/CVCategoriesProvider.h"

#include <boost/json/value.hpp>
#include <boost/url/parse.hpp>
#include <system_error>

#include "Ambrell/CVError.h"
#include "Ambrell/CVLog.h"
#include "Ambrell/ErrorObjects.h"
#include "data/AmbrellLegacy.h"
#include "data/CVCategories.h"
#include "data/CVContentProviderChain.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "foundation/CVAXAPI.h"
#include "foundation/StoredCopyRefresh.h"
#include "jsonmodel/JSONModel/JSONParsing.h"
#include "platform/FileSystem.h"
#include "platform/NSErrorException.h"
#include "platform/TextEncoding.h"
#include "platform/runtime/Actor.h"
#include "platform/runtime/CompletionForm.h"
#include "platform/runtime/RunBlocking.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell {

namespace {

constexpr std::string_view kCategoriesOperation = "-[CVCategoriesProvider categories]";

CVCategoriesProvider::List listOf(const CVCategories& categories) {
    return {categories.list.begin(), categories.list.end()};
}

// The local start, on a blocking-I/O thread: the model read from the data
// set's copy or the host app's resource, stored in memory; none when there is
// nothing usable to read or the memory cache already holds the categories.
std::shared_ptr<CVCategories> readLocalCopy(const std::string& url, const std::string& solutionId,
                                            const std::string& key) {
    const auto cache = CVModelCache::memoryCache();
    if (cache->objectForKey<CVCategories>(key)) return nullptr;
    const auto manager = AmbrellLegacy::dataSetCacheManager();
    auto data = manager->dataForCachedUrl(url, solutionId);
    std::optional<std::filesystem::path> dataSetFile;
    if (data) {
        dataSetFile = manager->pathForCachingUrl(url, solutionId);
    } else if (const auto resource = CVOfflineBundleHelper::offlinePathForEndpointUrl(url, solutionId)) {
        data = platform::readFile(*resource);
        if (!data) throw platform::NSErrorException(fileSystemError(std::make_error_code(std::errc::io_error)));
    }
    if (!data || data->empty()) return nullptr;
    std::optional<JSONModelError> failure;
    auto categories = CVCategoriesProvider::categoriesFromData(*data, failure);
    if (categories) {
        cache->setObject(categories, key);
        return categories;
    }
    // Online a copy that does not parse is fetched afresh, unconditionally;
    // offline there is nothing to answer in its place.
    if (!detail::networkReachable()) throw platform::NSErrorException(failure.value_or(JSONModelError{}));
    if (dataSetFile) detail::forgetLastModified(*dataSetFile);
    return nullptr;
}

// The downloaded document as UTF-8 text, parsed; the failure is logged.
std::shared_ptr<CVCategories> readDownload(const std::filesystem::path& file) {
    const auto bytes = platform::readFile(file);
    std::optional<JSONModelError> failure;
    std::shared_ptr<CVCategories> categories;
    if (bytes && platform::isValidUTF8(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()))) {
        categories = CVCategoriesProvider::categoriesFromData(*bytes, failure);
        if (categories) return categories;
    }
    const auto reason =
        failure ? failure->localizedDescription()
                : fileSystemError(std::make_error_code(std::errc::illegal_byte_sequence)).localizedDescription();
    CVLog::core().debug("{} {}", kCategoriesOperation, reason);
    return nullptr;
}

platform::Awaitable<CVCategoriesProvider::List> fetchCategories() {
    const auto solutionId = AmbrellLegacy::getAmbrellAPIKey();
    if (!solutionId) throw CVError(CVErrorCase::invalidApiKey);
    const auto url = CVAXAPI::sharedInstance()->categorySyncUrlForSolutionId(*solutionId, AmbrellLegacy::getLanguage());
    if (url.empty() || !boost::urls::parse_uri(url)) throw CVError(CVErrorCase::categoriesUnavailable);
    const auto key = CVModelCache::cacheKeyForUrl(url);
    if (key.empty()) throw CVError(CVErrorCase::categoriesUnavailable);

    // Named, not temporaries of the co_await expressions: g++ 12 destroys such
    // temporaries twice.
    auto readLocal = [&url, &solutionId, &key] { return readLocalCopy(url, *solutionId, key); };
    auto local = co_await platform::runBlocking(std::move(readLocal));
    if (local && !detail::networkReachable()) co_return listOf(*local);

    const auto target = AmbrellLegacy::dataSetCacheManager()->pathForCachingUrl(url, *solutionId);
    // The memory entry, or the copy this call read should it be gone since.
    const auto held = [&] {
        auto entry = CVModelCache::memoryCache()->objectForKey<CVCategories>(key);
        return entry ? entry : local;
    };
    // The download replaces the data set's copy only once it reads; what it
    // read is the answer.
    std::shared_ptr<CVCategories> downloaded;
    if (target) {
        auto read = [&downloaded](const std::filesystem::path& incoming) {
            return (downloaded = readDownload(incoming)) != nullptr;
        };
        auto refreshing = refreshStoredCopy(url, *target, std::move(read));
        [[maybe_unused]] const auto outcome = co_await std::move(refreshing);
    }
    if (downloaded) {
        CVModelCache::memoryCache()->setObject(downloaded, key);
        co_return listOf(*downloaded);
    }
    if (auto categories = held()) co_return listOf(*categories);
    throw CVError(CVErrorCase::categoriesUnavailable);
}

}  // namespace

platform::Awaitable<CVCategoriesProvider::List> CVCategoriesProvider::categories() const {
    co_return co_await platform::runOn(platform::ThreadPool::shared().makeStrand(), fetchCategories());
}

void CVCategoriesProvider::categoriesWithCompletionHandler(Completion completion) const {
    auto shared = std::make_shared<Completion>(std::move(completion));
    platform::completeOn(
        platform::CompletionQueue::workingTask, categories(),
        [shared](List list) {
            if (*shared) (*shared)(std::move(list), std::nullopt);
        },
        [shared](const std::exception_ptr& error) {
            if (*shared) (*shared)(std::nullopt, errorObjectFor(error));
        });
}

std::shared_ptr<CVCategories> CVCategoriesProvider::categoriesFromData(const std::vector<std::uint8_t>& data,
                                                                       std::optional<JSONModelError>& failure) {
    JSONParseFailure unreadable;
    if (!parseJSON(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), unreadable)) {
        failure = JSONModelError::errorBadJSON(unreadable);
        return nullptr;
    }
    auto categories = std::make_shared<CVCategories>();
    if (!categories->initWithData(data, &failure)) return nullptr;
    return categories;
}

bool CVCategoriesProvider::isOfflineDataAvailableForSolutionId(std::string_view solutionId,
                                                               std::optional<std::string_view> language) {
    const auto url = CVAXAPI::sharedInstance()->categorySyncUrlForSolutionId(solutionId, language);
    if (!url.empty()) {
        const auto key = CVModelCache::cacheKeyForUrl(url);
        if (!key.empty() && CVModelCache::memoryCache()->objectForKey<CVCategories>(key)) return true;
    }
    return CVOfflineBundleHelper::offlinePathForEndpointData("sync/categories", solutionId, language).has_value();
}

}  // namespace ambrell
