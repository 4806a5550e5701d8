#pragma once

#include <memory>

#include "Ambrell/CVPositionResult.h"

namespace ambrell {

// Told of each new fix of a position provider.
class CVPositionProviderDelegate {
public:
    virtual ~CVPositionProviderDelegate() = default;

    virtual void onPositionUpdate(const CVPositionResult& position) = 0;
};

// The host's source of the user's position, handed to the SDK and kept by the
// content layer's core state.
class CVPositionProvider {
public:
    virtual ~CVPositionProvider() = default;

    // Whom to tell of each new fix; held weakly. A provider that never has a
    // fix may leave it.
    virtual void setDelegate(std::weak_ptr<CVPositionProviderDelegate> /*delegate*/) {}
};

}  // namespace ambrell
