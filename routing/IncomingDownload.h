#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "foundation/CVDataProvider.h"

namespace ambrell {

// A refresh of a stored document downloads beside the stored copy and puts the
// download in its place only once it reads as the document it should be: an
// answer that does not (an error page, a proxy's login page, an object of
// another kind) must not cost the copy that the next start without network
// depends on.

// Downloads `url` into a file of its own beside the stored copy (refreshes
// that overlap never share one, and the download replaces the copy by a
// rename), asked for as of the stored copy's date. The completion gets that
// file, for the caller to accept or discard once it has read it.
void downloadBesideStoredCopy(std::string url, const std::filesystem::path& stored,
                              CVDataProvider::FileCompletion completion);

// Puts a download that read in the stored copy's place, its dates and
// attributes with it. On failure the download is removed and the stored copy
// is left as it was.
[[nodiscard]] std::error_code acceptIncomingFile(const std::filesystem::path& stored,
                                                 const std::filesystem::path& incoming);

void discardIncomingFile(const std::filesystem::path& incoming);

}  // namespace ambrell
