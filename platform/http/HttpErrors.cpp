#include "platform/http/HttpErrors.h"

#include <curl/curl.h>

#include <cerrno>

namespace ambrell::platform {

std::int64_t urlErrorCode(int curlCode, int osErrno) {
    switch (static_cast<CURLcode>(curlCode)) {
        case CURLE_UNSUPPORTED_PROTOCOL: return NSURLErrorUnsupportedURL;
        case CURLE_URL_MALFORMAT: return NSURLErrorBadURL;
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST: return NSURLErrorCannotFindHost;
        case CURLE_COULDNT_CONNECT:
            if (osErrno == ENETUNREACH || osErrno == ENETDOWN) return NSURLErrorNotConnectedToInternet;
            return NSURLErrorCannotConnectToHost;
        case CURLE_OPERATION_TIMEDOUT: return NSURLErrorTimedOut;
        // The peer went away: before answering, in the middle of an answer,
        // or while the request was still being sent.
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_FAIL_REWIND:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_HTTP3: return NSURLErrorNetworkConnectionLost;
        case CURLE_WEIRD_SERVER_REPLY: return NSURLErrorBadServerResponse;
        case CURLE_TOO_MANY_REDIRECTS: return NSURLErrorHTTPTooManyRedirects;
        case CURLE_BAD_CONTENT_ENCODING: return NSURLErrorCannotDecodeContentData;
        case CURLE_FILESIZE_EXCEEDED: return NSURLErrorDataLengthExceedsMaximum;
        case CURLE_WRITE_ERROR: return NSURLErrorCannotWriteToFile;
        case CURLE_ABORTED_BY_CALLBACK: return NSURLErrorCancelled;
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_ISSUER_ERROR: return NSURLErrorServerCertificateUntrusted;
        case CURLE_SSL_CLIENTCERT: return NSURLErrorClientCertificateRequired;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_SHUTDOWN_FAILED: return NSURLErrorSecureConnectionFailed;
        default: return NSURLErrorUnknown;
    }
}

NSError makeURLError(std::int64_t code, std::string description, std::string_view failingUrl) {
    NSError error{std::string(NSURLErrorDomain), code, {}};
    error.userInfo.emplace(std::string(NSLocalizedDescriptionKey), std::move(description));
    error.userInfo.emplace(std::string(NSErrorFailingURLStringKey), std::string(failingUrl));
    return error;
}

}  // namespace ambrell::platform
