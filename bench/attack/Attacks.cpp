#include "Attacks.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include "GzipBody.h"
#include "RawSocket.h"

namespace sayloft::bench {
namespace {

using Clock = RawSocket::Clock;
using Io = RawSocket::Io;

constexpr std::size_t chunkBytes = 64 * 1024;
const std::string boundary = "sayloft-attack-boundary";
const std::string filePartHead = "--" + boundary +
                                 "\r\nContent-Disposition: form-data; name=\"file\"; "
                                 "filename=\"a.wav\"\r\nContent-Type: audio/wav\r\n\r\n";

std::string mib(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

std::string ms(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f ms", value);
    return text;
}

std::string hex(std::size_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "%zx", value);
    return text;
}

double median(std::vector<double> values) {
    if (values.empty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// "413 after 4.0 MiB", "reset after 12.0 MiB, no answer", "no answer in 20 s (3.0 MiB sent)".
std::string describe(const std::optional<HttpAnswer>& answer, Io io, std::uint64_t sent,
                     std::uint64_t whole, std::chrono::seconds limit) {
    const std::string amount = sent >= whole ? "all " + mib(sent) : mib(sent);
    if (answer) {
        return std::to_string(answer->status) + " after " + amount + " sent" +
               (io == Io::ok ? "" : std::string(", then ") + RawSocket::describe(io));
    }
    if (io == Io::timeout) {
        return "no answer in " + std::to_string(limit.count()) + " s (" + amount + " sent)";
    }
    return std::string(RawSocket::describe(io)) + " after " + amount + " sent, no answer";
}

}  // namespace

Attacks::Attacks(int port, std::string token, AttackSizes sizes)
    : port_(port), token_(std::move(token)), sizes_(sizes) {
}

AttackOutcome Attacks::chunkedUpload(bool withToken) {
    const std::string head = "POST /v1/transcribe HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                             (withToken ? "Authorization: Bearer " + token_ + "\r\n" : "") +
                             "Content-Type: multipart/form-data; boundary=" + boundary +
                             "\r\nTransfer-Encoding: chunked\r\n\r\n";
    const auto deadline = Clock::now() + sizes_.deadline;
    RawSocket socket(address, port_);
    Io io = socket.finishConnect(deadline);
    if (io != Io::ok) {
        return {"connect " + std::string(RawSocket::describe(io)), {}, {}};
    }
    const std::string chunk = hex(chunkBytes) + "\r\n" + std::string(chunkBytes, '\0') + "\r\n";
    const std::uint64_t chunks = sizes_.uploadBytes / chunkBytes;
    const std::string first = head + hex(filePartHead.size()) + "\r\n" + filePartHead + "\r\n";
    const std::string last = "0\r\n\r\n";
    std::uint64_t given = 0;
    std::uint64_t sent = 0;
    io = socket.stream(
        [&]() -> std::string_view {
            ++given;
            if (given == 1) {
                return first;
            }
            if (given <= chunks + 1) {
                return chunk;
            }
            return given == chunks + 2 ? std::string_view(last) : std::string_view();
        },
        deadline, sent);
    const std::uint64_t whole = first.size() + chunks * chunk.size() + last.size();
    Io readIo = io;
    std::optional<HttpAnswer> answer = socket.readAnswer(
        io == Io::timeout ? Clock::now() + std::chrono::seconds(1) : deadline, readIo);
    return {describe(answer, answer ? readIo : io, sent, whole, sizes_.deadline), {}, {}};
}

AttackOutcome Attacks::gzipBomb() {
    const std::string body = GzipBody::of(filePartHead, sizes_.inflatedBytes);
    const std::string head =
        "POST /v1/transcribe HTTP/1.1\r\nHost: 127.0.0.1\r\n"
        "Authorization: Bearer " +
        token_ + "\r\nContent-Type: multipart/form-data; boundary=" + boundary +
        "\r\nContent-Encoding: gzip\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    const auto deadline = Clock::now() + sizes_.deadline;
    RawSocket socket(address, port_);
    Io io = socket.finishConnect(deadline);
    if (io != Io::ok) {
        return {"connect " + std::string(RawSocket::describe(io)), {}, {}};
    }
    io = socket.send(head + body, deadline);
    Io readIo = io;
    const auto answer = socket.readAnswer(deadline, readIo);
    const std::string sizeNote = " (" + std::to_string(body.size() / 1024) + " KiB sent)";
    if (answer) {
        return {std::to_string(answer->status) + sizeNote, {}, {}};
    }
    return {std::string(readIo == Io::timeout
                            ? "no answer in " + std::to_string(sizes_.deadline.count()) + " s"
                            : RawSocket::describe(readIo)) +
                sizeNote,
            {},
            {}};
}

AttackOutcome Attacks::manyHeaders() {
    const std::string head = "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    const auto deadline = Clock::now() + sizes_.deadline;
    RawSocket socket(address, port_);
    Io io = socket.finishConnect(deadline);
    if (io != Io::ok) {
        return {"connect " + std::string(RawSocket::describe(io)), {}, {}};
    }
    // Headers go out 32 at a time, each "X-Filler-N: aaa...\r\n" of exactly headerBytes.
    int next = 0;
    std::string batch;
    bool headSent = false;
    bool endSent = false;
    std::uint64_t sent = 0;
    io = socket.stream(
        [&]() -> std::string_view {
            if (!headSent) {
                headSent = true;
                return head;
            }
            if (next >= sizes_.headerCount) {
                if (endSent) {
                    return {};
                }
                endSent = true;
                return "\r\n";
            }
            batch.clear();
            for (int i = 0; i < 32 && next < sizes_.headerCount; ++i, ++next) {
                std::string line = "X-Filler-" + std::to_string(next) + ": ";
                line.append(static_cast<std::size_t>(sizes_.headerBytes) - line.size() - 2, 'a');
                batch += line + "\r\n";
            }
            return batch;
        },
        deadline, sent);
    Io readIo = io;
    const auto answer = socket.readAnswer(
        io == Io::timeout ? Clock::now() + std::chrono::seconds(1) : deadline, readIo);
    const std::uint64_t whole = head.size() +
                                static_cast<std::uint64_t>(sizes_.headerCount) *
                                    static_cast<std::uint64_t>(sizes_.headerBytes) +
                                2;
    return {describe(answer, answer ? readIo : io, sent, whole, sizes_.deadline), {}, {}};
}

AttackOutcome Attacks::slowConnections() {
    const std::string request = "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
    std::vector<RawSocket> sockets;
    sockets.reserve(static_cast<std::size_t>(sizes_.slowConnections));
    for (int i = 0; i < sizes_.slowConnections; ++i) {
        sockets.emplace_back(address, port_);
    }
    const auto connectDeadline = Clock::now() + std::chrono::seconds(2);
    int refused = 0, pending = 0;
    std::vector<bool> up(sockets.size(), false);
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        const Io io = sockets[i].finishConnect(connectDeadline);
        up[i] = io == Io::ok;
        refused += io == Io::failed;
        pending += io == Io::timeout;
    }
    // Even-numbered connections trickle, odd ones stay idle.
    std::vector<std::size_t> written(sockets.size(), 0);
    std::vector<bool> closed(sockets.size(), false);
    int firstCloseSecond = -1;
    std::vector<int> statuses;
    for (int second = 0; second < static_cast<int>(sizes_.slowHold.count()); ++second) {
        const auto tick = Clock::now() + std::chrono::seconds(1);
        for (std::size_t i = 0; i < sockets.size(); ++i) {
            if (!up[i] || closed[i]) {
                continue;
            }
            if (i % 2 == 0) {
                const char byte = written[i] < request.size() ? request[written[i]] : 'a';
                sockets[i].send(std::string_view(&byte, 1), Clock::now());
                ++written[i];
            }
            if (sockets[i].closedByPeer()) {
                closed[i] = true;
                firstCloseSecond = firstCloseSecond < 0 ? second : firstCloseSecond;
                Io io = Io::ok;
                if (const auto answer = sockets[i].readAnswer(Clock::now(), io)) {
                    statuses.push_back(answer->status);
                }
            }
        }
        std::this_thread::sleep_until(tick);
    }
    int openTrickling = 0, openIdle = 0;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        if (up[i] && !closed[i] && !sockets[i].closedByPeer()) {
            (i % 2 == 0 ? openTrickling : openIdle) += 1;
        }
    }
    const int half = (sizes_.slowConnections + 1) / 2;
    std::string got = "open after " + std::to_string(sizes_.slowHold.count()) + " s: trickling " +
                      std::to_string(openTrickling) + "/" + std::to_string(half) + ", idle " +
                      std::to_string(openIdle) + "/" +
                      std::to_string(sizes_.slowConnections - half);
    if (firstCloseSecond >= 0) {
        got += "; first closed at " + std::to_string(firstCloseSecond) + " s";
        if (!statuses.empty()) {
            got += " (" + std::to_string(statuses.front()) + ")";
        }
    }
    if (refused + pending > 0) {
        got += "; " + std::to_string(refused) + " refused, " + std::to_string(pending) +
               " not connected in 2 s";
    }
    return {got, {}, {}};
}

AttackOutcome Attacks::pipelined() {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    RawSocket socket(address, port_);
    Io io = socket.finishConnect(deadline);
    if (io != Io::ok) {
        return {"connect " + std::string(RawSocket::describe(io)), false, "pipelining"};
    }
    socket.send(
        "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
        "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
        deadline);
    std::vector<HttpAnswer> answers;
    while (answers.size() < 2) {
        auto answer = socket.readAnswer(deadline, io);
        if (!answer) {
            break;
        }
        answers.push_back(std::move(*answer));
    }
    const auto closes = [](const HttpAnswer& a) {
        std::string value = a.header("connection");
        std::transform(value.begin(), value.end(), value.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return value.find("close") != std::string::npos;
    };
    const bool inOrder = answers.size() == 2 && answers[0].status == 200 &&
                         answers[1].status == 200 && !closes(answers[0]) && closes(answers[1]);
    std::string got = std::to_string(answers.size()) + " answer" + (answers.size() == 1 ? "" : "s");
    for (std::size_t i = 0; i < answers.size(); ++i) {
        got += (i == 0 ? " (" : ", ") + std::to_string(answers[i].status);
        got += i + 1 == answers.size() ? ")" : "";
    }
    got += inOrder ? ", in order" : (answers.size() == 2 ? ", order unclear" : "");
    if (answers.size() < 2) {
        got += std::string(", then ") + RawSocket::describe(io);
    }
    return {got, inOrder, "pipelining"};
}

AttackOutcome Attacks::keepAliveLatency() {
    const std::string keepAlive = "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    const std::string closing =
        "GET /health HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    const auto limit = std::chrono::seconds(2);
    const int warmUp = 5;
    std::vector<double> reused, fresh;
    int reconnects = 0, failures = 0;
    std::optional<RawSocket> kept;
    for (int i = 0; i < sizes_.latencyRequests + warmUp; ++i) {
        const auto began = Clock::now();
        Io io = Io::ok;
        if (!kept || kept->closedByPeer()) {
            reconnects += kept ? 1 : 0;
            kept.emplace(address, port_);
            io = kept->finishConnect(began + limit);
        }
        if (io == Io::ok) {
            kept->send(keepAlive, began + limit);
        }
        const auto answer = io == Io::ok ? kept->readAnswer(began + limit, io) : std::nullopt;
        if (!answer) {
            ++failures;
            kept.reset();
        } else if (i >= warmUp) {
            reused.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - began).count());
        }
    }
    kept.reset();
    for (int i = 0; i < sizes_.latencyRequests + warmUp; ++i) {
        const auto began = Clock::now();
        RawSocket socket(address, port_);
        Io io = socket.finishConnect(began + limit);
        if (io == Io::ok) {
            socket.send(closing, began + limit);
        }
        const auto answer = io == Io::ok ? socket.readAnswer(began + limit, io) : std::nullopt;
        if (!answer) {
            ++failures;
        } else if (i >= warmUp) {
            fresh.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - began).count());
        }
    }
    if (reused.empty() || fresh.empty()) {
        return {"no answers (" + std::to_string(failures) + " failed)", false, "latency"};
    }
    const double difference = median(reused) - median(fresh);
    std::string got = "median reused " + ms(median(reused)) + ", new " + ms(median(fresh)) +
                      ", difference " + ms(difference);
    if (reconnects > 0) {
        got += ", server closed the kept connection " + std::to_string(reconnects) + "x";
    }
    if (failures > 0) {
        got += ", " + std::to_string(failures) + " failed";
    }
    return {got, difference <= 2.0 && failures == 0, "latency"};
}

AttackOutcome Attacks::backlog() {
    std::vector<RawSocket> sockets;
    sockets.reserve(static_cast<std::size_t>(sizes_.backlogConnects));
    for (int i = 0; i < sizes_.backlogConnects; ++i) {
        sockets.emplace_back(address, port_);
    }
    const auto connectDeadline = Clock::now() + std::chrono::seconds(2);
    std::vector<Io> states;
    for (auto& socket : sockets) {
        states.push_back(socket.finishConnect(connectDeadline));
    }
    const auto count = [&](Io io) {
        return static_cast<int>(std::count(states.begin(), states.end(), io));
    };
    const int connected = count(Io::ok), refused = count(Io::failed), pending = count(Io::timeout);
    std::this_thread::sleep_until(connectDeadline + sizes_.backlogHold);
    int closed = 0, late = 0;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        if (states[i] == Io::ok) {
            closed += sockets[i].closedByPeer();
        } else if (states[i] == Io::timeout) {
            late += sockets[i].pollConnect() == Io::ok;
        }
    }
    std::string got = std::to_string(connected) + " connected, " + std::to_string(refused) +
                      " refused, " + std::to_string(pending) + " no handshake in 2 s";
    if (late > 0) {
        got += " (" + std::to_string(late) + " of them later)";
    }
    got += "; " + std::to_string(closed) + " closed by the server in " +
           std::to_string(sizes_.backlogHold.count()) + " s";
    return {got, {}, {}};
}

}  // namespace sayloft::bench
