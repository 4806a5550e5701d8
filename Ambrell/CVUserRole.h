#pragma once

#include <string>

namespace ambrell {

// A user role the host can apply; its id restricts which locations are synced.
struct CVUserRole {
    std::string userRoleId;
    std::string name;

    friend bool operator==(const CVUserRole&, const CVUserRole&) = default;
};

}  // namespace ambrell
