#pragma once

#include <memory>

#include "livedata/CVLiveDataManager.h"

namespace ambrell {

class CVMapControlInternal;

// The live-data manager's delegate on behalf of one map control: hands each
// live update to the map's listener for the update's domain type. Everything
// else the manager reports is of no concern to the map.
class CVInternalLiveDataDelegate final : public CVLiveDataManagerDelegate,
                                         public std::enable_shared_from_this<CVInternalLiveDataDelegate> {
public:
    // Becomes the only delegate of the manager (null: the shared one), which
    // then asks for the live-data details. The map control is held weakly:
    // it owns its delegate.
    [[nodiscard]] static std::shared_ptr<CVInternalLiveDataDelegate> make(
        const std::shared_ptr<CVMapControlInternal>& mapControl, std::shared_ptr<CVLiveDataManager> manager = nullptr);

    // Dropped when the update has no domain type, the map control is gone or
    // it has no listener for the domain; otherwise the listener is called on
    // this thread.
    void didReceiveWithLiveUpdate(const std::shared_ptr<const CVLiveUpdate>& liveUpdate) override;
    void didUpdateWithState(std::int64_t /*state*/) override {}
    void didSubscribeWithTopic(const std::shared_ptr<const CVLiveTopic>& /*topic*/) override {}
    void didUnsubscribeWithTopic(const std::shared_ptr<const CVLiveTopic>& /*topic*/) override {}
    void onSubscriptionError(const platform::NSError& /*error*/,
                             const std::shared_ptr<const CVLiveTopic>& /*topic*/) override {}
    void onUnsubscriptionError(const platform::NSError& /*error*/,
                               const std::shared_ptr<const CVLiveTopic>& /*topic*/) override {}
    void onError(const platform::NSError& /*error*/) override {}
    void didReceiveLiveDataInfo(const CVLiveDataInfo& /*info*/) override {}

private:
    struct Private {};

public:
    CVInternalLiveDataDelegate(Private, std::weak_ptr<CVMapControlInternal> mapControl)
        : cvMapControl_(std::move(mapControl)) {}

private:
    const std::weak_ptr<CVMapControlInternal> cvMapControl_;
};

}  // namespace ambrell
