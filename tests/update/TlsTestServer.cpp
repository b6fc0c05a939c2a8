#include "TlsTestServer.h"

#include <cstdlib>
#include <stdexcept>

#include <unistd.h>

namespace sayloft::testing {

namespace {

std::filesystem::path makeCertificate() {
    const auto folder =
        std::filesystem::temp_directory_path() / ("sayloft-tls-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const auto cert = folder / "cert.pem";
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
        "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
        (folder / "key.pem").string() + " -out " + cert.string() + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("openssl could not make a test certificate");
    }
    return cert;
}

// Removes the certificate's folder when the test process ends.
struct CertificateFolder {
    std::filesystem::path cert = makeCertificate();
    ~CertificateFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(cert.parent_path(), ignored);
    }
};

const CertificateFolder& certificate() {
    static const CertificateFolder folder;
    return folder;
}

}  // namespace

const std::filesystem::path& TlsTestServer::caFile() {
    return certificate().cert;
}

TlsTestServer::TlsTestServer(Handler handler) {
    const auto& cert = caFile();
    server_ = std::make_unique<httplib::SSLServer>(cert.c_str(),
                                                   (cert.parent_path() / "key.pem").c_str());
    server_->Get(
        ".*", [handler = std::move(handler)](const httplib::Request& req, httplib::Response& res) {
            handler(req, res);
        });
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("the TLS test server could not bind");
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() does nothing to a server not yet running: wait until it is, so that the
    // destructor always ends it.
    while (!server_->is_running()) {
        std::this_thread::yield();
    }
}

TlsTestServer::~TlsTestServer() {
    server_->stop();
    thread_.join();
}

std::string TlsTestServer::url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace sayloft::testing
