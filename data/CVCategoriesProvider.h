#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "Ambrell/CVLocation.h"
#include "data/CVCategories.h"
#include "platform/Error.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

// Loads the location categories of the bound solution in the current
// language (the "categories" sync document) from the memory cache, the data
// set's copy, the host app's resource or a conditional download, in that
// order. No state, no queue: calls may overlap. Thread-safe.
class CVCategoriesProvider {
public:
    using List = std::vector<std::shared_ptr<CVDataField>>;
    using Completion = std::function<void(std::optional<List>, std::optional<platform::NSError>)>;

    // Runs on a strand of its own, whatever the caller's executor.
    //   Completes: on the caller's executor with the categories.
    //   Errors: CVError.invalidApiKey without a bound key;
    //     CVError.categoriesUnavailable when nothing can be answered; offline,
    //     the mapping error of a local copy that does not parse (online such
    //     a copy is downloaded afresh), or the read error of a resource file.
    //   Cancelling: ends the download and throws CancellationError.
    [[nodiscard]] platform::Awaitable<List> categories() const;
    // Calls the completion once, from a task of its own (not on the main
    // queue), with the list or the thrown error as an error object.
    void categoriesWithCompletionHandler(Completion completion) const;

    // The categories of a document as this provider reads its copies: bytes
    // that are not JSON fail (the model alone would read them as no
    // categories), so that a damaged copy is fetched afresh. None with the
    // failure when they do not read.
    [[nodiscard]] static std::shared_ptr<CVCategories> categoriesFromData(const std::vector<std::uint8_t>& data,
                                                                          std::optional<JSONModelError>& failure);

    // From the memory cache or the host app's resources only; logs nothing.
    [[nodiscard]] static bool isOfflineDataAvailableForSolutionId(std::string_view solutionId,
                                                                  std::optional<std::string_view> language);
};

}  // namespace ambrell
