#include "routing/IncomingDownload.h"

#include <string>

#include "foundation/CVExtendedFileAttributes.h"
#include "platform/FileSystem.h"
#include "platform/UUID.h"

namespace ambrell {

namespace fs = std::filesystem;

namespace {

fs::path incomingFileFor(const fs::path& stored) {
    // Shortened, so that the name stays within the file system's limit.
    const auto name = stored.filename().native().substr(0, 100);
    return stored.parent_path() / ("." + name + ".incoming-" + platform::UUID::random().uuidString());
}

}  // namespace

void downloadBesideStoredCopy(std::string url, const fs::path& stored, CVDataProvider::FileCompletion completion) {
    CVDataProvider::downloadContents(std::move(url), incomingFileFor(stored), xattr_lastModified(stored),
                                     std::move(completion));
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
