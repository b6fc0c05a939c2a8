#include "TestForms.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <unistd.h>

namespace sayloft::test {
namespace {

void put16(std::string& out, std::uint16_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}
void put32(std::string& out, std::uint32_t v) {
    put16(out, static_cast<std::uint16_t>(v & 0xFFFF));
    put16(out, static_cast<std::uint16_t>(v >> 16));
}

std::string header(std::uint16_t format, std::uint32_t rate, std::uint16_t channels,
                   std::uint16_t bits, std::uint32_t dataBytes) {
    std::string out = "RIFF";
    put32(out, 36 + dataBytes);
    out += "WAVEfmt ";
    put32(out, 16);
    put16(out, format);
    put16(out, channels);
    put32(out, rate);
    put32(out, rate * channels * bits / 8);
    put16(out, static_cast<std::uint16_t>(channels * bits / 8));
    put16(out, bits);
    out += "data";
    put32(out, dataBytes);
    return out;
}

}  // namespace

std::string TestForms::newBoundary() {
    static std::atomic<unsigned> made{0};
    char uuid[40];
    std::snprintf(uuid, sizeof uuid, "%08X-0F6B-4A2C-9D1E-%012X", ::getpid(), ++made);
    return std::string("wordcast-") + uuid;
}

std::string TestForms::transcribeBody(const std::string& boundary, const std::string& wav,
                                      const std::string& appVersion) {
    return "--" + boundary +
           "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.wav\"\r\n"
           "Content-Type: audio/wav\r\n\r\n" +
           wav + "\r\n--" + boundary +
           "\r\nContent-Disposition: form-data; name=\"app_version\"\r\n\r\n" + appVersion +
           "\r\n--" + boundary + "--\r\n";
}

std::string TestForms::crashBody(const std::string& boundary, const std::string& report,
                                 const std::string& appVersion, const std::string& osVersion,
                                 const std::string& platform) {
    auto field = [&](const std::string& name, const std::string& value) {
        return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
               "\"\r\n\r\n" + value + "\r\n";
    };
    return "--" + boundary +
           "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"crash.ips\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\n" +
           report + "\r\n" + field("app_version", appVersion) + field("os_version", osVersion) +
           field("platform", platform) + "--" + boundary + "--\r\n";
}

std::string TestForms::wav16(std::span<const std::int16_t> samples, std::uint32_t rate,
                             std::uint16_t channels) {
    std::string out = header(1, rate, channels, 16, static_cast<std::uint32_t>(samples.size() * 2));
    for (const auto s : samples) {
        put16(out, static_cast<std::uint16_t>(s));
    }
    return out;
}

std::string TestForms::wavFloat(std::span<const float> samples, std::uint32_t rate,
                                std::uint16_t channels) {
    std::string out = header(3, rate, channels, 32, static_cast<std::uint32_t>(samples.size() * 4));
    for (const float s : samples) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &s, 4);
        put32(out, bits);
    }
    return out;
}

std::vector<std::int16_t> TestForms::tone(double seconds, double hertz) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * 16000));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(
            8000 * std::sin(2 * M_PI * hertz * static_cast<double>(i) / 16000.0));
    }
    return samples;
}

std::string TestForms::readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

}  // namespace sayloft::test
