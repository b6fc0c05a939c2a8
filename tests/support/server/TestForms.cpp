#include "TestForms.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace sayloft::test {
namespace {

std::string le(std::uint32_t value, int size) {
    std::string out;
    for (int i = 0; i < size; ++i) {
        out += static_cast<char>(value >> (8 * i));
    }
    return out;
}

// A canonical WAV: the 44-byte header, then `data`.
std::string wav(std::uint16_t format, std::uint32_t rate, std::uint16_t channels,
                std::uint16_t bits, const std::string& data) {
    const auto size = static_cast<std::uint32_t>(data.size());
    return "RIFF" + le(36 + size, 4) + "WAVEfmt " + le(16, 4) + le(format, 2) + le(channels, 2) +
           le(rate, 4) + le(rate * channels * bits / 8, 4) + le(channels * bits / 8, 2) +
           le(bits, 2) + "data" + le(size, 4) + data;
}

std::string part(const std::string& boundary, const std::string& name, const std::string& value) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
           value + "\r\n";
}

std::string filePart(const std::string& boundary, const char* name, const char* type,
                     const std::string& bytes) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
           name + "\"\r\nContent-Type: " + type + "\r\n\r\n" + bytes + "\r\n";
}

}  // namespace

std::string TestForms::newBoundary() {
    std::mt19937_64 random{std::random_device{}()};
    std::string hex(32, '0');
    for (auto& digit : hex) {
        digit = "0123456789ABCDEF"[random() % 16];
    }
    hex[12] = '4';
    hex[16] = "89AB"[random() % 4];
    return "wordcast-" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
           hex.substr(16, 4) + "-" + hex.substr(20);
}

std::string TestForms::transcribeBody(const std::string& boundary, const std::string& wav,
                                      const std::string& appVersion) {
    return filePart(boundary, "a.wav", "audio/wav", wav) +
           part(boundary, "app_version", appVersion) + "--" + boundary + "--\r\n";
}

std::string TestForms::crashBody(const std::string& boundary, const std::string& report,
                                 const std::string& appVersion, const std::string& osVersion,
                                 const std::string& platform) {
    return filePart(boundary, "crash.ips", "application/octet-stream", report) +
           part(boundary, "app_version", appVersion) + part(boundary, "os_version", osVersion) +
           part(boundary, "platform", platform) + "--" + boundary + "--\r\n";
}

std::string TestForms::wav16(std::span<const std::int16_t> samples, std::uint32_t rate,
                             std::uint16_t channels) {
    std::string data;
    for (const auto s : samples) {
        data += le(static_cast<std::uint16_t>(s), 2);
    }
    return wav(1, rate, channels, 16, data);
}

std::string TestForms::wavFloat(std::span<const float> samples, std::uint32_t rate,
                                std::uint16_t channels) {
    std::string data;
    for (const float s : samples) {
        data += le(std::bit_cast<std::uint32_t>(s), 4);
    }
    return wav(3, rate, channels, 32, data);
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
    for (std::size_t at = 12; at + 8 <= bytes.size();) {
        std::uint32_t size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (bytes.compare(at, 4, "data") == 0) {
            std::vector<std::int16_t> samples(std::min<std::size_t>(size, bytes.size() - at - 8) /
                                              2);
            std::memcpy(samples.data(), bytes.data() + at + 8, samples.size() * 2);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    throw std::runtime_error(path + " has no data chunk");
}

}  // namespace sayloft::test
