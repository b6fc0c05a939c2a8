#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "core/net/HttpTransport.h"
#include "core/update/AppcastItem.h"
#include "core/update/UpdatePackageStore.h"
#include "core/update/UpdateSource.h"

namespace sayloft {

// Checks the update feed and fetches a release, so that nothing a feed or a server says can be
// turned against the user: every address must be https:// (certificates verified by the
// transport); the package must be exactly the announced size, at most maxPackageBytes; it must
// carry a valid signature of the release key over its version and bytes (UpdateSignature); only
// then is it written, under a name of our making, into the private store. Until then nothing is
// on disk, so a failure at any step keeps nothing.
//
// Blocking calls for a worker thread; the client keeps no state between them.
class UpdateClient final : public UpdateSource {
public:
    // Makes the transport of one request, refusing answers larger than maxBytes.
    using TransportFactory = std::function<std::unique_ptr<HttpTransport>(std::size_t maxBytes)>;

    static constexpr std::size_t maxFeedBytes = 1024 * 1024;
    static constexpr std::size_t maxPackageBytes = 200 * 1024 * 1024;

    struct Options {
        std::string feedUrl{};
        std::string runningVersion{};  // a valid UpdateVersion
        std::string publicKey{};       // base64 of the Ed25519 release key's 32 raw bytes
        std::filesystem::path folder{};
        TransportFactory transport{};
    };

    explicit UpdateClient(Options options);

    // The newest release above the running version, or nullopt when this one is the newest.
    // Throws UpdateError.
    std::optional<AppcastItem> check(std::stop_token stop) override;

    // Fetches, verifies and stores the release's package; returns the stored file. Throws
    // UpdateError.
    std::filesystem::path download(const AppcastItem& item, std::stop_token stop) override;

    // True for an absolute https:// URL with a host (the scheme in any case).
    static bool isHttps(std::string_view url);

private:
    std::string fetch(const std::string& url, std::size_t maxBytes, std::stop_token stop) const;

    Options options_;
    UpdatePackageStore store_;
};

}  // namespace sayloft
