#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Ambrell/CVUserRole.h"
#include "platform/Error.h"
#include "platform/runtime/DispatchQueue.h"

namespace ambrell {

// Loads a solution's app user roles (the "appuserroles" sync document, an
// array of {"id", "name"}) through the content provider chain
// (CVContentProviderChain). Has no delegate and no state; thread-safe.
//
// Every get... operation:
//   Completes: on the main queue; an absent or empty solution id answers at
//     once, on the caller's thread, with error 101200.
//   Errors: 100910 when there are no roles to answer, also when the
//     downloaded document is not an array and nothing is in memory.
//   Cancelling: not possible.
class CVUserRoleProvider : public std::enable_shared_from_this<CVUserRoleProvider> {
public:
    using UserRoles = std::vector<CVUserRole>;
    using Completion = std::function<void(std::shared_ptr<UserRoles>, std::optional<platform::NSError>)>;

    // No language: the current content language.
    void getUserRolesAsync(std::optional<std::string> solutionId, std::optional<std::string> locale,
                           Completion completion);
    // For the bound API key and the current language.
    void getUserRolesWithCompletion(Completion completion);

    [[nodiscard]] static std::string urlForFetchingUserRoles(std::optional<std::string_view> solutionId,
                                                             std::optional<std::string_view> locale);
    // The roles of the objects of a JSON array, in order (other elements are
    // skipped); none when the bytes are not JSON or not an array.
    [[nodiscard]] static std::shared_ptr<UserRoles> userRolesFromData(const std::vector<std::uint8_t>& data);

    // Memory and data set are asked for the current language's URL, the
    // host app's resources for `language`.
    [[nodiscard]] static bool isOfflineDataAvailableForSolutionId(std::string_view solutionId,
                                                                  std::optional<std::string_view> language);

    // "com.ambrell.CVUserRoleProvider", shared by every instance.
    [[nodiscard]] static const platform::DispatchQueue& queue();
};

}  // namespace ambrell
