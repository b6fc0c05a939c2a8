#include "TestForms.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

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
    std::random_device device;
    std::mt19937_64 random(device());
    const char* hex = "0123456789ABCDEF";
    std::string uuid;
    for (int i = 0; i < 32; ++i) {
        int digit = static_cast<int>(random() % 16);
        if (i == 12) {
            digit = 4;
        } else if (i == 16) {
            digit = 8 + digit % 4;
        }
        if (i == 8 || i == 12 || i == 16 || i == 20) {
            uuid += '-';
        }
        uuid += hex[digit];
    }
    return "wordcast-" + uuid;
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

std::vector<std::int16_t> TestForms::readWav16(const std::string& path) {
    const std::string bytes = readFile(path);
    // Walk the chunks for "data"; the files used here are 16 kHz mono 16-bit.
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        std::uint32_t size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (bytes.compare(at, 4, "data") == 0) {
            const std::size_t count = std::min<std::size_t>(size, bytes.size() - at - 8) / 2;
            std::vector<std::int16_t> samples(count);
            std::memcpy(samples.data(), bytes.data() + at + 8, count * 2);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    throw std::runtime_error(path + " has no data chunk");
}

}  // namespace sayloft::test
