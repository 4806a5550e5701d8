#include "data/CVUserRoleProvider.h"

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "data/AmbrellLegacy.h"
#include "data/CVContentProviderChain.h"
#include "data/CVUserRoleJSON.h"
#include "foundation/CVAXAPI.h"

namespace ambrell {

namespace {

using UserRoleChain = CVContentProviderChain<CVUserRoleProvider::UserRoles>;

std::shared_ptr<const UserRoleChain::Departures> userRoleDepartures() {
    static const auto instance = [] {
        const auto parse = [](const detail::ContentBytes& bytes, std::optional<platform::NSError>&) {
            return CVUserRoleProvider::userRolesFromData(bytes);
        };
        return std::make_shared<const UserRoleChain::Departures>(UserRoleChain::Departures{
            .errorCode = AmbrellErrorCode::kUserRolesUnavailable,
            .emptyCopyIsMissing = true,
            .parseLocal = parse,
            .parseDownload = parse,
            .beforeStoringDownload = {},
            .parseFileOn304WithoutMemory = false,
        });
    }();
    return instance;
}

}  // namespace

const platform::DispatchQueue& CVUserRoleProvider::queue() {
    // Never destroyed: requests may still be queued while the process exits.
    static const auto* const instance = new platform::DispatchQueue("com.ambrell.CVUserRoleProvider");
    return *instance;
}

std::string CVUserRoleProvider::urlForFetchingUserRoles(std::optional<std::string_view> solutionId,
                                                        std::optional<std::string_view> locale) {
    return CVAXAPI::sharedInstance()->userRolesSyncUrlForSolutionId(solutionId, locale);
}

std::shared_ptr<CVUserRoleProvider::UserRoles> CVUserRoleProvider::userRolesFromData(
    const std::vector<std::uint8_t>& data) {
    boost::json::error_code error;
    const auto parsed =
        boost::json::parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), error);
    if (error || !parsed.is_array()) return nullptr;
    auto roles = std::make_shared<UserRoles>();
    for (const auto& element : parsed.get_array()) {
        if (auto role = CVUserRoleFromDictionary(element)) roles->push_back(std::move(*role));
    }
    return roles;
}

void CVUserRoleProvider::getUserRolesAsync(std::optional<std::string> solutionId, std::optional<std::string> locale,
                                           Completion completion) {
    static constexpr std::string_view kOperation = "-[CVUserRoleProvider getUserRolesAsync:locale:completionHandler:]";
    if (auto invalid = checkSolutionIdParameter(solutionId, kOperation, __FILE_NAME__, __LINE__)) {
        if (completion) completion(nullptr, std::move(invalid));
        return;
    }
    auto url = urlForFetchingUserRoles(*solutionId, locale);
    // Held until the answer, like every provider.
    UserRoleChain::ReadyCallback keepAlive = [self = weak_from_this().lock()](const auto&) {};
    UserRoleChain::run(queue(), userRoleDepartures(),
                       UserRoleChain::Request{std::move(*solutionId), std::move(url), std::string(kOperation),
                                              std::move(keepAlive), std::move(completion)});
}

void CVUserRoleProvider::getUserRolesWithCompletion(Completion completion) {
    getUserRolesAsync(AmbrellLegacy::getAmbrellAPIKey(), AmbrellLegacy::getLanguage(), std::move(completion));
}

bool CVUserRoleProvider::isOfflineDataAvailableForSolutionId(std::string_view solutionId,
                                                             std::optional<std::string_view> language) {
    return contentOfflineDataAvailable<UserRoles>(
        "CVUserRoleProvider", "+[CVUserRoleProvider isOfflineDataAvailableForSolutionId:language:]",
        urlForFetchingUserRoles(solutionId, std::nullopt), solutionId, "sync/appuserroles", language);
}

}  // namespace ambrell
