#include "server/UpstreamRecognizer.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "core/audio/Recorder.h"

namespace sayloft {

std::unique_ptr<UpstreamRecognizer> UpstreamRecognizer::create(const std::string& baseUrl,
                                                               std::string model,
                                                               std::string apiKey,
                                                               std::chrono::milliseconds timeout,
                                                               std::string* error) {
    const auto schemeEnd = baseUrl.find("://");
    const std::string scheme = schemeEnd == std::string::npos ? "" : baseUrl.substr(0, schemeEnd);
    if ((scheme != "http" && scheme != "https") || baseUrl.size() <= schemeEnd + 3 ||
        baseUrl.find_first_of("?#", schemeEnd) != std::string::npos) {
        if (error != nullptr) {
            *error = "the upstream URL must be http(s)://host[:port][/path]";
        }
        return nullptr;
    }
    const auto pathStart = baseUrl.find('/', schemeEnd + 3);
    std::string origin = baseUrl.substr(0, pathStart);
    std::string prefix = pathStart == std::string::npos ? "" : baseUrl.substr(pathStart);
    while (!prefix.empty() && prefix.back() == '/') {
        prefix.pop_back();
    }
    return std::unique_ptr<UpstreamRecognizer>(
        new UpstreamRecognizer(std::move(origin), prefix + "/v1/audio/transcriptions",
                               std::move(model), std::move(apiKey), timeout));
}

UpstreamRecognizer::UpstreamRecognizer(std::string origin, std::string path, std::string model,
                                       std::string apiKey, std::chrono::milliseconds timeout)
    : origin_(std::move(origin)),
      path_(std::move(path)),
      model_(std::move(model)),
      apiKey_(std::move(apiKey)),
      timeout_(timeout) {
}

SpeechRecognizer::Result UpstreamRecognizer::recognize(std::span<const std::int16_t> samples) {
    const auto wav = Recorder::encodeWav(samples, 16000);
    httplib::Client client(origin_);
    client.set_connection_timeout(std::chrono::seconds(5));
    client.set_read_timeout(timeout_);
    client.set_write_timeout(timeout_);
    httplib::Headers headers;
    if (!apiKey_.empty()) {
        headers.emplace("Authorization", "Bearer " + apiKey_);
    }
    const httplib::MultipartFormDataItems items = {
        {"file", std::string(wav.begin(), wav.end()), "audio.wav", "audio/wav"},
        {"model", model_, "", ""},
        {"response_format", "json", "", ""},
    };
    const auto response = client.Post(path_, headers, items);
    if (!response) {
        return {false, {}, 503, "upstream unreachable: " + httplib::to_string(response.error())};
    }
    if (response->status == 429 || response->status == 503) {
        return {false, {}, 503, "upstream busy (" + std::to_string(response->status) + ")"};
    }
    if (response->status != 200) {
        return {false, {}, 502, "upstream answered " + std::to_string(response->status)};
    }
    const auto body = nlohmann::json::parse(response->body, nullptr, false);
    if (!body.is_object() || !body.contains("text") || !body["text"].is_string()) {
        return {false, {}, 502, "upstream answer holds no text"};
    }
    return {true, body["text"].get<std::string>(), 0, {}};
}

std::string UpstreamRecognizer::describe() const {
    return "upstream " + origin_;
}

}  // namespace sayloft
