#include "platform/http/HttpTypes.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/http/HttpErrors.h"

namespace ambrell::platform {
namespace {

using Strings = std::vector<std::string>;

TEST(HttpErrors, CurlResultsMapToThePlatformsCodes) {
    struct Case {
        CURLcode curl;
        int osErrno;
        std::int64_t expected;
    };
    const Case cases[] = {
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

TEST(HttpHeaders, NamesMatchInAnyCaseAndRepeatedNamesKeepEveryField) {
    HttpHeaders headers;
    headers.add("Authorization", "Bearer token");
    headers.add("X-Other", "1");
    headers.add("authorization", "Basic abc");
    EXPECT_EQ(headers.size(), 3u);
    EXPECT_EQ(headers.value("AUTHORIZATION"), "Bearer token");
    EXPECT_EQ(headers.values("Authorization"), (Strings{"Bearer token", "Basic abc"}));
    EXPECT_EQ(headers.joinedValue("authorization"), "Bearer token, Basic abc");
    EXPECT_EQ((std::vector<HttpHeaderField>(headers.begin(), headers.end())),
              (std::vector<HttpHeaderField>{
                  {"Authorization", "Bearer token"}, {"X-Other", "1"}, {"authorization", "Basic abc"}}));
    EXPECT_FALSE(headers.contains("B"));
    EXPECT_EQ(headers.value("B"), std::nullopt);
    EXPECT_TRUE(headers.values("B").empty());
    EXPECT_EQ(headers.joinedValue("B"), std::nullopt);
    // Set replaces every field of the name, wherever it stood; remove drops them.
    headers.set("AUTHORIZATION", "c");
    EXPECT_EQ(headers.values("Authorization"), Strings{"c"});
    EXPECT_EQ(headers.size(), 2u);
    headers.remove("x-other");
    EXPECT_EQ(headers.size(), 1u);
}

TEST(HttpHeaders, Description) {
    const std::pair<HttpHeaders, std::string> cases[] = {
        {{}, "{}"},
        {{{"Ambrell-SDK-Version", "IOS/1.2.3"}}, R"({"Ambrell-SDK-Version": "IOS/1.2.3"})"},
        {{{"B", "2"}, {"A", ""}, {"B", "3"}}, R"({"B": "2", "A": "", "B": "3"})"},
        {{{"Quote", "say \"hi\"\\"}}, R"({"Quote": "say \"hi\"\\"})"},
        {{{"Control", "a\tb\nc\x01"}}, R"({"Control": "a\tb\nc\u0001"})"},
    };
    for (const auto& [headers, expected] : cases) EXPECT_EQ(headers.description(), expected);
}

TEST(HttpRequest, DefaultsToAGetWithASixtySecondInactivityTimeout) {
    EXPECT_EQ(HttpRequest().method, "GET");
    EXPECT_EQ(HttpRequest().timeout, std::chrono::seconds(60));
}

}  // namespace
}  // namespace ambrell::platform
