#include "foundation/CVLogPackage.h"

#include <sys/utsname.h>

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <mutex>

#include "Ambrell/CVLog.h"
#include "foundation/CVInternalStringUtils.h"
#include "foundation/CVPercentEncoding.h"
#include "foundation/DateFormats.h"
#include "platform/FileSystem.h"
#include "platform/TextEncoding.h"
#include "platform/UUID.h"

namespace ambrell {

namespace {

constexpr std::string_view kDefaultHostApplicationName = "com.ambrell.default";
// Leaves room below the usual 255-byte name limit for "|", the package id and
// the temporary suffix of an atomic write.
constexpr std::size_t kMaxFilenameKeyLength = 160;

struct DeviceInfo {
    std::string model;
    std::string os;
    std::string osVersion;
    std::string type;
};

std::string validOrEmpty(std::string text) { return platform::isValidUTF8(text) ? text : std::string(); }

std::string trimmed(std::string text) {
    const auto isSpace = [](char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; };
    while (!text.empty() && isSpace(text.back())) text.pop_back();
    std::size_t start = 0;
    while (start < text.size() && isSpace(text[start])) ++start;
    return text.substr(start);
}

const DeviceInfo& deviceInfo() {
    static const DeviceInfo info = [] {
        DeviceInfo result;
        utsname names{};
        if (::uname(&names) == 0) {
            result.model = validOrEmpty(names.machine);
            result.os = validOrEmpty(names.sysname);
            result.osVersion = validOrEmpty(names.release);
        }
        auto product = platform::readTextFile("/sys/devices/virtual/dmi/id/product_name");
        result.type = product ? validOrEmpty(trimmed(std::move(*product))) : std::string();
        if (result.type.empty()) result.type = result.os;
        return result;
    }();
    return info;
}

std::mutex hostIdentifierMutex;
std::optional<std::string> hostIdentifier;

bool allTextsValid(const boost::json::value& value) {
    switch (value.kind()) {
        case boost::json::kind::string: {
            const auto& text = value.get_string();
            return platform::isValidUTF8(std::string_view(text.data(), text.size()));
        }
        case boost::json::kind::array:
            for (const auto& element : value.get_array()) {
                if (!allTextsValid(element)) return false;
            }
            return true;
        case boost::json::kind::object:
            for (const auto& member : value.get_object()) {
                if (!platform::isValidUTF8(std::string_view(member.key().data(), member.key().size()))) return false;
                if (!allTextsValid(member.value())) return false;
            }
            return true;
        default: return true;
    }
}

std::string_view lastPathComponent(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

CVLogSessionData::CVLogSessionData(std::string sessionId, Date sessionStartDate, std::string component,
                                   std::string componentVersion)
    : component(std::move(component)),
      componentVersion(std::move(componentVersion)),
      deviceModel(deviceInfo().model),
      deviceOS(deviceInfo().os),
      deviceOSVersion(deviceInfo().osVersion),
      deviceType(deviceInfo().type),
      hostApplicationName(hostApplicationIdentifier().value_or(std::string(kDefaultHostApplicationName))),
      sessionId(std::move(sessionId)),
      sessionStartDate(sessionStartDate) {}

boost::json::object CVLogSessionData::dictionary() const {
    boost::json::object session;
    session["sessionId"] = sessionId;
    session["sessionStartDate"] = cv_asUtcIso8601(sessionStartDate);
    session["deviceBrand"] = deviceBrand;
    session["deviceModel"] = deviceModel;
    session["deviceType"] = deviceType;
    session["deviceUserAgent"] = deviceUserAgent.value_or("null");
    session["deviceOS"] = deviceOS;
    session["deviceOSVersion"] = deviceOSVersion;
    session["component"] = component;
    session["componentVersion"] = componentVersion;
    session["hostApplicationName"] = hostApplicationName;
    return session;
}

void CVLogSessionData::setHostApplicationIdentifier(std::optional<std::string> identifier) {
    if (identifier && identifier->empty()) identifier.reset();
    std::lock_guard lock(hostIdentifierMutex);
    hostIdentifier = std::move(identifier);
}

std::optional<std::string> CVLogSessionData::hostApplicationIdentifier() {
    std::lock_guard lock(hostIdentifierMutex);
    return hostIdentifier;
}

CVLogPackage::CVLogPackage(std::string apiKey, std::string sessionId, CVLogSessionData::Date sessionStartDate,
                           std::vector<CVLogEntry> entries, std::string component, std::string componentVersion)
    : apiKey_(std::move(apiKey)),
      entries_(std::move(entries)),
      packageId_(platform::UUID::random().uuidString()),
      sessionData_(std::move(sessionId), sessionStartDate, std::move(component), std::move(componentVersion)),
      filename_(filenameKeyForApiKey(apiKey_) + "|" + packageId_) {}

std::optional<CVLogPackage::Bytes> CVLogPackage::jsonData() const {
    boost::json::array entryArray;
    entryArray.reserve(entries_.size());
    for (const auto& entry : entries_) entryArray.emplace_back(entry.dictionary());

    boost::json::value document = boost::json::object{
        {"apiKey", apiKey_},
        {"sessionData", sessionData_.dictionary()},
        {"entries", std::move(entryArray)},
    };
    // The serialiser would copy broken bytes into the document as they are,
    // which the web service could not read.
    if (!allTextsValid(document)) {
        CVLog::core().error("CVLogPackage {} holds text that is not valid UTF-8; it is not serialised", packageId_);
        return std::nullopt;
    }
    const std::string text = boost::json::serialize(document);
    return Bytes(text.begin(), text.end());
}

std::string CVLogPackage::filenameKeyForApiKey(std::string_view apiKey) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string key;
    key.reserve(apiKey.size());
    for (std::size_t i = 0; i < apiKey.size(); ++i) {
        const auto c = static_cast<unsigned char>(apiKey[i]);
        const bool encode = c == '%' || c == '/' || c == '|' || c < 0x20 || c == 0x7F || (i == 0 && c == '.');
        if (encode) {
            appendPercentEscaped(key, c);
        } else {
            key += static_cast<char>(c);
        }
    }
    if (key.size() > kMaxFilenameKeyLength) {
        std::string shortened = key.substr(0, kMaxFilenameKeyLength - 17);
        shortened += '~';
        const std::uint64_t hash = CVInternalStringUtils::fnv1a64(apiKey);
        for (int shift = 60; shift >= 0; shift -= 4) shortened += kHex[(hash >> shift) & 0x0F];
        key = std::move(shortened);
    }
    return key;
}

bool CVLogPackage::isPackageFileOfApiKey(std::string_view pathOrFilename, std::string_view apiKey) {
    const std::string_view name = lastPathComponent(pathOrFilename);
    const auto bar = name.find('|');
    if (bar == std::string_view::npos) return false;
    return name.substr(0, bar) == filenameKeyForApiKey(apiKey);
}

}  // namespace ambrell
