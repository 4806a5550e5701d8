#include "data/CVContentProviderChain.h"

#include "Ambrell/CVErrorCodes.h"
#include "Ambrell/CVLog.h"
#include "Ambrell/ErrorObjects.h"
#include "data/AmbrellLegacy.h"
#include "data/CVOfflineBundleHelper.h"
#include "data/DataSetManager/CVDataSetCacheManagerInternal.h"
#include "foundation/CVExtendedFileAttributes.h"
#include "foundation/CVNetworkReachabilityManager.h"
#include "platform/FileSystem.h"
#include "platform/runtime/MainQueue.h"
#include "platform/runtime/ThreadPool.h"

namespace ambrell {

platform::NSError contentProviderError(std::int64_t code) {
    return platform::NSError{std::string(kAmbrellErrorDomain), code, {}};
}

std::optional<platform::NSError> checkSolutionIdParameter(const std::optional<std::string>& solutionId,
                                                          std::string_view operation, std::string_view file, int line) {
    if (solutionId && !solutionId->empty()) return std::nullopt;
    const std::string_view condition = solutionId ? "solutionId.length" : "solutionId";
    const auto message =
        fmt::format("Invalid parameter not satisfying: {} in {} ({}:{}).", condition, operation, file, line);
    CVLog::core().debug("{} {}", operation, message);
    auto error = contentProviderError(AmbrellErrorCode::kInvalidParameter);
    error.userInfo.emplace("msg", message);
    return error;
}

namespace detail {

bool offlineDataAvailable(bool inMemory, std::string_view className, std::string_view operation, std::string_view url,
                          std::string_view solutionId, std::string_view endpointData,
                          std::optional<std::string_view> language) {
    const auto available = [&] {
        if (inMemory) return true;
        if (AmbrellLegacy::dataSetCacheManager()->pathForCachedUrl(url, solutionId)) return true;
        return CVOfflineBundleHelper::offlinePathForEndpointData(endpointData, solutionId, language).has_value();
    }();
    CVLog::core().debug("{} {}.isOfflineDataAvailable = {}", operation, className, available ? "YES" : "NO");
    return available;
}

LocalContent readLocalContent(std::string_view url, std::string_view solutionId, bool emptyIsMissing) {
    LocalContent content;
    const auto manager = AmbrellLegacy::dataSetCacheManager();
    content.data = manager->dataForCachedUrl(url, solutionId);
    if (content.data && !(emptyIsMissing && content.data->empty())) {
        content.dataSetFile = manager->pathForCachingUrl(url, solutionId);
        return content;
    }
    content.data.reset();
    if (const auto resource = CVOfflineBundleHelper::offlinePathForEndpointUrl(url, solutionId)) {
        content.data = platform::readFile(*resource);
    }
    return content;
}

void forgetLastModified(const std::filesystem::path& file) { xattr_setLastModified(file, std::nullopt); }

bool networkReachable() { return CVNetworkReachabilityManager::sharedManager()->isReachable(); }

bool runtimeStopped() { return platform::ThreadPool::shared().isStopped(); }

void refreshDataSetCopy(const std::string& url, const std::string& solutionId, IncomingReader read,
                        std::function<void(StoredCopyRefresh, std::optional<std::filesystem::path>)> done) {
    auto stored = AmbrellLegacy::dataSetCacheManager()->pathForCachingUrl(url, solutionId);
    if (!stored) {
        done(StoredCopyRefresh{}, std::nullopt);
        return;
    }
    auto file = *stored;
    refreshStoredCopy(url, std::move(file), std::move(read),
                      [done = std::move(done), stored = std::move(stored)](StoredCopyRefresh refresh) {
                          done(std::move(refresh), stored);
                      });
}

std::optional<ContentBytes> readContentFile(const std::filesystem::path& file) { return platform::readFile(file); }

void logParseFailure(std::string_view operation, const platform::NSError& error) {
    CVLog::core().debug("{} {}", operation, errorDescription(error));
}

void answerOnMainQueue(std::function<void()> answer) { platform::MainQueue::shared().deliver(std::move(answer)); }

}  // namespace detail

}  // namespace ambrell
