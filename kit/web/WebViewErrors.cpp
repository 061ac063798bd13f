#include "kit/web/WebViewErrors.h"

#include "kit/web/WebEngine.h"

#include <curl/curl.h>

namespace kit {

int webErrorForCurlCode(int code)
{
    switch (static_cast<CURLcode>(code)) {
    case CURLE_OK: return WebErrorUnknown;
    case CURLE_UNSUPPORTED_PROTOCOL: return WebErrorUnsupportedURL;
    case CURLE_URL_MALFORMAT: return WebErrorBadURL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST: return WebErrorCannotFindHost;
    case CURLE_COULDNT_CONNECT: return WebErrorCannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT: return WebErrorTimedOut;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM: return WebErrorNetworkConnectionLost;
    case CURLE_TOO_MANY_REDIRECTS: return WebErrorHTTPTooManyRedirects;
    case CURLE_FILESIZE_EXCEEDED:
    case CURLE_WRITE_ERROR: return WebErrorDataLengthExceedsMaximum;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CIPHER:
    case CURLE_USE_SSL_FAILED: return WebErrorSecureConnectionFailed;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH: return WebErrorServerCertificateUntrusted;
    case CURLE_SSL_CERTPROBLEM: return WebErrorServerCertificateHasUnknownRoot;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING: return WebErrorBadServerResponse;
    case CURLE_FILE_COULDNT_READ_FILE: return WebErrorFileDoesNotExist;
    case CURLE_ABORTED_BY_CALLBACK: return WebErrorCancelled;
    default: return WebErrorUnknown;
    }
}

int webErrorForNetError(NetErrorDomain domain, int e)
{
    // Chromium's net error numbers (net_error_list.h).
    switch (e) {
    case -3: return WebErrorCancelled;             // ABORTED
    case -6: return WebErrorFileDoesNotExist;      // FILE_NOT_FOUND
    case -7: return WebErrorTimedOut;              // TIMED_OUT
    case -8: return WebErrorDataLengthExceedsMaximum; // FILE_TOO_BIG
    case -10: return WebErrorCannotOpenFile;       // ACCESS_DENIED
    case -100:                                     // CONNECTION_CLOSED
    case -101:                                     // CONNECTION_RESET
    case -103:                                     // CONNECTION_ABORTED
    case -324:                                     // EMPTY_RESPONSE
    case -354:                                     // CONTENT_LENGTH_MISMATCH
    case -355: return WebErrorNetworkConnectionLost; // INCOMPLETE_CHUNKED_ENCODING
    case -102:                                     // CONNECTION_REFUSED
    case -104:                                     // CONNECTION_FAILED
    case -108:                                     // ADDRESS_INVALID
    case -109: return WebErrorCannotConnectToHost; // ADDRESS_UNREACHABLE
    case -105:                                     // NAME_NOT_RESOLVED
    case -137: return WebErrorCannotFindHost;      // NAME_RESOLUTION_FAILED
    case -106: return WebErrorNotConnectedToInternet; // INTERNET_DISCONNECTED
    case -118: return WebErrorTimedOut;            // CONNECTION_TIMED_OUT
    case -107:                                     // SSL_PROTOCOL_ERROR
    case -113:                                     // SSL_VERSION_OR_CIPHER_MISMATCH
    case -200: return WebErrorSecureConnectionFailed; // CERT_COMMON_NAME_INVALID
    case -201: return WebErrorServerCertificateHasBadDate; // CERT_DATE_INVALID
    case -202: return WebErrorServerCertificateHasUnknownRoot; // CERT_AUTHORITY_INVALID
    case -300: return WebErrorBadURL;              // INVALID_URL
    case -301:                                     // DISALLOWED_URL_SCHEME
    case -302: return WebErrorUnsupportedURL;      // UNKNOWN_URL_SCHEME
    case -310: return WebErrorHTTPTooManyRedirects; // TOO_MANY_REDIRECTS
    case -320:                                     // INVALID_RESPONSE
    case -321: return WebErrorBadServerResponse;   // INVALID_CHUNKED_ENCODING
    default: break;
    }
    // Unlisted numbers fall back on their domain.
    switch (domain) {
    case NetErrorDomain::Certificate: return WebErrorServerCertificateUntrusted;
    case NetErrorDomain::Dns: return WebErrorCannotFindHost;
    case NetErrorDomain::Connection: return WebErrorCannotConnectToHost;
    case NetErrorDomain::Http: return WebErrorBadServerResponse;
    default: return WebErrorUnknown;
    }
}

} // namespace kit
