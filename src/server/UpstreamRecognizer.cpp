#include "server/UpstreamRecognizer.h"

#include <nlohmann/json.hpp>

#include "core/audio/Recorder.h"
#include "core/net/CurlSession.h"
#include "core/net/MultipartBody.h"
#include "core/net/TransportError.h"

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
      timeout_(timeout),
      session_(std::make_unique<CurlSession>(
          CurlSession::Options{std::max(std::chrono::duration_cast<std::chrono::seconds>(timeout),
                                        std::chrono::seconds(1)),
                               16 * 1024 * 1024,
                               {}})) {
}

UpstreamRecognizer::~UpstreamRecognizer() = default;

namespace {

void appendField(std::string& body, std::string_view boundary, std::string_view disposition,
                 std::string_view contentType, std::string_view value) {
    body += "--";
    body += boundary;
    body += "\r\nContent-Disposition: form-data; ";
    body += disposition;
    if (!contentType.empty()) {
        body += "\r\nContent-Type: ";
        body += contentType;
    }
    body += "\r\n\r\n";
    body += value;
    body += "\r\n";
}

}  // namespace

SpeechRecognizer::Result UpstreamRecognizer::recognize(std::span<const std::int16_t> samples) {
    const auto wav = Recorder::encodeWav(samples, 16000);
    const std::string boundary = MultipartBody::newBoundary();
    HttpRequest request;
    request.method = "POST";
    request.url = origin_ + path_;
    request.timeout = timeout_;
    appendField(request.body, boundary, "name=\"file\"; filename=\"audio.wav\"", "audio/wav",
                std::string_view(reinterpret_cast<const char*>(wav.data()), wav.size()));
    appendField(request.body, boundary, "name=\"model\"", "", model_);
    appendField(request.body, boundary, "name=\"response_format\"", "", "json");
    request.body += "--" + boundary + "--\r\n";
    request.headers.emplace_back("Content-Type", MultipartBody::contentType(boundary));
    if (!apiKey_.empty()) {
        request.headers.emplace_back("Authorization", "Bearer " + apiKey_);
    }
    HttpResponse answer;
    try {
        answer = session_->perform(request, std::stop_token());
    } catch (const TransportError& e) {
        return {false, {}, 503, std::string("upstream unreachable: ") + e.what()};
    }
    const auto* response = &answer;
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
