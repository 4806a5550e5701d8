#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "data/CVAppData.h"
#include "platform/Error.h"
#include "platform/runtime/DispatchQueue.h"

namespace ambrell {

class CVAppDataProviderDelegate {
public:
    virtual ~CVAppDataProviderDelegate() = default;
    // On the main queue, before the request's completion.
    virtual void onAppDataReady(const std::shared_ptr<CVAppData>& appData) = 0;
};

// Loads a solution's app data (the "appconfig" sync document) through the
// content provider chain (CVContentProviderChain). Made with std::make_shared:
// a request keeps its provider alive until it has answered. Thread-safe.
//
// Every get... operation:
//   Completes: on the main queue (the delegate first); an absent or empty
//     solution id answers at once, on the caller's thread, with error 101200.
//   Errors: 100810 when there is no app data to answer.
//   Cancelling: not possible.
class CVAppDataProvider : public std::enable_shared_from_this<CVAppDataProvider> {
public:
    using Completion = std::function<void(std::shared_ptr<CVAppData>, std::optional<platform::NSError>)>;

    void setDelegate(std::weak_ptr<CVAppDataProviderDelegate> delegate);
    [[nodiscard]] std::shared_ptr<CVAppDataProviderDelegate> delegate() const;

    // No language: the current content language.
    void getAppDataAsync(std::optional<std::string> solutionId, std::optional<std::string> language,
                         Completion completion = {});
    // For the bound API key and the current language.
    void getAppDataWithCompletion(Completion completion);
    void getAppData();

    [[nodiscard]] static bool isOfflineDataAvailableForSolutionId(std::string_view solutionId,
                                                                  std::optional<std::string_view> language);

    // "com.ambrell.CVAppDataProvider", shared by every instance.
    [[nodiscard]] static const platform::DispatchQueue& queue();

private:
    mutable std::mutex mutex_;
    std::weak_ptr<CVAppDataProviderDelegate> delegate_;
};

}  // namespace ambrell
