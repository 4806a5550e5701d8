#include "platform/http/HttpErrors.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

namespace ambrell::platform {
namespace {

TEST(HttpErrors, CurlResultsMapToThePlatformsCodes) {
    struct Case {
        CURLcode curl;
        int osErrno;
        std::int64_t expected;
    };
    const std::vector<Case> cases = {
        {CURLE_URL_MALFORMAT, 0, -1000},
        {CURLE_OPERATION_TIMEDOUT, 0, -1001},
        {CURLE_UNSUPPORTED_PROTOCOL, 0, -1002},
        {CURLE_COULDNT_RESOLVE_HOST, 0, -1003},
        {CURLE_COULDNT_RESOLVE_PROXY, 0, -1003},
        {CURLE_COULDNT_CONNECT, ECONNREFUSED, -1004},
        {CURLE_COULDNT_CONNECT, 0, -1004},
        {CURLE_COULDNT_CONNECT, ENETUNREACH, -1009},
        {CURLE_COULDNT_CONNECT, ENETDOWN, -1009},
        {CURLE_GOT_NOTHING, 0, -1005},
        {CURLE_PARTIAL_FILE, 0, -1005},
        {CURLE_RECV_ERROR, ECONNRESET, -1005},
        {CURLE_SEND_ERROR, EPIPE, -1005},
        {CURLE_HTTP2_STREAM, 0, -1005},
        {CURLE_TOO_MANY_REDIRECTS, 0, -1007},
        {CURLE_WEIRD_SERVER_REPLY, 0, -1011},
        {CURLE_BAD_CONTENT_ENCODING, 0, -1016},
        {CURLE_PEER_FAILED_VERIFICATION, 0, -1202},
        {CURLE_SSL_CONNECT_ERROR, 0, -1200},
        {CURLE_SSL_CLIENTCERT, 0, -1206},
        {CURLE_WRITE_ERROR, ENOSPC, -3003},
        {CURLE_ABORTED_BY_CALLBACK, 0, -999},
        {CURLE_OUT_OF_MEMORY, 0, -1},
        {CURLE_FAILED_INIT, 0, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(urlErrorCode(c.curl, c.osErrno), c.expected) << "CURLcode " << c.curl << ", errno " << c.osErrno;
    }
}

TEST(HttpErrors, AnErrorCarriesItsDescriptionAndFailingUrl) {
    const NSError error = makeURLError(NSURLErrorTimedOut, "Operation timed out", "http://example.com/a?b=1");
    EXPECT_EQ(error.domain, "NSURLErrorDomain");
    EXPECT_EQ(error.code, -1001);
    EXPECT_EQ(error.localizedDescription(), "Operation timed out");
    EXPECT_EQ(error.stringForKey("NSErrorFailingURLStringKey"), "http://example.com/a?b=1");
}

}  // namespace
}  // namespace ambrell::platform
