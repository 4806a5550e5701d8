#include "Ambrell/CVSubscription.h"

#include <functional>

namespace ambrell {
namespace cv_subscription {
namespace {

// A value that would change what the topic matches stands for nothing.
std::string topicLevel(const std::optional<std::string>& value) {
    if (!value) return "+";
    if (value->find_first_of("/+#") != std::string::npos || value->empty()) return "!invalid";
    return *value;
}

bool isUnreserved(unsigned char character) {
    return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z') ||
           (character >= '0' && character <= '9') || character == '-' || character == '.' || character == '_' ||
           character == '~';
}

}  // namespace
}  // namespace cv_subscription

std::string CVLiveTopic::topicStringUrlEscaped() const {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    const std::string topic = topicString();
    std::string escaped;
    escaped.reserve(topic.size() * 3);
    for (const char signedCharacter : topic) {
        const auto character = static_cast<unsigned char>(signedCharacter);
        if (cv_subscription::isUnreserved(character)) {
            escaped += signedCharacter;
        } else {
            escaped += '%';
            escaped += kHexDigits[character >> 4];
            escaped += kHexDigits[character & 0x0F];
        }
    }
    return escaped;
}

std::size_t CVLiveTopicHash::operator()(const std::shared_ptr<const CVLiveTopic>& topic) const {
    return topic ? std::hash<std::string>{}(topic->topicString()) : 0;
}

bool CVLiveTopicEqual::operator()(const std::shared_ptr<const CVLiveTopic>& lhs,
                                  const std::shared_ptr<const CVLiveTopic>& rhs) const {
    if (!lhs || !rhs) return lhs == rhs;
    return lhs->topicString() == rhs->topicString();
}

CVLiveTopicCriteria CVLiveTopicCriteria::floorId(std::string floorId) const {
    CVLiveTopicCriteria copy = *this;
    copy.floorId_ = std::move(floorId);
    return copy;
}

CVLiveTopicCriteria CVLiveTopicCriteria::locationId(std::string locationId) const {
    CVLiveTopicCriteria copy = *this;
    copy.locationId_ = std::move(locationId);
    return copy;
}

CVLiveTopicCriteria CVLiveTopicCriteria::datasetId(std::string datasetId) const {
    CVLiveTopicCriteria copy = *this;
    copy.datasetId_ = std::move(datasetId);
    return copy;
}

std::string CVLiveTopicCriteria::topicString() const {
    return cv_subscription::topicLevel(datasetId_) + "/" + cv_subscription::topicLevel(floorId_) + "/" +
           cv_subscription::topicLevel(locationId_) + "/" + cv_subscription::topicLevel(domainType_);
}

}  // namespace ambrell
