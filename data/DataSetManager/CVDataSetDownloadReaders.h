#pragma once

#include <memory>
#include <string_view>

#include "foundation/StoredCopyRefresh.h"

namespace ambrell {

class CVTilePackageStaging;

// How a data set's download must read before it may replace the stored copy:
// the way the next start reads that copy. An error page answered with 200 (a
// proxy's login page) or a body cut short would otherwise replace a good
// copy, and the next start without network would find nothing to show.
class CVDataSetDownloadReaders {
public:
    CVDataSetDownloadReaders() = delete;

    // The reader of one URL of a resource group ("json", "images", ...): a
    // sync document as its provider parses it (graph and route layer, read
    // by the routing layer above this one, as JSON arrays), an image as the
    // image provider decodes it or, in a format recognised but not decoded
    // here (SVG, AVIF, ...), by its signature alone. None, so that every
    // answer lands, for what is not known here; the tile package reads
    // through forTilePackage.
    [[nodiscard]] static IncomingReader forResource(std::string_view groupType, std::string_view url);

    // The tile package: it reads once every entry is unpacked into `staging`,
    // where the tiles wait for the package to land.
    [[nodiscard]] static IncomingReader forTilePackage(std::shared_ptr<CVTilePackageStaging> staging);

    // The data set's description (the "dataset" sync document): a JSON object,
    // as the data set reads it.
    [[nodiscard]] static IncomingReader forDescription();
};

}  // namespace ambrell
