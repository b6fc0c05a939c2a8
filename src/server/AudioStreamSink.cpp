#include "server/AudioStreamSink.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

namespace sayloft {
namespace {

HttpAnswer answerJson(int status, const nlohmann::json& body) {
    HttpAnswer answer;
    answer.status = status;
    answer.body = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return answer;
}

HttpAnswer refusal(int status, const std::string& message) {
    HttpAnswer answer = answerJson(status, {{"error", message}});
    answer.close = true;
    return answer;
}

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::int16_t sampleOf(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(high << 8 | low));
}

}  // namespace

AudioStreamSink::AudioStreamSink(std::unique_ptr<RecognitionStream> stream, double maxAudioSeconds)
    : stream_(std::move(stream)),
      maxBytes_(static_cast<std::uint64_t>(maxAudioSeconds * samplesPerSecond) * 2) {
}

bool AudioStreamSink::acceptsContentType(std::string_view contentType) {
    bool rate = false, channels = false, first = true;
    while (true) {
        const auto end = contentType.find(';');
        const std::string item = lowered(trimmed(contentType.substr(0, end)));
        if (first) {
            if (item != "audio/l16") {
                return false;
            }
            first = false;
        } else if (item == "rate=16000" && !rate) {
            rate = true;
        } else if (item == "channels=1" && !channels) {
            channels = true;
        } else if (!item.empty()) {
            return false;
        }
        if (end == std::string_view::npos) {
            return rate;
        }
        contentType.remove_prefix(end + 1);
    }
}

std::optional<HttpAnswer> AudioStreamSink::write(std::string_view piece) {
    bytes_ += piece.size();
    if (bytes_ > maxBytes_) {
        stream_.reset();
        return refusal(
            413, "the stream holds more than " +
                     std::to_string(maxBytes_ / 2 / static_cast<std::uint64_t>(samplesPerSecond)) +
                     " seconds of audio");
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(piece.data());
    std::size_t at = 0;
    samples_.clear();
    if (carried_ && !piece.empty()) {
        samples_.push_back(sampleOf(*carried_, bytes[0]));
        carried_.reset();
        at = 1;
    }
    for (; at + 1 < piece.size(); at += 2) {
        samples_.push_back(sampleOf(bytes[at], bytes[at + 1]));
    }
    if (at < piece.size()) {
        carried_ = bytes[at];
    }
    stream_->feed(samples_);
    return std::nullopt;
}

HttpAnswer AudioStreamSink::finish() {
    const auto ended = std::chrono::steady_clock::now();
    if (carried_) {
        return answerJson(
            400, {{"error", "the stream ends in the middle of a sample (an odd byte count)"}});
    }
    if (bytes_ == 0) {
        return answerJson(400, {{"error", "the stream holds no samples"}});
    }
    const auto result = stream_->finish();
    stream_.reset();
    if (!result.ok) {
        HttpAnswer failed = answerJson(result.status, {{"error", result.error}});
        if (result.retryAfterSeconds > 0) {
            failed.headers.emplace_back("Retry-After", std::to_string(result.retryAfterSeconds));
        }
        return failed;
    }
    const double duration = static_cast<double>(bytes_ / 2) / samplesPerSecond;
    const std::chrono::duration<double, std::milli> finishing =
        std::chrono::steady_clock::now() - ended;
    char timing[64];
    std::snprintf(timing, sizeof timing, "recognize;dur=%.1f", finishing.count());
    HttpAnswer answer = answerJson(200, {{"text", result.text}, {"duration", duration}});
    answer.headers.emplace_back("Server-Timing", timing);
    return answer;
}

}  // namespace sayloft
