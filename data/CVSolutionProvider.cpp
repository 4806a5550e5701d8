#include "data/CVSolutionProvider.h"

#include "Ambrell/CVLog.h"
#include "data/AmbrellLegacy.h"
#include "data/CVContentProviderChain.h"
#include "data/CVLanguageSupport.h"
#include "foundation/CVAXAPI.h"

namespace ambrell {

namespace {

using SolutionChain = CVContentProviderChain<CVSolutionInternal>;

std::shared_ptr<const SolutionChain::Departures> solutionDepartures() {
    static const auto instance = std::make_shared<const SolutionChain::Departures>(SolutionChain::Departures{
        .errorCode = AmbrellErrorCode::kSolutionUnavailable,
        .emptyCopyIsMissing = true,
        .parseLocal =
            [](const detail::ContentBytes& bytes, std::optional<platform::NSError>& error) {
                std::optional<JSONModelError> failure;
                auto solution = CVSolutionInternal::fromData(bytes, &failure);
                if (failure) error = *failure;
                return solution;
            },
        .parseDownload =
            [](const detail::ContentBytes& bytes, std::optional<platform::NSError>& error) {
                std::optional<JSONModelError> failure;
                auto solution = CVSolutionInternal::fromString(
                    std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), &failure);
                if (failure) error = *failure;
                return solution;
            },
        .beforeStoringDownload = CVSolutionProvider::validateAmbrellLanguage,
        .parseFileOn304WithoutMemory = true,
    });
    return instance;
}

}  // namespace

const platform::DispatchQueue& CVSolutionProvider::queue() {
    // Never destroyed: requests may still be queued while the process exits.
    static const auto* const instance = new platform::DispatchQueue("com.ambrell.CVSolutionProvider");
    return *instance;
}

CVSolutionProvider::CVSolutionProvider()
    : languageChanged_(platform::NotificationCenter::defaultCenter().addObserver(
          kNotificationAmbrellLanguageChanged(), [this](const platform::Notification&) { getSolution(); })) {}

// The observer goes first: once it is removed no delivery reaches this object.
CVSolutionProvider::~CVSolutionProvider() { languageChanged_.reset(); }

void CVSolutionProvider::setDelegate(std::weak_ptr<CVSolutionProviderDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<CVSolutionProviderDelegate> CVSolutionProvider::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void CVSolutionProvider::getSolutionAsync(std::optional<std::string> solutionId, Completion completion) {
    static constexpr std::string_view kOperation = "-[CVSolutionProvider getSolutionAsync:completionHandler:]";
    if (auto invalid = checkSolutionIdParameter(solutionId, kOperation, __FILE_NAME__, __LINE__)) {
        if (completion) completion(nullptr, std::move(invalid));
        return;
    }
    auto url = CVAXAPI::sharedInstance()->solutionSyncUrlForSolutionId(*solutionId, AmbrellLegacy::getLanguage());
    SolutionChain::ReadyCallback ready =
        [self = weak_from_this().lock()](const std::shared_ptr<CVSolutionInternal>& solution) {
            if (!self) return;
            if (auto delegate = self->delegate()) delegate->onSolutionsReady(solution);
        };
    SolutionChain::run(queue(), solutionDepartures(),
                       SolutionChain::Request{std::move(*solutionId), std::move(url), std::string(kOperation),
                                              std::move(ready), std::move(completion)});
}

void CVSolutionProvider::getSolutionWithCompletion(Completion completion) {
    getSolutionAsync(AmbrellLegacy::getAmbrellAPIKey(), std::move(completion));
}

void CVSolutionProvider::getSolution() { getSolutionWithCompletion({}); }

void CVSolutionProvider::validateAmbrellLanguage(const CVSolutionInternal& solution) {
    CVLanguageSupport::ax_setDefaultLanguage(solution.defaultLanguage);
    CVLanguageSupport::ax_setAvailableLanguages(solution.availableLanguages);
    const auto current = AmbrellLegacy::getLanguage();
    if (CVLanguageSupport::ax_isLanguageAvailable(current)) return;
    CVLog::core().debug(
        "{} [W] Current Ambrell language '{}' not supported by solution data, reverting to solution default "
        "language '{}'",
        "+[CVSolutionProvider validateAmbrellLanguage:]", current, solution.defaultLanguage);
    CVLanguageSupport::ax_switchToDefaultLanguage();
}

bool CVSolutionProvider::isOfflineDataAvailableForSolutionId(std::string_view solutionId) {
    const auto language = AmbrellLegacy::getLanguage();
    const auto url = CVAXAPI::sharedInstance()->solutionSyncUrlForSolutionId(solutionId, language);
    return contentOfflineDataAvailable<CVSolutionInternal>("CVSolutionProvider",
                                                           "+[CVSolutionProvider isOfflineDataAvailableForSolutionId:]",
                                                           url, solutionId, "sync/solutions", language);
}

std::shared_ptr<CVUserRoleProvider> CVSolutionProvider::userRoleProvider() {
    std::lock_guard lock(mutex_);
    if (!userRoleProvider_) userRoleProvider_ = std::make_shared<CVUserRoleProvider>();
    return userRoleProvider_;
}

void CVSolutionProvider::getUserRolesWithCompletion(CVUserRoleProvider::Completion completion) {
    userRoleProvider()->getUserRolesWithCompletion(std::move(completion));
}

}  // namespace ambrell
