#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <boost/json/parser.hpp>

#include "Ambrell/CVLiveUpdate.h"
#include "Ambrell/CVLocationSource.h"
#include "Ambrell/CVSubscription.h"
#include "livedata/CVLiveDataService.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"
#include "platform/runtime/DispatchQueue.h"
#include "platform/runtime/Executor.h"

namespace ambrell {

class CVNetworkReachabilityManager;
class CVSolutionInternal;
class CVLocationService;

// The manager's connection: the client's state, value for value.
enum class CVLiveDataManagerState : std::int64_t {
    disconnected = 0,
    connecting = 1,
    connected = 2,
    // Neither idle nor connected.
    disconnecting = 3,
};

// Everything the live-data manager has to tell, on the thread it happens on
// and never under the manager's locks.
class CVLiveDataManagerDelegate {
public:
    virtual ~CVLiveDataManagerDelegate() = default;

    virtual void didReceiveWithLiveUpdate(const std::shared_ptr<const CVLiveUpdate>& liveUpdate) = 0;
    // A raw CVLiveDataManagerState value.
    virtual void didUpdateWithState(std::int64_t state) = 0;
    virtual void didSubscribeWithTopic(const std::shared_ptr<const CVLiveTopic>& topic) = 0;
    virtual void didUnsubscribeWithTopic(const std::shared_ptr<const CVLiveTopic>& topic) = 0;
    virtual void onSubscriptionError(const platform::NSError& error,
                                     const std::shared_ptr<const CVLiveTopic>& topic) = 0;
    virtual void onUnsubscriptionError(const platform::NSError& error,
                                       const std::shared_ptr<const CVLiveTopic>& topic) = 0;
    virtual void onError(const platform::NSError& error) = 0;
    virtual void didReceiveLiveDataInfo(const CVLiveDataInfo& info) = 0;
};

// The process's live data: one broker connection whose state it mirrors, the
// topics wanted, asked for, confirmed and being dropped, each topic's state
// fetched once per subscription, and live updates handed to the delegate and
// to the venue location sources, held back until the connection is up and
// then delivered in the order of their timestamp texts.
//
// Threads: the client's callbacks arrive on its queue; messages are decoded,
// and every update delivered, on one serial queue of the manager, in arrival
// order behind those still pending; subscriptions run as tasks of the pool.
class CVLiveDataManager final : public CVSubscriptionClientDelegate,
                                public CVLocationsObserver,
                                public std::enable_shared_from_this<CVLiveDataManager> {
public:
    static constexpr std::chrono::duration<double> kReconnectDelay{10.0};

    using Topic = std::shared_ptr<const CVLiveTopic>;
    using TopicSet = std::unordered_set<Topic, CVLiveTopicHash, CVLiveTopicEqual>;
    // Asks for the solution of the bound API key; the real one asks a new solution provider.
    using SolutionRequest = std::function<void(
        std::function<void(std::shared_ptr<CVSolutionInternal>, std::optional<platform::NSError>)> completion)>;

    // Becomes the client's delegate, observes the location service and asks
    // for the solution. Reports nothing.
    [[nodiscard]] static std::shared_ptr<CVLiveDataManager> make(
        std::shared_ptr<CVSubscriptionClient> subscriptionClient, std::shared_ptr<CVLiveDataService> liveDataService,
        std::shared_ptr<CVNetworkReachabilityManager> reachability,
        std::chrono::duration<double> reconnectDelay = kReconnectDelay, SolutionRequest solutionRequest = {});
    ~CVLiveDataManager() override;
    CVLiveDataManager(const CVLiveDataManager&) = delete;
    CVLiveDataManager& operator=(const CVLiveDataManager&) = delete;

    // The one manager, made with the real client, service and reachability on first use.
    [[nodiscard]] static std::shared_ptr<CVLiveDataManager> sharedInstance();
    // The one manager when it has been made; null otherwise.
    [[nodiscard]] static std::shared_ptr<CVLiveDataManager> existingSharedInstance();
    // Test-only: the next sharedInstance() makes a new manager.
    static void resetSharedForTesting();
    // Test-only: the one manager from now on (one with a short reconnection delay, say).
    static void setSharedForTesting(std::shared_ptr<CVLiveDataManager> manager);

    [[nodiscard]] std::shared_ptr<CVLiveDataManagerDelegate> delegate() const;
    // Also asks for the solution, and so for the live-data details.
    void setDelegate(std::shared_ptr<CVLiveDataManagerDelegate> delegate);
    [[nodiscard]] std::optional<std::vector<std::string>> activeDomainTypes() const;
    [[nodiscard]] CVLiveDataManagerState state() const;
    [[nodiscard]] const std::shared_ptr<CVSubscriptionClient>& subscriptionClient() const { return client_; }

    // Subscribes at the broker while connected; otherwise the topic waits.
    //   Completes: on the caller's executor once the request is queued or the
    //   topic left pending. Errors: none (reported to the delegate).
    platform::Awaitable<void> subscribe(Topic topic);
    // A confirmed topic is unsubscribed at the broker while connected, and
    // otherwise waits to be; one not yet confirmed is no longer asked for,
    // and if its SUBSCRIBE is already on its way, its confirmation is
    // answered with an UNSUBSCRIBE and not counted.
    platform::Awaitable<void> unsubscribe(Topic topic);
    // Starts the unsubscription of every confirmed topic and returns; topics
    // not yet confirmed are dropped as unsubscribe() drops them.
    void unsubscribeAll();
    // The pending pass: every pending topic asked for again; returns at once.
    void updateSubscriptions();
    // Every confirmed topic back to pending, its state to be fetched again; returns at once.
    void invalidateSubscriptionState();

    void handleSolution(const std::shared_ptr<CVSolutionInternal>& solution,
                        const std::optional<platform::NSError>& error);
    platform::Awaitable<void> fetchLiveDataInfo(std::string dataSetId);

    // Test-only: the bookkeeping as it stands.
    struct TopicsSnapshot {
        TopicSet topics;
        TopicSet pendingSubscriptions;
        TopicSet pendingUnsubscriptions;
        TopicSet liveStateFetchedForTopics;
        std::size_t pendingLiveUpdates = 0;
    };
    [[nodiscard]] TopicsSnapshot topicsForTesting() const;

    void didReceiveMessage(std::span<const std::uint8_t> message, const std::string& topic) override;
    void didSubscribe(const std::shared_ptr<const CVSubscriptionTopic>& topic) override;
    void didUnsubscribe(const std::shared_ptr<const CVSubscriptionTopic>& topic) override;
    void didUpdateState(std::int64_t state) override;
    void onError(const platform::NSError& error) override;
    void onSubscriptionError(const platform::NSError& error,
                             const std::shared_ptr<const CVSubscriptionTopic>& topic) override;
    void onUnsubscriptionError(const platform::NSError& error,
                               const std::shared_ptr<const CVSubscriptionTopic>& topic) override;

    void onLocationsUpdate(const std::vector<std::shared_ptr<CVLocation>>& locations,
                           const std::shared_ptr<CVLocationSource>& source) override;
    void onLocationsDelete(const std::vector<std::string>& locationIds,
                           const std::shared_ptr<CVLocationSource>& source) override;
    void onStatusChange(CVLocationSourceStatus status, const std::shared_ptr<CVLocationSource>& source) override;

private:
    CVLiveDataManager(std::shared_ptr<CVSubscriptionClient> subscriptionClient,
                      std::shared_ptr<CVLiveDataService> liveDataService,
                      std::shared_ptr<CVNetworkReachabilityManager> reachability,
                      std::chrono::duration<double> reconnectDelay, SolutionRequest solutionRequest);

    // Made and wired to its client and to the reachability changes; start()
    // then observes the location service and asks for the solution.
    [[nodiscard]] static std::shared_ptr<CVLiveDataManager> makeUnstarted(
        std::shared_ptr<CVSubscriptionClient> subscriptionClient, std::shared_ptr<CVLiveDataService> liveDataService,
        std::shared_ptr<CVNetworkReachabilityManager> reachability, std::chrono::duration<double> reconnectDelay,
        SolutionRequest solutionRequest);
    void start();
    // Stores the state, tells the delegate and delivers what is pending.
    void setState(CVLiveDataManagerState state);
    void requestSolution();
    void connect();
    // Connects unless the manager or its client has left idle already.
    void connectIfIdle();
    void reconnect();
    void scheduleReconnect();
    void reachabilityDidChange();
    void logSubscriptionEvent(bool subscribed, const Topic& topic);
    void fetchLiveStates();
    platform::Awaitable<void> fetchLiveState(Topic topic);
    void handleLiveState(std::span<const std::uint8_t> data);
    // A state body that cannot be read: told, but the state stays the client's.
    void reportDecodingFailure(const platform::NSError& error, std::string_view logText);
    // On updateQueue_ only.
    void decodeReceivedMessages();
    // The parser is reset, its document's memory given.
    void decodeMessage(boost::json::parser& parser, std::string_view bytes, const std::optional<std::string>& topic);
    void handleOnUpdateQueue(std::shared_ptr<const CVLiveUpdate> liveUpdate);
    void deliverPendingOnUpdateQueue();
    void deliver(const std::shared_ptr<const CVLiveUpdate>& liveUpdate);
    void deliverPendingLiveUpdates();
    void notifyVenueLocationSources(std::shared_ptr<const CVLiveUpdate> liveUpdate);
    void observeLocationService();
    [[nodiscard]] static Topic liveTopicOf(const std::shared_ptr<const CVSubscriptionTopic>& topic);

    const std::shared_ptr<CVSubscriptionClient> client_;
    const std::shared_ptr<CVLiveDataService> liveDataService_;
    const std::shared_ptr<CVNetworkReachabilityManager> reachability_;
    const std::chrono::duration<double> reconnectDelay_;
    const SolutionRequest solutionRequest_;
    // Subscribe and unsubscribe requests reach the client through it, in order.
    platform::DispatchQueue serialQueue_{"LiveData"};
    // Decoding and delivery, one update at a time.
    platform::DispatchQueue updateQueue_{"LiveData.updates"};
    platform::NotificationCenter::ObserverToken reachabilityObserver_;

    // Messages received and not yet decoded, in arrival order, each one's
    // bytes then its topic back to back in one buffer: a burst costs one
    // block on updateQueue_ and no allocation per message.
    struct ReceivedMessages {
        struct Sizes {
            std::size_t message = 0;
            std::size_t topic = 0;
        };
        std::string text;
        std::vector<Sizes> sizes;
    };
    std::mutex receivedMutex_;
    ReceivedMessages received_;
    // The batch being decoded, kept between batches for its capacity; on updateQueue_ only.
    ReceivedMessages decoding_;

    mutable std::mutex mutex_;
    std::shared_ptr<CVLiveDataManagerDelegate> delegate_;
    std::optional<std::vector<std::string>> activeDomainTypes_;
    CVLiveDataManagerState state_ = CVLiveDataManagerState::disconnected;
    std::weak_ptr<CVLocationService> observedLocationService_;

    // The bookkeeping: each locked section is one turn.
    mutable std::mutex topicsMutex_;
    TopicSet liveStateFetchedForTopics_;
    std::vector<std::shared_ptr<const CVLiveUpdate>> pendingLiveUpdates_;
    TopicSet pendingSubscriptions_;
    TopicSet pendingUnsubscriptions_;
    TopicSet topics_;
};

}  // namespace ambrell
