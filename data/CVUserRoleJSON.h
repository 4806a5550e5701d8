#pragma once

#include <optional>

#include <boost/json/fwd.hpp>

#include "Ambrell/CVUserRole.h"

namespace ambrell {

// A user role from one element of the "appuserroles" document:
// {"id": "7d1c...", "name": "Staff"}. None unless the value is an object
// with a text "id"; a "name" that is not a text reads as empty.
[[nodiscard]] std::optional<CVUserRole> CVUserRoleFromDictionary(const boost::json::value& dictionary);

}  // namespace ambrell
