#include "Ambrell/ErrorObjects.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>
#include <tuple>

#include "Ambrell/CVError.h"
#include "platform/NSErrorException.h"

namespace ambrell {
namespace {

TEST(ErrorObjects, EachKindOfErrorGetsItsDomainCodeAndDescription) {
    const auto given = errorWithDescription("NSURLErrorDomain", -1001, "The request timed out.");
    EXPECT_EQ(given, (platform::NSError{"NSURLErrorDomain", -1001, {{"NSLocalizedDescription", "The request timed out."}}}));
    EXPECT_EQ(errorObjectFor(std::make_exception_ptr(platform::NSErrorException(given))), given);

    const auto cvError = errorObjectFor(std::make_exception_ptr(CVError(CVErrorCase::requestFailed)));
    EXPECT_EQ(std::tie(cvError.domain, cvError.code), std::tuple("Ambrell.CVError", 6));
    EXPECT_EQ(cvError.localizedDescription(), CVError(CVErrorCase::requestFailed).what());

    const auto cancelled = errorObjectFor(std::make_exception_ptr(platform::CancellationError()));
    EXPECT_EQ(std::tie(cancelled.domain, cancelled.code), std::tuple("Swift.CancellationError", 1));

    const auto other = errorObjectFor(std::make_exception_ptr(std::runtime_error("broken")));
    EXPECT_EQ(other, errorWithDescription(std::string(kAmbrellErrorDomain), -1, "broken"));
    EXPECT_EQ(errorObjectFor(std::make_exception_ptr(42)),
              errorWithDescription(std::string(kAmbrellErrorDomain), -1, "Unknown error"));
    EXPECT_EQ(errorObjectFor(nullptr), errorWithDescription(std::string(kAmbrellErrorDomain), -1, "No error"));
}

TEST(ErrorObjects, FileSystemErrorsAndDescriptions) {
    const auto error = fileSystemError(std::make_error_code(std::errc::no_such_file_or_directory));
    EXPECT_EQ(error.domain, "NSPOSIXErrorDomain");
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_EQ(errorDescription(error),
              "Error Domain=NSPOSIXErrorDomain Code=" + std::to_string(ENOENT) + " \"No such file or directory\"");
}

}  // namespace
}  // namespace ambrell
