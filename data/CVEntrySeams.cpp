#include "data/CVEntrySeams.h"

#include <mutex>

#include "data/AmbrellLegacy.h"
#include "data/CVImageProvider.h"
#include "data/CVSolutionInternal.h"

namespace ambrell {

namespace {

std::mutex entryMutex;
std::shared_ptr<const CVEntryObjectSeam> entryObject;

}  // namespace

void CVEntryObjectSeam::install(std::shared_ptr<const CVEntryObjectSeam> entry) {
    std::shared_ptr<const CVEntryObjectSeam> previous;
    std::lock_guard lock(entryMutex);
    previous.swap(entryObject);
    entryObject = std::move(entry);
}

void CVEntryObjectSeam::parentOfLocation(const CVLocation& /*location*/,
                                         std::function<void(std::shared_ptr<CVLocation>)> completion) const {
    if (completion) completion(nullptr);
}

std::shared_ptr<CVSolutionInternal> CVEntryObjectSeam::solution() const { return AmbrellLegacy::solution(); }

bool CVEntryObjectSeam::enableClustering() const {
    const auto current = solution();
    return current && current->config && current->config->enableClustering;
}

bool CVEntryObjectSeam::newSelection() const {
    const auto current = solution();
    return current && current->config && current->config->newSelection;
}

std::shared_ptr<const CVImageProviderProtocol> CVEntryObjectSeam::imageProvider() const {
    // Stateless, so one serves every entry object that brings none.
    static const auto shared = std::make_shared<const CVImageProviderImpl>();
    return shared;
}

std::string CVEntryObjectSeam::language() const { return AmbrellLegacy::getLanguage(); }

void CVEntryObjectSeam::locationsWithQuery(
    std::optional<CVQuery> /*query*/, CVFilter /*filter*/,
    std::function<void(std::vector<std::shared_ptr<CVLocation>>)> completion) const {
    if (completion) completion({});
}

std::shared_ptr<const CVEntryObjectSeam> CVEntryObjectSeam::installed() {
    std::lock_guard lock(entryMutex);
    return entryObject;
}

}  // namespace ambrell
