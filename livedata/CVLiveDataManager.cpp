#include "livedata/CVLiveDataManager.h"

#include <algorithm>
#include <exception>
#include <utility>

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/parse.hpp>

#include "Ambrell/CVError.h"
#include "Ambrell/CVLog.h"
#include "Ambrell/ErrorObjects.h"
#include "core/AmbrellInternal.h"
#include "core/CVLocationService.h"
#include "core/CVVenueLocationSource.h"
#include "data/CVSolutionInternal.h"
#include "data/CVSolutionProvider.h"
#include "foundation/CVDataProvider.h"
#include "foundation/CVLogger.h"
#include "foundation/CVNetworkReachabilityManager.h"
#include "livedata/CVMQTTSubscriptionClient.h"
#include "platform/runtime/Sleep.h"
#include "platform/runtime/Task.h"

namespace ambrell {
namespace live_data_manager {
namespace {

std::mutex& sharedMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<CVLiveDataManager>& sharedManager() {
    static std::shared_ptr<CVLiveDataManager> manager;
    return manager;
}

// The platform reader's error for bytes that are not a JSON document of the expected kind.
platform::NSError jsonReadingError(std::string_view reason) {
    return errorWithDescription("NSCocoaErrorDomain", 3840,
                                "The data couldn't be read because it isn't in the correct format. (" +
                                    std::string(reason) + ")");
}

bool isActive(const std::optional<std::string>& domainType, const std::vector<std::string>& active) {
    return !domainType || std::find(active.begin(), active.end(), *domainType) != active.end();
}

}  // namespace
}  // namespace live_data_manager

std::shared_ptr<CVLiveDataManager> CVLiveDataManager::make(std::shared_ptr<CVSubscriptionClient> subscriptionClient,
                                                           std::shared_ptr<CVLiveDataService> liveDataService,
                                                           std::shared_ptr<CVNetworkReachabilityManager> reachability,
                                                           std::chrono::duration<double> reconnectDelay,
                                                           SolutionRequest solutionRequest) {
    auto manager = makeUnstarted(std::move(subscriptionClient), std::move(liveDataService), std::move(reachability),
                                 reconnectDelay, std::move(solutionRequest));
    manager->start();
    return manager;
}

std::shared_ptr<CVLiveDataManager> CVLiveDataManager::makeUnstarted(
    std::shared_ptr<CVSubscriptionClient> subscriptionClient, std::shared_ptr<CVLiveDataService> liveDataService,
    std::shared_ptr<CVNetworkReachabilityManager> reachability, std::chrono::duration<double> reconnectDelay,
    SolutionRequest solutionRequest) {
    if (!solutionRequest) {
        solutionRequest = [](auto completion) {
            auto provider = std::make_shared<CVSolutionProvider>();
            // The provider stays alive until it has answered.
            provider->getSolutionWithCompletion(
                [provider, completion = std::move(completion)](std::shared_ptr<CVSolutionInternal> solution,
                                                               std::optional<platform::NSError> error) {
                    completion(std::move(solution), std::move(error));
                });
        };
    }
    std::shared_ptr<CVLiveDataManager> manager(
        new CVLiveDataManager(std::move(subscriptionClient), std::move(liveDataService), std::move(reachability),
                              reconnectDelay, std::move(solutionRequest)));
    manager->client_->setDelegate(manager);
    manager->reachabilityObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        CVNetworkingReachabilityDidChangeNotification(),
        [weakManager = std::weak_ptr<CVLiveDataManager>(manager)](const platform::Notification&) {
            if (auto self = weakManager.lock()) self->reachabilityDidChange();
        });
    return manager;
}

void CVLiveDataManager::start() {
    observeLocationService();
    requestSolution();
}

CVLiveDataManager::CVLiveDataManager(std::shared_ptr<CVSubscriptionClient> subscriptionClient,
                                     std::shared_ptr<CVLiveDataService> liveDataService,
                                     std::shared_ptr<CVNetworkReachabilityManager> reachability,
                                     std::chrono::duration<double> reconnectDelay, SolutionRequest solutionRequest)
    : client_(std::move(subscriptionClient)),
      liveDataService_(std::move(liveDataService)),
      reachability_(std::move(reachability)),
      reconnectDelay_(reconnectDelay),
      solutionRequest_(std::move(solutionRequest)) {}

CVLiveDataManager::~CVLiveDataManager() = default;

std::shared_ptr<CVLiveDataManager> CVLiveDataManager::sharedInstance() {
    std::shared_ptr<CVLiveDataManager> made;
    {
        // Made under the lock, so that callers that all find none make only
        // one between them: a manager made and thrown away would already have
        // asked for the solution and joined the location service.
        const std::lock_guard lock(live_data_manager::sharedMutex());
        auto& manager = live_data_manager::sharedManager();
        if (manager) return manager;
        manager = makeUnstarted(CVMQTTSubscriptionClient::make(), std::make_shared<CVLiveDataService>(),
                                CVNetworkReachabilityManager::sharedManager(), kReconnectDelay, {});
        made = manager;
    }
    // Started outside it: asking for the solution may answer at once and call back.
    made->start();
    return made;
}

std::shared_ptr<CVLiveDataManager> CVLiveDataManager::existingSharedInstance() {
    const std::lock_guard lock(live_data_manager::sharedMutex());
    return live_data_manager::sharedManager();
}

void CVLiveDataManager::resetSharedForTesting() { setSharedForTesting(nullptr); }

void CVLiveDataManager::setSharedForTesting(std::shared_ptr<CVLiveDataManager> manager) {
    std::shared_ptr<CVLiveDataManager> previous;
    {
        const std::lock_guard lock(live_data_manager::sharedMutex());
        previous = std::exchange(live_data_manager::sharedManager(), std::move(manager));
    }
    // The client holds its manager: let go of each other.
    if (previous) previous->client_->setDelegate(nullptr);
}

std::shared_ptr<CVLiveDataManagerDelegate> CVLiveDataManager::delegate() const {
    const std::lock_guard lock(mutex_);
    return delegate_;
}

void CVLiveDataManager::setDelegate(std::shared_ptr<CVLiveDataManagerDelegate> delegate) {
    {
        const std::lock_guard lock(mutex_);
        delegate_ = std::move(delegate);
    }
    requestSolution();
}

std::optional<std::vector<std::string>> CVLiveDataManager::activeDomainTypes() const {
    const std::lock_guard lock(mutex_);
    return activeDomainTypes_;
}

CVLiveDataManagerState CVLiveDataManager::state() const {
    const std::lock_guard lock(mutex_);
    return state_;
}

void CVLiveDataManager::setState(CVLiveDataManagerState state) {
    std::shared_ptr<CVLiveDataManagerDelegate> delegate;
    {
        const std::lock_guard lock(mutex_);
        state_ = state;
        delegate = delegate_;
    }
    if (delegate) delegate->didUpdateWithState(static_cast<std::int64_t>(state));
    deliverPendingLiveUpdates();
}

void CVLiveDataManager::requestSolution() {
    solutionRequest_([weakSelf = weak_from_this()](std::shared_ptr<CVSolutionInternal> solution,
                                                   std::optional<platform::NSError> error) {
        if (auto self = weakSelf.lock()) self->handleSolution(solution, error);
    });
}

void CVLiveDataManager::handleSolution(const std::shared_ptr<CVSolutionInternal>& solution,
                                       const std::optional<platform::NSError>& /*error*/) {
    if (!solution || solution->dataSetId().empty()) return;
    platform::Task::start(
        [self = shared_from_this(), dataSetId = solution->dataSetId()] { return self->fetchLiveDataInfo(dataSetId); });
}

platform::Awaitable<void> CVLiveDataManager::fetchLiveDataInfo(std::string dataSetId) {
    auto self = shared_from_this();
    std::optional<CVLiveDataInfo> info;
    std::exception_ptr failure;
    try {
        info = co_await liveDataService_->liveDataInfo(std::move(dataSetId));
    } catch (...) {
        failure = std::current_exception();
    }
    if (!info) {
        self->onError(errorObjectFor(failure));
        co_return;
    }
    std::shared_ptr<CVLiveDataManagerDelegate> delegate;
    {
        const std::lock_guard lock(self->mutex_);
        self->activeDomainTypes_ = info->domainTypes();
        delegate = self->delegate_;
    }
    if (delegate) delegate->didReceiveLiveDataInfo(*info);
    self->updateSubscriptions();
}

// MARK: connection

void CVLiveDataManager::didUpdateState(std::int64_t rawState) {
    if (rawState < 0 || rawState > 3) return;
    const auto newState = static_cast<CVLiveDataManagerState>(rawState);
    const bool wasConnected = state() == CVLiveDataManagerState::connected;
    // With clean sessions the broker forgets every subscription when the
    // connection goes: all of them are asked for again at the next connect.
    if (wasConnected && newState != CVLiveDataManagerState::connected) {
        const std::lock_guard lock(topicsMutex_);
        for (const auto& topic : topics_) {
            if (!pendingUnsubscriptions_.contains(topic)) pendingSubscriptions_.insert(topic);
        }
        topics_.clear();
        pendingUnsubscriptions_.clear();
        liveStateFetchedForTopics_.clear();
    }
    setState(newState);
    if (newState == CVLiveDataManagerState::connected) updateSubscriptions();
    // A broker that closes the connection (a restart, say) reports no error,
    // so no error would ever start the reconnection.
    if (wasConnected && newState == CVLiveDataManagerState::disconnected) reconnect();
}

void CVLiveDataManager::onError(const platform::NSError& error) {
    if (auto delegate = this->delegate()) delegate->onError(error);
    if (client_->state() != CVSubscriptionState::disconnected) return;
    setState(CVLiveDataManagerState::disconnected);
    CVLog::core().debug("Connection failed " + error.localizedDescription());
    reconnect();
}

void CVLiveDataManager::onSubscriptionError(const platform::NSError& error,
                                            const std::shared_ptr<const CVSubscriptionTopic>& topic) {
    CVLog::core().debug("Subscription failed " + error.localizedDescription());
    const auto liveTopic = liveTopicOf(topic);
    if (!liveTopic) return;
    if (auto delegate = this->delegate()) delegate->onSubscriptionError(error, liveTopic);
}

void CVLiveDataManager::onUnsubscriptionError(const platform::NSError& error,
                                              const std::shared_ptr<const CVSubscriptionTopic>& topic) {
    CVLog::core().debug("Unsubscription failed " + error.localizedDescription());
    const auto liveTopic = liveTopicOf(topic);
    if (!liveTopic) return;
    if (auto delegate = this->delegate()) delegate->onUnsubscriptionError(error, liveTopic);
}

void CVLiveDataManager::connect() { client_->connect(true); }

void CVLiveDataManager::connectIfIdle() {
    const auto clientState = client_->state();
    if (clientState == CVSubscriptionState::connected || clientState == CVSubscriptionState::connecting) return;
    std::shared_ptr<CVLiveDataManagerDelegate> delegate;
    {
        // Finding the manager idle and leaving idle are one step: callers
        // that both found it idle would each connect.
        const std::lock_guard lock(mutex_);
        if (state_ != CVLiveDataManagerState::disconnected) return;
        state_ = CVLiveDataManagerState::connecting;
        delegate = delegate_;
    }
    if (delegate) delegate->didUpdateWithState(static_cast<std::int64_t>(CVLiveDataManagerState::connecting));
    deliverPendingLiveUpdates();
    connect();
}

void CVLiveDataManager::reconnect() {
    if (reachability_ && reachability_->isReachable()) {
        scheduleReconnect();
        CVLog::core().debug("Trying to reconnect in 10 seconds");
    } else {
        invalidateSubscriptionState();
        CVLog::core().debug("Starting notifier");
    }
}

void CVLiveDataManager::scheduleReconnect() {
    platform::Task::start([self = shared_from_this()]() -> platform::Awaitable<void> {
        co_await platform::sleep(std::chrono::duration_cast<std::chrono::nanoseconds>(self->reconnectDelay_));
        CVLog::core().debug("Reconnecting after disruption\u2026");
        const auto clientState = self->client_->state();
        if (clientState == CVSubscriptionState::connected || clientState == CVSubscriptionState::connecting) co_return;
        self->setState(CVLiveDataManagerState::connecting);
        self->connect();
    });
}

void CVLiveDataManager::reachabilityDidChange() {
    if (!reachability_ || !reachability_->isReachable()) return;
    if (state() != CVLiveDataManagerState::disconnected) return;
    {
        const std::lock_guard lock(topicsMutex_);
        if (pendingSubscriptions_.empty()) return;
    }
    connectIfIdle();
    fetchLiveStates();
}

void CVLiveDataManager::logSubscriptionEvent(bool subscribed, const Topic& topic) {
    CVLogEntry::Parameters parameters{{"domain_type", topic->domainType().value_or("all")}};
    CVLogger::event(subscribed ? CVLogEvent::subscriptionStarted : CVLogEvent::subscriptionStopped,
                    CVLogDomain::liveData, std::move(parameters));
}

// MARK: topics

CVLiveDataManager::Topic CVLiveDataManager::liveTopicOf(const std::shared_ptr<const CVSubscriptionTopic>& topic) {
    return std::dynamic_pointer_cast<const CVLiveTopic>(topic);
}

platform::Awaitable<void> CVLiveDataManager::subscribe(Topic topic) {
    if (!topic) co_return;
    auto self = shared_from_this();
    {
        // A topic whose unsubscription is on its way is as good as gone: its
        // confirmation will take it out of every set.
        const std::lock_guard lock(self->topicsMutex_);
        if (self->topics_.contains(topic) && !self->pendingUnsubscriptions_.contains(topic)) co_return;
    }
    self->observeLocationService();
    {
        const std::lock_guard lock(self->topicsMutex_);
        self->pendingSubscriptions_.insert(topic);
        // Asked for anew: the broker hears the subscription after the
        // unsubscription, and the state is fetched again.
        if (self->pendingUnsubscriptions_.erase(topic) > 0) self->liveStateFetchedForTopics_.erase(topic);
    }
    const auto active = self->activeDomainTypes();
    if (!active) {
        co_await self->fetchLiveDataInfo(topic->datasetId());
        co_return;
    }
    if (!live_data_manager::isActive(topic->domainType(), *active)) co_return;
    switch (self->state()) {
        case CVLiveDataManagerState::disconnected:
            self->connectIfIdle();
            self->fetchLiveStates();
            break;
        case CVLiveDataManagerState::connected:
            self->serialQueue_.async([client = self->client_, topic] { client->subscribe(topic); });
            co_await self->fetchLiveState(topic);
            break;
        case CVLiveDataManagerState::connecting:
        case CVLiveDataManagerState::disconnecting:
            if (auto delegate = self->delegate()) {
                delegate->onSubscriptionError(
                    errorObjectFor(std::make_exception_ptr(CVError(CVErrorCase::subscriptionUnavailable))), topic);
            }
            break;
    }
}

platform::Awaitable<void> CVLiveDataManager::unsubscribe(Topic topic) {
    if (!topic) co_return;
    {
        const std::lock_guard lock(topicsMutex_);
        // A topic not yet confirmed is only no longer wanted: one waiting for
        // the next connect (as confirmed ones do while the connection is
        // down) is not asked for, and one whose SUBSCRIBE is on its way is
        // dropped when its confirmation comes.
        pendingSubscriptions_.erase(topic);
        if (!topics_.contains(topic)) co_return;
        pendingUnsubscriptions_.insert(topic);
    }
    if (state() == CVLiveDataManagerState::connected) {
        serialQueue_.async([client = client_, topic] { client->unsubscribe(topic); });
    }
}

void CVLiveDataManager::unsubscribeAll() {
    std::vector<Topic> snapshot;
    {
        const std::lock_guard lock(topicsMutex_);
        snapshot.assign(topics_.begin(), topics_.end());
        // Nothing waiting is asked for at the next connect either.
        pendingSubscriptions_.clear();
    }
    for (auto& topic : snapshot) {
        platform::Task::start([self = shared_from_this(), topic] { return self->unsubscribe(topic); });
    }
}

void CVLiveDataManager::updateSubscriptions() {
    std::vector<Topic> subscriptions;
    std::vector<Topic> unsubscriptions;
    {
        const std::lock_guard lock(topicsMutex_);
        subscriptions.assign(pendingSubscriptions_.begin(), pendingSubscriptions_.end());
        unsubscriptions.assign(pendingUnsubscriptions_.begin(), pendingUnsubscriptions_.end());
    }
    for (auto& topic : subscriptions) {
        platform::Task::start([self = shared_from_this(), topic] { return self->subscribe(topic); });
    }
    for (auto& topic : unsubscriptions) {
        platform::Task::start([self = shared_from_this(), topic] { return self->unsubscribe(topic); });
    }
}

void CVLiveDataManager::invalidateSubscriptionState() {
    const std::lock_guard lock(topicsMutex_);
    for (const auto& topic : topics_) {
        if (!pendingUnsubscriptions_.contains(topic)) pendingSubscriptions_.insert(topic);
    }
    topics_.clear();
    pendingUnsubscriptions_.clear();
    liveStateFetchedForTopics_.clear();
}

void CVLiveDataManager::didSubscribe(const std::shared_ptr<const CVSubscriptionTopic>& subscriptionTopic) {
    const auto topic = liveTopicOf(subscriptionTopic);
    if (!topic) return;
    bool wanted = false;
    bool withdraw = false;
    {
        const std::lock_guard lock(topicsMutex_);
        // Wanted: asked for (perhaps again after being dropped) or confirmed already.
        wanted = pendingSubscriptions_.erase(topic) > 0 || topics_.contains(topic);
        if (wanted) {
            topics_.insert(topic);
        } else if (state() == CVLiveDataManagerState::connected) {
            // Dropped while its SUBSCRIBE was on its way: the broker would
            // send its updates for good. Withdrawn once, however many
            // confirmations come; a connection that goes takes it along.
            withdraw = pendingUnsubscriptions_.insert(topic).second;
        }
    }
    if (!wanted) {
        if (withdraw) serialQueue_.async([client = client_, topic] { client->unsubscribe(topic); });
        return;
    }
    if (auto delegate = this->delegate()) delegate->didSubscribeWithTopic(topic);
    deliverPendingLiveUpdates();
    logSubscriptionEvent(true, topic);
    CVLog::core().debug("Subscribed to topic " + topic->topicString());
}

void CVLiveDataManager::didUnsubscribe(const std::shared_ptr<const CVSubscriptionTopic>& subscriptionTopic) {
    const auto topic = liveTopicOf(subscriptionTopic);
    if (!topic) return;
    {
        const std::lock_guard lock(topicsMutex_);
        liveStateFetchedForTopics_.erase(topic);
        topics_.erase(topic);
        pendingUnsubscriptions_.erase(topic);
    }
    if (auto delegate = this->delegate()) delegate->didUnsubscribeWithTopic(topic);
    CVLog::core().debug("Unsubscribed from topic " + topic->topicString());
    logSubscriptionEvent(false, topic);
}

CVLiveDataManager::TopicsSnapshot CVLiveDataManager::topicsForTesting() const {
    const std::lock_guard lock(topicsMutex_);
    return TopicsSnapshot{topics_, pendingSubscriptions_, pendingUnsubscriptions_, liveStateFetchedForTopics_,
                          pendingLiveUpdates_.size()};
}

// MARK: live state

void CVLiveDataManager::fetchLiveStates() {
    std::vector<Topic> wanted;
    {
        const std::lock_guard lock(topicsMutex_);
        wanted.assign(topics_.begin(), topics_.end());
        for (const auto& topic : pendingSubscriptions_) {
            if (!topics_.contains(topic)) wanted.push_back(topic);
        }
    }
    platform::Task::start([self = shared_from_this(), wanted = std::move(wanted)]() -> platform::Awaitable<void> {
        for (const auto& topic : wanted) co_await self->fetchLiveState(topic);
    });
}

platform::Awaitable<void> CVLiveDataManager::fetchLiveState(Topic topic) {
    auto self = shared_from_this();
    {
        const std::lock_guard lock(self->topicsMutex_);
        if (self->liveStateFetchedForTopics_.contains(topic)) {
            self->deliverPendingLiveUpdates();
            co_return;
        }
    }
    const std::string url = CVLiveDataEndpoints::stateUrl(topic->topicStringUrlEscaped());
    if (url.empty() || url.find("://") == std::string::npos) co_return;
    std::optional<CVDataProvider::DataResult> result;
    std::exception_ptr failure;
    try {
        result = co_await CVDataProvider::data(url, std::nullopt, std::nullopt, true);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!result) {
        const auto error = errorObjectFor(failure);
        // The state stays the client's: a failed fetch says nothing of the broker connection.
        CVLog::core().debug("Failed to retrieve state " + error.localizedDescription());
        if (auto delegate = self->delegate()) delegate->onError(error);
        self->reconnect();
        co_return;
    }
    if (!result->data) co_return;
    self->handleLiveState(*result->data);
    {
        const std::lock_guard lock(self->topicsMutex_);
        self->liveStateFetchedForTopics_.insert(topic);
    }
    self->deliverPendingLiveUpdates();
}

void CVLiveDataManager::reportDecodingFailure(const platform::NSError& error, std::string_view logText) {
    CVLog::core().debug(std::string(logText) + error.localizedDescription());
    if (auto delegate = this->delegate()) delegate->onError(error);
}

void CVLiveDataManager::handleLiveState(std::span<const std::uint8_t> data) {
    boost::system::error_code parseError;
    const auto value =
        boost::json::parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), parseError);
    if (parseError) {
        reportDecodingFailure(live_data_manager::jsonReadingError(parseError.message()), "Failed decoding state ");
        return;
    }
    const auto* list = value.if_array();
    const bool allObjects = list && std::all_of(list->begin(), list->end(),
                                                [](const boost::json::value& entry) { return entry.is_object(); });
    if (!allObjects) {
        reportDecodingFailure(live_data_manager::jsonReadingError("not a list of objects"), "Failed decoding state ");
        return;
    }
    std::vector<std::shared_ptr<const CVLiveUpdate>> updates;
    for (const auto& entry : *list) {
        if (auto update = CVLiveUpdate::liveUpdateWithDictionary(entry.get_object(), std::nullopt)) {
            updates.push_back(std::move(update));
        }
    }
    if (updates.empty()) return;
    updateQueue_.async([self = shared_from_this(), updates = std::move(updates)] {
        for (const auto& update : updates) self->handleOnUpdateQueue(update);
    });
}

// MARK: live updates

void CVLiveDataManager::didReceiveMessage(std::span<const std::uint8_t> message, const std::string& topic) {
    bool firstWaiting = false;
    {
        const std::lock_guard lock(receivedMutex_);
        firstWaiting = received_.sizes.empty();
        received_.text.append(reinterpret_cast<const char*>(message.data()), message.size());
        received_.text.append(topic);
        received_.sizes.push_back({message.size(), topic.size()});
    }
    // Messages that arrive before the block runs are decoded by it.
    if (firstWaiting) updateQueue_.async([self = shared_from_this()] { self->decodeReceivedMessages(); });
}

void CVLiveDataManager::decodeReceivedMessages() {
    // Cleared before, not after: a batch cut short by a throw is not decoded twice.
    decoding_.text.clear();
    decoding_.sizes.clear();
    {
        const std::lock_guard lock(receivedMutex_);
        std::swap(decoding_, received_);
    }
    // One parser and one document buffer for the batch, reused message by
    // message: the decoded update copies what it keeps out of the document.
    unsigned char parserStack[256];
    boost::json::parser parser(boost::json::storage_ptr(), boost::json::parse_options(), parserStack);
    unsigned char documentStack[2048];
    boost::json::monotonic_resource documentMemory(documentStack);
    std::optional<std::string> topic(std::in_place);
    std::size_t offset = 0;
    for (const auto& sizes : decoding_.sizes) {
        const std::string_view bytes(decoding_.text.data() + offset, sizes.message);
        topic->assign(decoding_.text, offset + sizes.message, sizes.topic);
        offset += sizes.message + sizes.topic;
        parser.reset();
        documentMemory.release();
        parser.reset(boost::json::storage_ptr(&documentMemory));
        decodeMessage(parser, bytes, topic);
    }
    // A rare large burst leaves no lasting footprint.
    constexpr std::size_t kKeptCapacity = 1 << 20;
    if (decoding_.text.capacity() > kKeptCapacity) decoding_ = {};
}

void CVLiveDataManager::decodeMessage(boost::json::parser& parser, std::string_view bytes,
                                      const std::optional<std::string>& topic) {
    boost::system::error_code parseError;
    parser.write(bytes.data(), bytes.size(), parseError);
    const auto value = parseError ? boost::json::value() : parser.release();
    if (parseError || !value.is_object()) {
        const auto error = live_data_manager::jsonReadingError(parseError ? parseError.message() : "not a JSON object");
        CVLog::core().debug("Failed decoding message - " + error.localizedDescription());
        if (auto delegate = this->delegate()) delegate->onError(error);
        return;
    }
    auto update = CVLiveUpdate::liveUpdateWithDictionary(value.get_object(), topic);
    if (!update) return;
    CVLog::core().debug("Got Live Update with domainType " + update->topic.domainType.value_or(""));
    handleOnUpdateQueue(std::move(update));
}

void CVLiveDataManager::handleOnUpdateQueue(std::shared_ptr<const CVLiveUpdate> liveUpdate) {
    bool nothingPending = false;
    {
        const std::lock_guard lock(topicsMutex_);
        nothingPending = pendingLiveUpdates_.empty();
        if (!nothingPending || state() != CVLiveDataManagerState::connected) {
            pendingLiveUpdates_.push_back(std::move(liveUpdate));
        }
    }
    if (liveUpdate) {
        deliver(liveUpdate);
        return;
    }
    deliverPendingOnUpdateQueue();
}

void CVLiveDataManager::deliverPendingLiveUpdates() {
    updateQueue_.async([self = shared_from_this()] { self->deliverPendingOnUpdateQueue(); });
}

void CVLiveDataManager::deliverPendingOnUpdateQueue() {
    if (state() != CVLiveDataManagerState::connected) return;
    std::vector<std::shared_ptr<const CVLiveUpdate>> pending;
    {
        const std::lock_guard lock(topicsMutex_);
        pending.swap(pendingLiveUpdates_);
    }
    if (pending.empty()) return;
    std::stable_sort(pending.begin(), pending.end(),
                     [](const auto& lhs, const auto& rhs) { return lhs->timestampText < rhs->timestampText; });
    for (auto next = pending.begin(); next != pending.end(); ++next) {
        if (state() != CVLiveDataManagerState::connected) {
            // Back in front of anything handed in meanwhile, in their sorted order.
            const std::lock_guard lock(topicsMutex_);
            pendingLiveUpdates_.insert(pendingLiveUpdates_.begin(), next, pending.end());
            return;
        }
        deliver(*next);
    }
}

void CVLiveDataManager::deliver(const std::shared_ptr<const CVLiveUpdate>& liveUpdate) {
    if (auto delegate = this->delegate()) delegate->didReceiveWithLiveUpdate(liveUpdate);
    notifyVenueLocationSources(liveUpdate);
}

void CVLiveDataManager::notifyVenueLocationSources(std::shared_ptr<const CVLiveUpdate> liveUpdate) {
    auto service = AmbrellInternal::shared()->locationService();
    if (!service) return;
    platform::Task::start(
        [service = std::move(service), liveUpdate = std::move(liveUpdate)]() -> platform::Awaitable<void> {
            const auto sources = co_await service->locationSources();
            for (const auto& source : sources) {
                if (auto venueSource = std::dynamic_pointer_cast<CVVenueLocationSource>(source)) {
                    platform::Task::start([venueSource, liveUpdate] { return venueSource->notify(liveUpdate); });
                }
            }
        });
}

void CVLiveDataManager::observeLocationService() {
    auto service = AmbrellInternal::shared()->locationService();
    if (!service) return;
    {
        // One entry per location service: each would be told of every update.
        const std::lock_guard lock(mutex_);
        if (observedLocationService_.lock() == service) return;
        observedLocationService_ = service;
    }
    platform::Task::start(
        [service = std::move(service), self = shared_from_this()] { return service->addObserver(self); });
}

void CVLiveDataManager::onLocationsUpdate(const std::vector<std::shared_ptr<CVLocation>>& /*locations*/,
                                          const std::shared_ptr<CVLocationSource>& /*source*/) {}

void CVLiveDataManager::onLocationsDelete(const std::vector<std::string>& /*locationIds*/,
                                          const std::shared_ptr<CVLocationSource>& /*source*/) {}

void CVLiveDataManager::onStatusChange(CVLocationSourceStatus status,
                                       const std::shared_ptr<CVLocationSource>& /*source*/) {
    if (status == CVLocationSourceStatus::available) updateSubscriptions();
}

}  // namespace ambrell
