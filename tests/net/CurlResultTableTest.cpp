#include <cerrno>
#include <exception>
#include <set>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include "core/net/APIClient.h"
#include "core/net/CurlResultTable.h"

namespace sayloft {
namespace {

using Code = TransportError::Code;

struct Row {
    CURLcode curl;
    long osErrno;
    Code expected;
};

TEST(CurlResultTable, MapsLibcurlResultsOntoTransportCodes) {
    const Row rows[] = {
        {CURLE_COULDNT_CONNECT, ENETUNREACH, Code::notConnectedToInternet},
        {CURLE_COULDNT_CONNECT, ENETDOWN, Code::notConnectedToInternet},
        {CURLE_COULDNT_CONNECT, EACCES, Code::dataNotAllowed},
        {CURLE_COULDNT_CONNECT, EPERM, Code::dataNotAllowed},
        {CURLE_COULDNT_CONNECT, ECONNREFUSED, Code::cannotConnectToHost},
        {CURLE_COULDNT_CONNECT, 0, Code::cannotConnectToHost},
        {CURLE_SEND_ERROR, 0, Code::networkConnectionLost},
        {CURLE_RECV_ERROR, ECONNRESET, Code::networkConnectionLost},
        {CURLE_GOT_NOTHING, 0, Code::networkConnectionLost},
        {CURLE_PARTIAL_FILE, 0, Code::networkConnectionLost},
        {CURLE_HTTP2_STREAM, 0, Code::networkConnectionLost},
        {CURLE_COULDNT_RESOLVE_HOST, 0, Code::cannotFindHost},
        {CURLE_COULDNT_RESOLVE_PROXY, 0, Code::dnsLookupFailed},
        {CURLE_OPERATION_TIMEDOUT, 0, Code::timedOut},
        {CURLE_SSL_CONNECT_ERROR, 0, Code::secureConnectionFailed},
        {CURLE_PEER_FAILED_VERIFICATION, 0, Code::secureConnectionFailed},
        {CURLE_SSL_CACERT_BADFILE, 0, Code::secureConnectionFailed},
        {CURLE_ABORTED_BY_CALLBACK, 0, Code::cancelled},
        {CURLE_URL_MALFORMAT, 0, Code::badURL},
        {CURLE_UNSUPPORTED_PROTOCOL, 0, Code::badURL},
        {CURLE_WEIRD_SERVER_REPLY, 0, Code::badServerResponse},
        {CURLE_FILESIZE_EXCEEDED, 0, Code::responseTooLarge},
        {CURLE_OUT_OF_MEMORY, 0, Code::unknown},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CurlResultTable::classify(row.curl, row.osErrno), row.expected)
            << curl_easy_strerror(row.curl) << " errno " << row.osErrno;
    }
}

TEST(ShouldRetry, RepeatsEverythingButTheEightConnectivityFailures) {
    const std::set<Code> connectivity = {Code::notConnectedToInternet,  Code::networkConnectionLost,
                                         Code::cannotFindHost,          Code::dnsLookupFailed,
                                         Code::cannotConnectToHost,     Code::timedOut,
                                         Code::internationalRoamingOff, Code::dataNotAllowed};
    for (int c = 0; c <= static_cast<int>(Code::unknown); ++c) {
        const Code code = static_cast<Code>(c);
        EXPECT_EQ(APIClient::shouldRetry(std::make_exception_ptr(TransportError(code, ""))),
                  !connectivity.contains(code))
            << c;
    }
    EXPECT_TRUE(APIClient::shouldRetry(std::make_exception_ptr(42)));  // not a TransportError
}

}  // namespace
}  // namespace sayloft
