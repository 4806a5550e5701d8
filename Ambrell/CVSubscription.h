#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "Ambrell/CVLiveUpdate.h"
#include "platform/Error.h"

// Live-data topics and the client that subscribes them at the broker.
//
// Topic strings are MQTT topics of four levels:
//
//     <datasetId>/<floorId>/<locationId>/<domainType>
//
// An update is published on the full topic of its item: the data set of the
// solution, the floor the item is on, the item's location id and the update's
// domain type (say "3f1c.../floor-12/desk-7/occupancy"). A criteria object
// leaves out what it does not narrow by: a level it has no value for is the
// single-level wildcard "+", so a topic by floor id receives every item of the
// floor and one by location id receives that location on any floor. No level
// of a value may hold "/", "+" or "#": such a value would change what the topic
// matches, so it is refused (the level becomes a name that matches nothing
// published by the service).

namespace ambrell {

// The client's connection: raw values are fixed, the live-data manager mirrors them.
enum class CVSubscriptionState : std::int64_t {
    disconnected = 0,
    connecting = 1,
    connected = 2,
    // Passed through by the manager; no client of this library reports it.
    disconnecting = 3,
};

// Anything that can be subscribed at the broker.
class CVSubscriptionTopic {
public:
    virtual ~CVSubscriptionTopic() = default;
    [[nodiscard]] virtual std::string topicString() const = 0;
};

// A live-data topic: what its updates are about, and where to ask for them.
// Equal (and hashed alike) when their topic strings are.
class CVLiveTopic : public CVSubscriptionTopic {
public:
    [[nodiscard]] virtual std::optional<std::string> domainType() const = 0;
    [[nodiscard]] virtual std::string datasetId() const = 0;
    // The topic string as one query value: every character but the unreserved
    // ones (letters, digits, "-", ".", "_", "~") percent-encoded, so "+" and
    // "#" neither turn into spaces nor cut the URL.
    [[nodiscard]] std::string topicStringUrlEscaped() const;
};

// Topics by value, for sets and maps of topics.
struct CVLiveTopicHash {
    std::size_t operator()(const std::shared_ptr<const CVLiveTopic>& topic) const;
};
struct CVLiveTopicEqual {
    bool operator()(const std::shared_ptr<const CVLiveTopic>& lhs, const std::shared_ptr<const CVLiveTopic>& rhs) const;
};

// The topic a map asks for: one domain type, narrowed by floor, location and
// data set. The builders return a narrowed copy.
class CVLiveTopicCriteria final : public CVLiveTopic {
public:
    explicit CVLiveTopicCriteria(std::optional<std::string> domainType) : domainType_(std::move(domainType)) {}

    [[nodiscard]] CVLiveTopicCriteria floorId(std::string floorId) const;
    [[nodiscard]] CVLiveTopicCriteria locationId(std::string locationId) const;
    [[nodiscard]] CVLiveTopicCriteria datasetId(std::string datasetId) const;

    [[nodiscard]] std::string topicString() const override;
    [[nodiscard]] std::optional<std::string> domainType() const override { return domainType_; }
    [[nodiscard]] std::string datasetId() const override { return datasetId_.value_or(""); }
    [[nodiscard]] const std::optional<std::string>& floorIdValue() const { return floorId_; }
    [[nodiscard]] const std::optional<std::string>& locationIdValue() const { return locationId_; }

    friend bool operator==(const CVLiveTopicCriteria& lhs, const CVLiveTopicCriteria& rhs) {
        return lhs.topicString() == rhs.topicString();
    }

private:
    std::optional<std::string> domainType_;
    std::optional<std::string> floorId_;
    std::optional<std::string> locationId_;
    std::optional<std::string> datasetId_;
};

class CVSubscriptionClientDelegate;

// A connection to the live-data broker. Requests return at once; what
// becomes of them reaches the delegate.
class CVSubscriptionClient {
public:
    virtual ~CVSubscriptionClient() = default;

    virtual void connect(bool cleanSession) = 0;
    virtual void disconnect() = 0;
    virtual void subscribe(std::shared_ptr<const CVSubscriptionTopic> topic) = 0;
    virtual void unsubscribe(std::shared_ptr<const CVSubscriptionTopic> topic) = 0;

    [[nodiscard]] virtual CVSubscriptionState state() const = 0;
    [[nodiscard]] virtual std::shared_ptr<CVSubscriptionClientDelegate> delegate() const = 0;
    virtual void setDelegate(std::shared_ptr<CVSubscriptionClientDelegate> delegate) = 0;
};

// What a subscription client reports; called on the client's own queue.
class CVSubscriptionClientDelegate {
public:
    virtual ~CVSubscriptionClientDelegate() = default;

    virtual void didReceiveMessage(std::span<const std::uint8_t> message, const std::string& topic) = 0;
    virtual void didSubscribe(const std::shared_ptr<const CVSubscriptionTopic>& topic) = 0;
    virtual void didUnsubscribe(const std::shared_ptr<const CVSubscriptionTopic>& topic) = 0;
    // A raw CVSubscriptionState value.
    virtual void didUpdateState(std::int64_t state) = 0;
    virtual void onError(const platform::NSError& error) = 0;
    virtual void onSubscriptionError(const platform::NSError& error,
                                     const std::shared_ptr<const CVSubscriptionTopic>& topic) = 0;
    virtual void onUnsubscriptionError(const platform::NSError& error,
                                       const std::shared_ptr<const CVSubscriptionTopic>& topic) = 0;
};

}  // namespace ambrell
