#pragma once

// A model with one declaration mistake, compiled only by the declaration-mistake
// tests (through a source the build writes, which defines the mistake), which
// pass when the build stops with the mapping's message: a member of a type the
// mapping cannot read, not opted out.

#include <memory>
#include <vector>

#include "jsonmodel/JSONModel/JSONModel.h"
#include "jsonmodel/JSONModel/JSONModelDeclaration.h"

namespace ambrell::test {

// Has no mapping of its own.
struct Beacon {
    int major = 0;
};

struct BeaconSite : JSONModelOf<BeaconSite> {
#if defined(AMBRELL_MISTAKE_COLLECTION)
    std::vector<Beacon> beacons;
#else
    std::shared_ptr<Beacon> beacon;
#endif
};
#if defined(AMBRELL_MISTAKE_COLLECTION)
BOOST_DESCRIBE_STRUCT(BeaconSite, (JSONModel), (beacons))
#else
BOOST_DESCRIBE_STRUCT(BeaconSite, (JSONModel), (beacon))
#endif

}  // namespace ambrell::test

AMBRELL_JSON_MODEL_DEFINE(ambrell::test::BeaconSite)
