#include "Ambrell/ErrorObjects.h"

#include "Ambrell/CVError.h"
#include "platform/NSErrorException.h"

namespace ambrell {

using platform::NSError;

NSError errorWithDescription(std::string domain, std::int64_t code, std::string description) {
    NSError error{std::move(domain), code, {}};
    error.userInfo.emplace(std::string(platform::NSLocalizedDescriptionKey), std::move(description));
    return error;
}

NSError errorObjectFor(const std::exception_ptr& error) {
    if (!error) {
        return errorWithDescription(std::string(kAmbrellErrorDomain), AmbrellErrorCode::kUnclassified, "No error");
    }
    try {
        std::rethrow_exception(error);
    } catch (const platform::NSErrorException& e) {
        return e.error();
    } catch (const CVError& e) {
        return errorWithDescription("Ambrell.CVError", e.rawValue(), e.what());
    } catch (const platform::CancellationError& e) {
        return errorWithDescription("Swift.CancellationError", 1, e.what());
    } catch (const std::exception& e) {
        return errorWithDescription(std::string(kAmbrellErrorDomain), AmbrellErrorCode::kUnclassified, e.what());
    } catch (...) {
        return errorWithDescription(std::string(kAmbrellErrorDomain), AmbrellErrorCode::kUnclassified, "Unknown error");
    }
}

NSError fileSystemError(const std::error_code& error) {
    return errorWithDescription("NSPOSIXErrorDomain", error.value(), error.message());
}

std::string errorDescription(const NSError& error) {
    return "Error Domain=" + error.domain + " Code=" + std::to_string(error.code) + " \"" +
           error.localizedDescription() + "\"";
}

}  // namespace ambrell
