#include "routing/IncomingDownload.h"

#include <string>

#include "platform/FileSystem.h"
#include "platform/UUID.h"

namespace ambrell {

namespace fs = std::filesystem;

fs::path incomingFileFor(const fs::path& stored) {
    // Shortened, so that the name stays within the file system's limit.
    const auto name = stored.filename().native().substr(0, 100);
    return stored.parent_path() / ("." + name + ".incoming-" + platform::UUID::random().uuidString());
}

std::error_code acceptIncomingFile(const fs::path& stored, const fs::path& incoming) {
    auto error = platform::replaceItem(stored, incoming);
    if (error) discardIncomingFile(incoming);
    return error;
}

void discardIncomingFile(const fs::path& incoming) {
    std::error_code ignored;
    fs::remove(incoming, ignored);
}

}  // namespace ambrell
