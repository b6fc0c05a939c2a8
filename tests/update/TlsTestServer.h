#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <httplib.h>

namespace sayloft::testing {

// A real HTTPS server on 127.0.0.1 with a free port and a self-signed certificate for that
// address (made once per test process with the openssl tool), so that a client trusting only
// caFile() verifies it exactly as it would a public server.
class TlsTestServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    explicit TlsTestServer(Handler handler);
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    // https://127.0.0.1:<port><path>
    std::string url(const std::string& path) const;
    // The certificate, as a PEM file of trusted authorities.
    static const std::filesystem::path& caFile();

private:
    std::unique_ptr<httplib::SSLServer> server_;
    std::thread thread_;
    int port_ = 0;
};

}  // namespace sayloft::testing
