#pragma once

#include <memory>

namespace ambrell {

// Holds an object without keeping it alive; observer lists are kept as
// vectors of these so that an observer going away needs no unregistration.
template <typename T>
class CVWeakRef {
public:
    CVWeakRef() = default;
    explicit CVWeakRef(const std::shared_ptr<T>& object) : value_(object) {}

    // The object while it lives, null afterwards.
    [[nodiscard]] std::shared_ptr<T> value() const { return value_.lock(); }

private:
    std::weak_ptr<T> value_;
};

}  // namespace ambrell
