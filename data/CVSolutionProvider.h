#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "data/CVSolutionInternal.h"
#include "data/CVUserRoleProvider.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"
#include "platform/runtime/DispatchQueue.h"

namespace ambrell {

class CVSolutionProviderDelegate {
public:
    virtual ~CVSolutionProviderDelegate() = default;
    // On the main queue, before the request's completion.
    virtual void onSolutionsReady(const std::shared_ptr<CVSolutionInternal>& solution) = 0;
};

// Loads the solution (the "solutions" sync document, always in the current
// content language) through the content provider chain
// (CVContentProviderChain), and keeps the content language one the solution
// offers. Made with std::make_shared: a request keeps its provider alive
// until it has answered. Thread-safe.
//
// A freshly downloaded solution stores its default and available languages;
// when the current language is not among them the default becomes current,
// and every living solution provider fetches the solution again (without a
// completion) on the language-change notification.
//
// Every get... operation:
//   Completes: on the main queue (the delegate first); an absent or empty
//     solution id answers at once, on the caller's thread, with error 101200.
//   Errors: 100410 when there is no solution to answer.
//   Cancelling: not possible.
class CVSolutionProvider : public std::enable_shared_from_this<CVSolutionProvider> {
public:
    using Completion = std::function<void(std::shared_ptr<CVSolutionInternal>, std::optional<platform::NSError>)>;

    CVSolutionProvider();
    ~CVSolutionProvider();
    CVSolutionProvider(const CVSolutionProvider&) = delete;
    CVSolutionProvider& operator=(const CVSolutionProvider&) = delete;

    void setDelegate(std::weak_ptr<CVSolutionProviderDelegate> delegate);
    [[nodiscard]] std::shared_ptr<CVSolutionProviderDelegate> delegate() const;

    void getSolutionAsync(std::optional<std::string> solutionId, Completion completion = {});
    // For the bound API key.
    void getSolutionWithCompletion(Completion completion);
    void getSolution();

    // Stores the solution's languages and falls back to its default language
    // when the current one is not offered (the change is announced on the
    // main queue).
    static void validateAmbrellLanguage(const CVSolutionInternal& solution);

    // In the current language.
    [[nodiscard]] static bool isOfflineDataAvailableForSolutionId(std::string_view solutionId);

    // Made on first use.
    [[nodiscard]] std::shared_ptr<CVUserRoleProvider> userRoleProvider();
    void getUserRolesWithCompletion(CVUserRoleProvider::Completion completion);

    // "com.ambrell.CVSolutionProvider", shared by every instance.
    [[nodiscard]] static const platform::DispatchQueue& queue();

private:
    mutable std::mutex mutex_;
    std::weak_ptr<CVSolutionProviderDelegate> delegate_;
    std::shared_ptr<CVUserRoleProvider> userRoleProvider_;
    platform::NotificationCenter::ObserverToken languageChanged_;
};

}  // namespace ambrell
