#pragma once

#include <filesystem>
#include <system_error>

namespace ambrell {

// A refresh of a stored document downloads beside the stored copy and puts the
// download in its place only once it reads as the document it should be: an
// answer that does not (an error page, a proxy's login page, an object of
// another kind) must not cost the copy that the next start without network
// depends on.

// A file of its own beside the stored copy, so that refreshes that overlap
// never share one and the download replaces the copy by a rename.
[[nodiscard]] std::filesystem::path incomingFileFor(const std::filesystem::path& stored);

// Puts a download that read in the stored copy's place, its dates and
// attributes with it. On failure the download is removed and the stored copy
// is left as it was.
[[nodiscard]] std::error_code acceptIncomingFile(const std::filesystem::path& stored,
                                                 const std::filesystem::path& incoming);

void discardIncomingFile(const std::filesystem::path& incoming);

}  // namespace ambrell
