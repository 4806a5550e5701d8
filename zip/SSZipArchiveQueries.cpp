#include <algorithm>
#include <array>

#include "zip/SSZipArchive.h"
#include "zip/ZipArchiveReader.h"
#include "zip/ZipErrors.h"
#include "zip/ZipFormat.h"
#include "zip/ZipResultCodes.h"

namespace ambrell {

namespace {

void setError(SSZipArchiveErrorOut error, std::int64_t code, const std::string& message) {
    if (error) *error = zipio::zipArchiveError(code, message);
}

std::optional<std::string_view> passwordIfAny(const std::string& password) {
    if (password.empty()) return std::nullopt;
    return std::string_view(password);
}

}  // namespace

bool SSZipArchive::isFilePasswordProtectedAtPath(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    auto archive = zipio::ZipArchiveReader::open(std::filesystem::path(path));
    if (!archive) return false;
    for (int result = archive->goToFirstEntry(); result == zipio::kResultOk; result = archive->goToNextEntry()) {
        if (archive->openCurrentEntry(std::nullopt) != zipio::kResultOk) {
            const int second = archive->openCurrentEntry(std::string_view());
            archive->closeCurrentEntry();
            return second == zipio::kResultOk || second == zipio::kResultPasswordError;
        }
        zipio::ZipArchiveReader::Entry entry;
        const int info = archive->currentEntry(entry);
        archive->closeCurrentEntry();
        if (info != zipio::kResultOk) return false;
        if (entry.info.flag & zipformat::kFlagEncrypted) return true;
    }
    return false;
}

bool SSZipArchive::isPasswordValidForArchiveAtPath(const std::string& path, const std::string& password,
                                                   SSZipArchiveErrorOut error) {
    if (error) error->reset();
    auto archive = path.empty() || path.find('\0') != std::string::npos
                       ? nullptr
                       : zipio::ZipArchiveReader::open(std::filesystem::path(path));
    if (!archive) {
        setError(error, -1, "failed to open zip file");
        return false;
    }
    int result = archive->goToFirstEntry();
    if (result == zipio::kResultEndOfList) return true;
    for (; result == zipio::kResultOk; result = archive->goToNextEntry()) {
        const int opened = archive->openCurrentEntry(passwordIfAny(password));
        if (opened != zipio::kResultOk) {
            if (opened != zipio::kResultPasswordError) setError(error, -2, "failed to open file in zip archive");
            return false;
        }
        zipio::ZipArchiveReader::Entry entry;
        if (archive->currentEntry(entry) != zipio::kResultOk) {
            setError(error, -3, "failed to retrieve info for file");
            return false;
        }
        if (entry.info.flag & zipformat::kFlagEncrypted) {
            std::array<std::uint8_t, 10> buffer{};
            const auto wanted =
                static_cast<unsigned>(std::min<std::uint64_t>(buffer.size(), entry.info.uncompressed_size));
            const int read = archive->readCurrentEntry(buffer.data(), wanted);
            archive->closeCurrentEntry();
            if (read < 0) {
                // A data error is what a wrong password usually looks like.
                if (read != zipio::kResultDataError) setError(error, -4, "failed to read contents of file entry");
                return false;
            }
            return true;
        }
        archive->closeCurrentEntry();
    }
    if (result != zipio::kResultEndOfList) {
        setError(error, -3, "failed to retrieve info for file");
        return false;
    }
    return true;
}

std::uint64_t SSZipArchive::payloadSizeForArchiveAtPath(const std::string& path, SSZipArchiveErrorOut error) {
    if (error) error->reset();
    auto archive = path.empty() || path.find('\0') != std::string::npos
                       ? nullptr
                       : zipio::ZipArchiveReader::open(std::filesystem::path(path));
    if (!archive) {
        setError(error, -1, "failed to open zip file");
        return 0;
    }
    std::uint64_t total = 0;
    for (int result = archive->goToFirstEntry(); result == zipio::kResultOk; result = archive->goToNextEntry()) {
        if (archive->openCurrentEntry(std::nullopt) != zipio::kResultOk) {
            setError(error, -2, "failed to open file in zip archive");
            break;
        }
        zipio::ZipArchiveReader::Entry entry;
        if (archive->currentEntry(entry) != zipio::kResultOk) {
            setError(error, -3, "failed to retrieve info for file");
            break;
        }
        total += entry.info.uncompressed_size;
        archive->closeCurrentEntry();
    }
    archive->close();
    return total;
}

}  // namespace ambrell
