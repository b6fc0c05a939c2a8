// The service client's speed goals, against servers in this process on loopback:
//  - the tail cut by hedging (bimodal answers: most quick, some stalled past the deadline, some
//    reset), with the real hedge/deadline formulas in scaled time;
//  - the client's own overhead for a 60 s recording, call to first byte on the wire and last
//    byte of the answer to the returned result;
//  - how fast a stop request ends a running request;
//  - the converter's cost per second of 48 kHz stereo audio.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include "LoopbackServer.h"
#include "core/audio/PcmConverter.h"
#include "core/audio/Recorder.h"
#include "core/net/APIClient.h"
#include "core/net/CurlSession.h"
#include "core/net/HedgedRequest.h"
#include "core/net/SteadySleeper.h"

namespace {

using namespace sayloft;
using Clock = std::chrono::steady_clock;

double msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

std::chrono::nanoseconds scaled(std::chrono::nanoseconds time, double factor) {
    return std::chrono::nanoseconds(
        static_cast<std::int64_t>(static_cast<double>(time.count()) * factor));
}

// Real time multiplied by a factor: the formulas' seconds become milliseconds-scale waits.
class ScaledSleeper final : public Sleeper {
public:
    explicit ScaledSleeper(double factor) : factor_(factor) {}
    std::chrono::nanoseconds now() const override { return scaled(real_.now(), factor_); }
    bool sleepUntil(std::chrono::nanoseconds time, std::stop_token stop) override {
        return real_.sleepUntil(scaled(time, 1.0 / factor_), stop);
    }

private:
    double factor_;
    SteadySleeper real_;
};

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(std::ceil(p * values.size())) - 1;
    return values[std::min(index, values.size() - 1)];
}

// Tail of `transcribe` over a few hundred calls. Server: 92% quick (40-80 ms of service time),
// 5% stalled past the deadline, 3% reset mid-answer; decided per request by a seeded generator.
// Time scale 1/20: the 4.6 s hedge delay of a 1 s recording is 230 ms of real time.
void tailBenchmark(benchmark::State& state, bool hedged) {
    constexpr double scale = 20.0;
    constexpr int calls = 400;
    constexpr double audioSeconds = 1.0;
    std::mutex randomMutex;
    std::mt19937 random(42);
    std::atomic<int> requests = 0;
    std::atomic<int> stalledOrReset = 0;
    testing::LoopbackServer server([&](const auto&, auto& res, std::size_t) {
        ++requests;
        double draw = 0;
        double quickMs = 0;
        {
            std::lock_guard lock(randomMutex);
            draw = std::uniform_real_distribution<>(0, 1)(random);
            quickMs = std::uniform_real_distribution<>(40, 80)(random);
        }
        if (draw < 0.05) {
            ++stalledOrReset;
            std::this_thread::sleep_for(std::chrono::milliseconds(
                static_cast<int>(HedgedRequest::deadline(audioSeconds) * 1000 / scale * 1.5)));
        } else if (draw < 0.08) {
            ++stalledOrReset;
            testing::LoopbackServer::dropMidAnswer(res);
            return;
        } else {
            std::this_thread::sleep_for(
                std::chrono::microseconds(static_cast<int>(quickMs * 1000 / scale)));
        }
        testing::LoopbackServer::reply(res, 200, R"({"text":"ok","duration":1})");
    });
    const auto wav = Recorder::encodeWav(std::vector<std::int16_t>(16000, 100), 16000);
    auto sleeper = std::make_shared<ScaledSleeper>(scale);
    const APIClient client(
        server.url(), std::make_shared<CurlSession>(),
        [] { return std::make_unique<CurlSession>(); }, sleeper);
    const double deadlineMs = HedgedRequest::deadline(audioSeconds) * 1000;
    CurlSession session;  // the first attempt's session when there is no hedge

    for (auto _ : state) {
        std::vector<double> latencies;  // in unscaled service milliseconds
        double pastDeadlineRealMs = 0;  // real time beyond the (scaled) deadline
        int failures = 0;
        requests = 0;
        stalledOrReset = 0;
        for (int i = 0; i < calls; ++i) {
            const auto start = Clock::now();
            try {
                if (hedged) {
                    client.transcribe("t", wav, audioSeconds);
                } else {
                    const HttpRequest request = client.transcribeRequest("t", wav);
                    HedgedRequest::run<TranscribeResult>(
                        HedgedRequest::hedgeDelay(audioSeconds),
                        HedgedRequest::deadline(audioSeconds),
                        [](const std::exception_ptr&) { return true; },
                        [&](int index, std::stop_token stop) -> TranscribeResult {
                            if (index != 0) {
                                throw APIFailure(APIError::network);  // the first attempt alone
                            }
                            return APIClient::transcribeOnce(request, session, stop);
                        },
                        *sleeper);
                }
            } catch (...) {
                ++failures;
            }
            const double realMs = msBetween(start, Clock::now());
            latencies.push_back(realMs * scale);
            pastDeadlineRealMs = std::max(pastDeadlineRealMs, realMs - deadlineMs / scale);
        }
        state.counters["p50_ms"] = percentile(latencies, 0.50);
        state.counters["p90_ms"] = percentile(latencies, 0.90);
        state.counters["p99_ms"] = percentile(latencies, 0.99);
        state.counters["max_ms"] = percentile(latencies, 1.0);
        state.counters["past_deadline_real_ms"] = pastDeadlineRealMs;
        state.counters["extra_requests_pct"] = 100.0 * (requests - calls) / calls;
        state.counters["stalled_or_reset_pct"] = 100.0 * stalledOrReset / requests;
        state.counters["failed_calls"] = failures;
    }
}

void BM_TranscribeTail_Hedged(benchmark::State& state) {
    tailBenchmark(state, true);
}
void BM_TranscribeTail_FirstAttemptOnly(benchmark::State& state) {
    tailBenchmark(state, false);
}
BENCHMARK(BM_TranscribeTail_Hedged)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TranscribeTail_FirstAttemptOnly)->Iterations(1)->Unit(benchmark::kMillisecond);

// A bare HTTP/1.1 server on a raw socket that timestamps the first byte it receives and the
// moment its answer has been handed to the kernel; answers every request with a fixed 200.
class StampingServer {
public:
    StampingServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 4);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~StampingServer() {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        thread_.join();
    }
    Url url() const { return *Url::parse("http://127.0.0.1:" + std::to_string(port_)); }
    Clock::time_point firstByte() const { return firstByte_.load(); }
    Clock::time_point answered() const { return answered_.load(); }

private:
    void serve() {
        for (;;) {
            const int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0) {
                return;
            }
            const int one = 1;
            ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            handle(connection);
            ::close(connection);
        }
    }
    void handle(int connection) {
        std::string buffer;
        char chunk[1 << 16];
        for (;;) {
            std::size_t headerEnd;
            bool stamped = false;
            while ((headerEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
                const ssize_t got = ::recv(connection, chunk, sizeof chunk, 0);
                if (got <= 0) {
                    return;
                }
                if (!stamped && buffer.empty()) {
                    firstByte_ = Clock::now();
                    stamped = true;
                }
                buffer.append(chunk, static_cast<std::size_t>(got));
            }
            std::size_t bodyLength = 0;
            if (const auto at = buffer.find("Content-Length: "); at != std::string::npos) {
                bodyLength = std::stoul(buffer.substr(at + 16));
            }
            while (buffer.size() < headerEnd + 4 + bodyLength) {
                const ssize_t got = ::recv(connection, chunk, sizeof chunk, 0);
                if (got <= 0) {
                    return;
                }
                buffer.append(chunk, static_cast<std::size_t>(got));
            }
            buffer.erase(0, headerEnd + 4 + bodyLength);
            static const std::string answer =
                "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 30\r\n\r\n"
                R"({"text":"hello","duration":60})";
            ::send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
            answered_ = Clock::now();
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<Clock::time_point> firstByte_{};
    std::atomic<Clock::time_point> answered_{};
};

// Overhead of a 60 s recording (1.92 MB of WAV) on a warm connection.
void BM_ClientOverhead60s(benchmark::State& state) {
    StampingServer server;
    const APIClient client(server.url());
    const auto wav = Recorder::encodeWav(std::vector<std::int16_t>(960000, 1000), 16000);
    client.ping();  // warms the connection, as the application's keep-alive does
    double toFirstByte = 0;
    double afterAnswer = 0;
    for (auto _ : state) {
        const auto called = Clock::now();
        const TranscribeResult result = client.transcribe("token", wav, 60.0);
        const auto returned = Clock::now();
        benchmark::DoNotOptimize(result);
        toFirstByte += msBetween(called, server.firstByte());
        afterAnswer += msBetween(server.answered(), returned);
    }
    state.counters["call_to_first_byte_ms"] = toFirstByte / static_cast<double>(state.iterations());
    state.counters["answer_to_result_ms"] = afterAnswer / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ClientOverhead60s)->Unit(benchmark::kMillisecond)->Iterations(50);

// From a stop request to the end of the request it stops.
void BM_CancellationLatency(benchmark::State& state) {
    testing::LoopbackServer server([&](const auto&, auto& res, std::size_t index) {
        server.gate(index).wait();
        testing::LoopbackServer::reply(res, 200, "{}");
    });
    CurlSession session;
    HttpRequest request;
    request.url = server.url().appending("health");
    std::size_t sent = 0;
    double total = 0;
    for (auto _ : state) {
        std::stop_source stop;
        auto running = std::async(std::launch::async, [&] {
            try {
                session.perform(request, stop.get_token());
            } catch (...) {
            }
            return Clock::now();
        });
        server.waitForRequests(++sent);
        const auto asked = Clock::now();
        stop.request_stop();
        const double ms = msBetween(asked, running.get());
        total += ms;
        state.SetIterationTime(ms / 1000);
        server.gate(sent - 1).open();
    }
    state.counters["stop_to_end_ms"] = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_CancellationLatency)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(100);

// One second of 48 kHz stereo float audio through the streaming converter.
void BM_ConvertOneSecond48kStereo(benchmark::State& state) {
    std::vector<float> block(48000 * 2);
    for (std::size_t i = 0; i < 48000; ++i) {
        block[2 * i] = block[2 * i + 1] =
            0.3f * static_cast<float>(std::sin(2 * M_PI * 440.0 * static_cast<double>(i) / 48000));
    }
    PcmConverter converter(48000, 2);
    std::vector<std::int16_t> out;
    out.reserve(20000);
    for (auto _ : state) {
        out.clear();
        converter.process(block, out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_ConvertOneSecond48kStereo)->Unit(benchmark::kMicrosecond);

}  // namespace
