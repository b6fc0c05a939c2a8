#include "core/net/ServiceEndpoint.h"

#include <unistd.h>

#include "core/net/CurlSession.h"
#include "core/net/ListeningSockets.h"

namespace sayloft {

std::string ServiceEndpoint::describe() const {
    return viaUnixSocket() ? url.text() + " (unix:" + unixSocket.string() + ")" : url.text();
}

std::filesystem::path ServiceEndpoint::userSocket(const std::filesystem::path& runtimeDir) {
    if (runtimeDir.empty()) {
        return {};
    }
    return runtimeDir / "sayloft" / "server.sock";
}

ServiceEndpoint ServiceEndpoint::choose(const Url& url, const std::filesystem::path& socket,
                                        const Probes& probes) {
    if (url.isHttps() || !url.isLoopback() || socket.empty()) {
        return {url};
    }
    if (probes.socketAnswers(socket, url)) {
        return {url, socket};
    }
    if (probes.portIsThisUsers(url)) {
        return {url};
    }
    return {url, socket};
}

ServiceEndpoint ServiceEndpoint::choose(const Url& url, const std::filesystem::path& runtimeDir) {
    return choose(url, userSocket(runtimeDir), realProbes());
}

ServiceEndpoint::Probes ServiceEndpoint::realProbes() {
    return Probes{
        [](const std::filesystem::path& socket, const Url& url) {
            std::error_code ignored;
            return std::filesystem::is_socket(socket, ignored) &&
                   answersHealth({url, socket}, std::chrono::seconds(2));
        },
        [](const Url& url) {
            return ListeningSockets::onlyOwnedBy(url.port(), static_cast<unsigned>(::getuid()));
        },
    };
}

}  // namespace sayloft

namespace sayloft {

bool ServiceEndpoint::answersHealth(const ServiceEndpoint& endpoint,
                                    std::chrono::milliseconds timeout) {
    try {
        CurlSession::Options options;
        options.idleTimeout = std::chrono::duration_cast<std::chrono::seconds>(timeout);
        if (options.idleTimeout.count() < 1) {
            options.idleTimeout = std::chrono::seconds(1);
        }
        options.unixSocket = endpoint.unixSocket;
        CurlSession session(options);
        HttpRequest health;
        health.url = endpoint.url.appending("health");
        health.timeout = timeout;
        return session.perform(health, {}).status == 200;
    } catch (...) {
        return false;
    }
}

}  // namespace sayloft
