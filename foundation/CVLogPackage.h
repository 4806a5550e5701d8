#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/CVLogEntry.h"

namespace ambrell {

// The device and the logging session a log package was recorded in.
struct CVLogSessionData {
    using Date = std::chrono::system_clock::time_point;

    std::string component;
    std::string componentVersion;
    std::string deviceBrand = "apple";
    // The machine field of uname; "" when it is not valid UTF-8.
    std::string deviceModel;
    // The system's name and release as uname reports them.
    std::string deviceOS;
    std::string deviceOSVersion;
    // The product name the firmware reports (DMI), or the system's name when
    // there is none.
    std::string deviceType;
    // Never filled: written as the text "null".
    std::optional<std::string> deviceUserAgent;
    std::string hostApplicationName;
    std::string sessionId;
    Date sessionStartDate;

    // Fills the device fields from the running system.
    CVLogSessionData(std::string sessionId, Date sessionStartDate, std::string component, std::string componentVersion);

    // Eleven texts; dates in UTC ISO 8601 with milliseconds.
    [[nodiscard]] boost::json::object dictionary() const;

    // The host application's identifier ("com.example.app"), which the
    // platform has no place for: the host sets it. Until then, and after it is
    // set to none, packages name "com.ambrell.default".
    static void setHostApplicationIdentifier(std::optional<std::string> identifier);
    [[nodiscard]] static std::optional<std::string> hostApplicationIdentifier();
};

// The usage events recorded under one API key, as one upload.
class CVLogPackage {
public:
    using Bytes = std::vector<std::uint8_t>;

    // Makes a new package id and the session data.
    CVLogPackage(std::string apiKey, std::string sessionId, CVLogSessionData::Date sessionStartDate,
                 std::vector<CVLogEntry> entries, std::string component, std::string componentVersion);

    [[nodiscard]] const std::string& apiKey() const { return apiKey_; }
    [[nodiscard]] const std::vector<CVLogEntry>& entries() const { return entries_; }
    // A random UUID, upper case.
    [[nodiscard]] const std::string& packageId() const { return packageId_; }
    [[nodiscard]] const CVLogSessionData& sessionData() const { return sessionData_; }

    // "<key>|<package id>": the package's file name in the log folder, and
    // how a file's owner is told (see filenameKeyForApiKey).
    [[nodiscard]] const std::string& filename() const { return filename_; }

    // The compact JSON document {"apiKey", "sessionData", "entries"}; none
    // (after logging) when a text in it is not valid UTF-8.
    [[nodiscard]] std::optional<Bytes> jsonData() const;

    // The API key as the start of a package file name. Ordinary keys stay as
    // they are; a key must never move a file out of the log folder nor pass
    // for another key, so "%", "/", "|", control characters and a leading
    // "." are percent-encoded, and an encoding longer than a file name allows
    // is shortened and suffixed with a hash of the whole key.
    [[nodiscard]] static std::string filenameKeyForApiKey(std::string_view apiKey);
    // Whether a package file (a name or a path: only its last component
    // counts) belongs to the key: its text before the first "|" is the key's
    // file-name form.
    [[nodiscard]] static bool isPackageFileOfApiKey(std::string_view pathOrFilename, std::string_view apiKey);

private:
    std::string apiKey_;
    std::vector<CVLogEntry> entries_;
    std::string packageId_;
    CVLogSessionData sessionData_;
    std::string filename_;
};

}  // namespace ambrell
