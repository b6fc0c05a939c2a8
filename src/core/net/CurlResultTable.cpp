#include "core/net/CurlResultTable.h"

#include <cerrno>

#include <curl/curl.h>

namespace sayloft {

TransportError::Code CurlResultTable::classify(int curlCode, long osErrno) {
    using Code = TransportError::Code;
    switch (static_cast<CURLcode>(curlCode)) {
        case CURLE_COULDNT_CONNECT:
            if (osErrno == ENETUNREACH || osErrno == ENETDOWN) {
                return Code::notConnectedToInternet;
            }
            if (osErrno == EACCES || osErrno == EPERM) {
                return Code::dataNotAllowed;
            }
            return Code::cannotConnectToHost;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_HTTP3:
            return Code::networkConnectionLost;
        case CURLE_COULDNT_RESOLVE_HOST:
            return Code::cannotFindHost;
        case CURLE_COULDNT_RESOLVE_PROXY:
            return Code::dnsLookupFailed;
        case CURLE_OPERATION_TIMEDOUT:
            return Code::timedOut;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CLIENTCERT:
        case CURLE_USE_SSL_FAILED:
            return Code::secureConnectionFailed;
        case CURLE_ABORTED_BY_CALLBACK:
            return Code::cancelled;
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return Code::badURL;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_BAD_CONTENT_ENCODING:
        case CURLE_TOO_MANY_REDIRECTS:
            return Code::badServerResponse;
        case CURLE_FILESIZE_EXCEEDED:
            return Code::responseTooLarge;
        default:
            return Code::unknown;
    }
}

}  // namespace sayloft
