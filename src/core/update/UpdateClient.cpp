#include "core/update/UpdateClient.h"

#include <algorithm>
#include <cctype>

#include "core/net/TransportError.h"
#include "core/update/Appcast.h"
#include "core/update/UpdateError.h"
#include "core/update/UpdateSignature.h"
#include "core/update/UpdateVersion.h"

namespace sayloft {

namespace {

void requireHttps(const std::string& url, const char* what) {
    if (!UpdateClient::isHttps(url)) {
        throw UpdateError(
            UpdateError::Code::insecureUrl,
            std::string(what) + " " + url + " is not an https:// address; it is refused");
    }
}

}  // namespace

UpdateClient::UpdateClient(Options options)
    : options_(std::move(options)), store_(options_.folder) {
}

bool UpdateClient::isHttps(std::string_view url) {
    constexpr std::string_view scheme = "https://";
    if (url.size() <= scheme.size() ||
        !std::equal(scheme.begin(), scheme.end(), url.begin(), [](char a, char b) {
            return a == std::tolower(static_cast<unsigned char>(b));
        })) {
        return false;
    }
    const char first = url[scheme.size()];
    return first != '/' && first != '?' && first != '#' && first != '@' &&
           std::none_of(url.begin(), url.end(),
                        [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

std::string UpdateClient::fetch(const std::string& url, std::size_t maxBytes,
                                std::stop_token stop) const {
    HttpRequest request;
    request.url = url;
    request.timeout = std::chrono::minutes(10);
    try {
        auto transport = options_.transport(maxBytes);
        HttpResponse response = transport->perform(request, stop);
        if (response.status != 200) {
            throw UpdateError(UpdateError::Code::badAnswer, url + " answered with HTTP status " +
                                                                std::to_string(response.status));
        }
        return std::move(response.body);
    } catch (const TransportError& error) {
        switch (error.code()) {
            case TransportError::Code::cancelled:
                throw UpdateError(UpdateError::Code::cancelled, "cancelled");
            case TransportError::Code::responseTooLarge:
                throw UpdateError(
                    UpdateError::Code::wrongLength,
                    url + " sent more than the " + std::to_string(maxBytes) + " bytes expected");
            default:
                throw UpdateError(UpdateError::Code::unreachable,
                                  url + " could not be reached: " + error.what());
        }
    }
}

std::optional<AppcastItem> UpdateClient::check(std::stop_token stop) {
    requireHttps(options_.feedUrl, "The update feed");
    if (!UpdateVersion::isValid(options_.runningVersion)) {
        throw UpdateError(UpdateError::Code::badFeed,
                          "this build has no release version to compare with");
    }
    const auto items = Appcast::parse(fetch(options_.feedUrl, maxFeedBytes, stop));
    return Appcast::newest(items, options_.runningVersion);
}

std::filesystem::path UpdateClient::download(const AppcastItem& item, std::stop_token stop) {
    requireHttps(item.packageUrl, "The package address");
    if (!UpdateVersion::isValid(item.version) ||
        UpdateVersion::compare(item.version, options_.runningVersion) <= 0) {
        throw UpdateError(UpdateError::Code::badFeed,
                          "version " + item.version + " is not newer than this one");
    }
    if (item.length == 0 || item.length > maxPackageBytes) {
        throw UpdateError(UpdateError::Code::wrongLength,
                          "the package announces " + std::to_string(item.length) +
                              " bytes; at most " + std::to_string(maxPackageBytes) +
                              " are accepted");
    }
    const std::string package = fetch(item.packageUrl, static_cast<std::size_t>(item.length), stop);
    if (package.size() != item.length) {
        throw UpdateError(UpdateError::Code::wrongLength,
                          "the package has " + std::to_string(package.size()) +
                              " bytes instead of the announced " + std::to_string(item.length));
    }
    if (!UpdateSignature::verify(options_.publicKey, item.version, package, item.signature)) {
        throw UpdateError(UpdateError::Code::badSignature,
                          "the package of version " + item.version +
                              " is not signed with the Sayloft release key");
    }
    return store_.store(item.version, package);
}

}  // namespace sayloft
