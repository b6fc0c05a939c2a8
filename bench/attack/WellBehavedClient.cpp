#include "WellBehavedClient.h"

#include <nlohmann/json.hpp>

#include "RawSocket.h"

namespace sayloft::bench {
namespace {

using Clock = RawSocket::Clock;

double msSince(Clock::time_point begin) {
    return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

// One request on a new connection: the answer within the limit, or nullopt and how it ended
// (failed also when this process could not open the socket).
std::optional<HttpAnswer> exchange(int port, const std::string& source, const std::string& request,
                                   std::chrono::milliseconds limit, RawSocket::Io& io) {
    const auto deadline = Clock::now() + limit;
    try {
        RawSocket socket(source, port);
        io = socket.finishConnect(deadline);
        if (io != RawSocket::Io::ok) {
            return std::nullopt;
        }
        io = socket.send(request, deadline);
        if (io != RawSocket::Io::ok && !socket.hasAnswer()) {
            return std::nullopt;
        }
        return socket.readAnswer(deadline, io);
    } catch (const std::exception&) {
        io = RawSocket::Io::failed;
        return std::nullopt;
    }
}

}  // namespace

std::optional<std::string> WellBehavedClient::registerToken(int port, const std::string& source) {
    RawSocket::Io io = RawSocket::Io::ok;
    const auto answer = exchange(port, source,
                                 "POST /v1/register HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                 "Content-Length: 0\r\nConnection: close\r\n\r\n",
                                 std::chrono::seconds(10), io);
    if (!answer || answer->status != 200) {
        return std::nullopt;
    }
    const auto json = nlohmann::json::parse(answer->body, nullptr, false);
    if (!json.is_object() || !json.contains("token") || !json["token"].is_string()) {
        return std::nullopt;
    }
    return json["token"].get<std::string>();
}

WellBehavedClient::WellBehavedClient(int port, std::string token, std::string transcribeBody,
                                     std::string contentType)
    : port_(port),
      token_(std::move(token)),
      body_(std::move(transcribeBody)),
      contentType_(std::move(contentType)) {
}

WellBehavedClient::~WellBehavedClient() {
    stopping_ = true;
    if (health_.joinable()) {
        health_.join();
    }
    if (transcription_.joinable()) {
        transcription_.join();
    }
}

void WellBehavedClient::start() {
    health_ = std::thread([this] { probeHealth(); });
    transcription_ = std::thread([this] { transcribe(); });
}

WellBehavedClient::Result WellBehavedClient::stop() {
    stopping_ = true;
    health_.join();
    transcription_.join();
    std::lock_guard lock(mutex_);
    return result_;
}

void WellBehavedClient::probeHealth() {
    do {
        const auto began = Clock::now();
        RawSocket::Io io = RawSocket::Io::ok;
        const auto answer = exchange(port_, address,
                                     "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                                     "Connection: close\r\n\r\n",
                                     healthLimit, io);
        const double ms = msSince(began);
        {
            std::lock_guard lock(mutex_);
            ++result_.healthProbes;
            result_.worstHealthMs = std::max(result_.worstHealthMs, ms);
            if (!answer || answer->status != 200 || ms > healthLimit.count()) {
                ++result_.healthFailures;
            }
        }
        const auto next = began + std::chrono::milliseconds(250);
        while (!stopping_ && Clock::now() < next) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    } while (!stopping_);
}

void WellBehavedClient::transcribe() {
    std::this_thread::sleep_for(transcriptionLead);
    const auto began = Clock::now();
    RawSocket::Io io = RawSocket::Io::ok;
    const std::string request =
        "POST /v1/transcribe HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        "Authorization: Bearer " +
        token_ + "\r\nContent-Type: " + contentType_ +
        "\r\nContent-Length: " + std::to_string(body_.size()) + "\r\nConnection: close\r\n\r\n" +
        body_;
    const auto answer = exchange(port_, address, request, transcriptionLimit, io);
    const double ms = msSince(began);
    std::lock_guard lock(mutex_);
    result_.transcriptionMs = ms;
    result_.transcribed = answer && answer->status == 200 && ms <= transcriptionLimit.count();
    result_.transcriptionOutcome =
        answer ? std::to_string(answer->status) : std::string(RawSocket::describe(io));
}

}  // namespace sayloft::bench
