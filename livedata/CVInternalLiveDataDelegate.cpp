#include "livedata/CVInternalLiveDataDelegate.h"

#include <utility>

#include "mapcontrol/CVMapControlInternal.h"

namespace ambrell {

std::shared_ptr<CVInternalLiveDataDelegate> CVInternalLiveDataDelegate::make(
    const std::shared_ptr<CVMapControlInternal>& mapControl, std::shared_ptr<CVLiveDataManager> manager) {
    auto delegate = std::make_shared<CVInternalLiveDataDelegate>(Private{}, mapControl);
    if (!manager) manager = CVLiveDataManager::sharedInstance();
    // The manager asks for the solution, and so for the details, on every
    // assignment of its delegate.
    manager->setDelegate(delegate);
    return delegate;
}

void CVInternalLiveDataDelegate::didReceiveWithLiveUpdate(const std::shared_ptr<const CVLiveUpdate>& liveUpdate) {
    if (!liveUpdate || !liveUpdate->topic.domainType) return;
    const auto mapControl = cvMapControl_.lock();
    if (!mapControl) return;
    if (const auto listener = mapControl->liveDataListener(*liveUpdate->topic.domainType)) listener(liveUpdate);
}

}  // namespace ambrell
