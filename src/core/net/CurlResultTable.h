#pragma once

#include "core/net/TransportError.h"

namespace sayloft {

// How libcurl's result codes (and, where libcurl lumps causes together, the transfer's errno)
// map onto TransportError codes, and so onto the retry rule of APIClient::send.
// clang-format off
//
//   libcurl result (CURLE_...)          errno                  TransportError
//   ----------------------------------  ---------------------  -----------------------
//   COULDNT_CONNECT                     ENETUNREACH, ENETDOWN  notConnectedToInternet
//   SEND_ERROR, RECV_ERROR, GOT_NOTHING,                       networkConnectionLost
//     PARTIAL_FILE, HTTP2, HTTP2_STREAM,
//     HTTP3
//   COULDNT_RESOLVE_HOST                                       cannotFindHost
//   COULDNT_RESOLVE_PROXY                                      dnsLookupFailed
//   COULDNT_CONNECT                     any other              cannotConnectToHost
//   OPERATION_TIMEDOUT                                         timedOut
//   (none: Linux has no roaming switch)                        internationalRoamingOff
//   COULDNT_CONNECT                     EACCES, EPERM          dataNotAllowed
//   ---- the eight above are connectivity failures: send does not repeat them ----
//   SSL_CONNECT_ERROR, USE_SSL_FAILED,                         secureConnectionFailed
//     PEER_FAILED_VERIFICATION,
//     SSL_CERTPROBLEM, SSL_CIPHER,
//     SSL_CACERT_BADFILE, SSL_ENGINE_*,
//     SSL_SHUTDOWN_FAILED, SSL_CRL_BADFILE,
//     SSL_ISSUER_ERROR, SSL_CLIENTCERT,
//     SSL_PINNEDPUBKEYNOTMATCH,
//     SSL_INVALIDCERTSTATUS
//   ABORTED_BY_CALLBACK (and a stop                            cancelled
//     request seen by the session)
//   UNSUPPORTED_PROTOCOL, URL_MALFORMAT                        badURL
//   WEIRD_SERVER_REPLY,                                        badServerResponse
//     BAD_CONTENT_ENCODING,
//     TOO_MANY_REDIRECTS
//   FILESIZE_EXCEEDED (and an answer                           responseTooLarge
//     past the session's size limit)
//   anything else                                              unknown
//
// Every code below the line is repeated once by send.
// clang-format on
struct CurlResultTable {
    // curlCode is a CURLcode other than CURLE_OK; osErrno is CURLINFO_OS_ERRNO (0 if none).
    static TransportError::Code classify(int curlCode, long osErrno);
};

}  // namespace sayloft
