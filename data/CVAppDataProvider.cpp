#include "data/CVAppDataProvider.h"

#include "data/AmbrellLegacy.h"
#include "data/CVContentProviderChain.h"
#include "foundation/CVAXAPI.h"

namespace ambrell {

namespace {

using AppDataChain = CVContentProviderChain<CVAppData>;

std::shared_ptr<CVAppData> parseAppData(const detail::ContentBytes& bytes, std::optional<platform::NSError>& error) {
    std::optional<JSONModelError> failure;
    auto appData = CVAppData::fromData(bytes, &failure);
    if (failure) error = *failure;
    return appData;
}

std::shared_ptr<const AppDataChain::Departures> appDataDepartures() {
    static const auto instance = std::make_shared<const AppDataChain::Departures>(AppDataChain::Departures{
        .errorCode = AmbrellErrorCode::kAppDataUnavailable,
        .emptyCopyIsMissing = false,
        .parseLocal = parseAppData,
        .parseDownload = parseAppData,
        .beforeStoringDownload = {},
        .parseFileOn304WithoutMemory = false,
    });
    return instance;
}

}  // namespace

const platform::DispatchQueue& CVAppDataProvider::queue() {
    // Never destroyed: requests may still be queued while the process exits.
    static const auto* const instance = new platform::DispatchQueue("com.ambrell.CVAppDataProvider");
    return *instance;
}

void CVAppDataProvider::setDelegate(std::weak_ptr<CVAppDataProviderDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<CVAppDataProviderDelegate> CVAppDataProvider::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void CVAppDataProvider::getAppDataAsync(std::optional<std::string> solutionId, std::optional<std::string> language,
                                        Completion completion) {
    static constexpr std::string_view kOperation = "-[CVAppDataProvider getAppDataAsync:language:completionHandler:]";
    if (auto invalid = checkSolutionIdParameter(solutionId, kOperation, __FILE_NAME__, __LINE__)) {
        if (completion) completion(nullptr, std::move(invalid));
        return;
    }
    auto url = CVAXAPI::sharedInstance()->appDataSyncUrlForSolutionId(*solutionId, language);
    AppDataChain::ReadyCallback ready = [self = weak_from_this().lock()](const std::shared_ptr<CVAppData>& appData) {
        if (!self) return;
        if (auto delegate = self->delegate()) delegate->onAppDataReady(appData);
    };
    AppDataChain::run(queue(), appDataDepartures(),
                      AppDataChain::Request{std::move(*solutionId), std::move(url), std::string(kOperation),
                                            std::move(ready), std::move(completion)});
}

void CVAppDataProvider::getAppDataWithCompletion(Completion completion) {
    getAppDataAsync(AmbrellLegacy::getAmbrellAPIKey(), AmbrellLegacy::getLanguage(), std::move(completion));
}

void CVAppDataProvider::getAppData() { getAppDataWithCompletion({}); }

bool CVAppDataProvider::isOfflineDataAvailableForSolutionId(std::string_view solutionId,
                                                            std::optional<std::string_view> language) {
    const auto url = CVAXAPI::sharedInstance()->appDataSyncUrlForSolutionId(solutionId, language);
    return contentOfflineDataAvailable<CVAppData>("CVAppDataProvider",
                                                  "+[CVAppDataProvider isOfflineDataAvailableForSolutionId:language:]",
                                                  url, solutionId, "sync/appconfig", language);
}

}  // namespace ambrell
