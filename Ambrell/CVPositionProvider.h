#pragma once

namespace ambrell {

// The host's source of the user's position, handed to the SDK and kept by the
// content layer's core state.
class CVPositionProvider {
public:
    virtual ~CVPositionProvider() = default;
};

}  // namespace ambrell
