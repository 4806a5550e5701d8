#include "Ambrell/ErrorObjects.h"

#include "Ambrell/CVError.h"
#include "platform/NSErrorException.h"

namespace ambrell {

using platform::NSError;

namespace {
NSError withDescription(std::string domain, std::int64_t code, std::string description) {
    NSError error{std::move(domain), code, {}};
    error.userInfo.emplace(std::string(platform::NSLocalizedDescriptionKey), std::move(description));
    return error;
}
}  // namespace

NSError errorObjectFor(const std::exception_ptr& error) {
    if (!error) return withDescription("com.corvay.Ambrell", -1, "No error");
    try {
        std::rethrow_exception(error);
    } catch (const platform::NSErrorException& e) {
        return e.error();
    } catch (const CVError& e) {
        return withDescription("Ambrell.CVError", e.rawValue(), e.what());
    } catch (const platform::CancellationError& e) {
        return withDescription("Swift.CancellationError", 1, e.what());
    } catch (const std::exception& e) {
        return withDescription("com.corvay.Ambrell", -1, e.what());
    } catch (...) {
        return withDescription("com.corvay.Ambrell", -1, "Unknown error");
    }
}

NSError fileSystemError(const std::error_code& error) {
    return withDescription("NSPOSIXErrorDomain", error.value(), error.message());
}

std::string errorDescription(const NSError& error) {
    return "Error Domain=" + error.domain + " Code=" + std::to_string(error.code) + " \"" +
           error.localizedDescription() + "\"";
}

}  // namespace ambrell
