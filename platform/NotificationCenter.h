#pragma once

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace ambrell::platform {

// A notification's name. A strong type so that a name is never confused with
// other texts passed alongside it.
struct NotificationName {
    std::string value;

    friend bool operator==(const NotificationName&, const NotificationName&) = default;
    friend auto operator<=>(const NotificationName&, const NotificationName&) = default;
};

struct Notification {
    NotificationName name;
    std::any object;  // the sender, if any
    std::map<std::string, std::any> userInfo;
};

// Name-to-observers registry. Delivery is synchronous, on the posting thread,
// in registration order. Once removeObserver() returns (or the token is
// destroyed), the observer's block is never called again: a removal from
// another thread waits for a delivery in flight to that observer to finish.
// A block may remove its own observer, or others, while it runs.
class NotificationCenter {
public:
    using Block = std::function<void(const Notification&)>;

    class ObserverToken {
    public:
        ObserverToken() = default;
        ObserverToken(ObserverToken&&) noexcept;
        ObserverToken& operator=(ObserverToken&&) noexcept;
        ObserverToken(const ObserverToken&) = delete;
        ObserverToken& operator=(const ObserverToken&) = delete;
        ~ObserverToken();

        // Removes the observer; a token that holds none does nothing.
        void reset();
        [[nodiscard]] bool isActive() const;

    private:
        friend class NotificationCenter;
        struct Registration;
        struct Registry;
        ObserverToken(std::weak_ptr<Registry> registry, std::shared_ptr<Registration> registration);

        std::weak_ptr<Registry> registry_;
        std::shared_ptr<Registration> registration_;
    };

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // The process-wide centre.
    static NotificationCenter& defaultCenter();

    // Observes every notification of the name, whatever its sender.
    [[nodiscard]] ObserverToken addObserver(NotificationName name, Block block);
    void removeObserver(ObserverToken& token);

    void post(const Notification& notification);
    void post(NotificationName name, std::any object = {}, std::map<std::string, std::any> userInfo = {});

private:
    std::shared_ptr<ObserverToken::Registry> registry_;
};

}  // namespace ambrell::platform
