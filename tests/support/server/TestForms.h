#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sayloft::test {

// Request bodies byte for byte as the Sayloft client builds them, and WAV files for the tests.
struct TestForms {
    // "wordcast-" + an upper-case version 4 UUID: 45 characters.
    static std::string newBoundary();

    static std::string transcribeBody(const std::string& boundary, const std::string& wav,
                                      const std::string& appVersion = "dev");
    static std::string crashBody(const std::string& boundary, const std::string& report,
                                 const std::string& appVersion, const std::string& osVersion,
                                 const std::string& platform);
    static std::string contentType(const std::string& boundary) {
        return "multipart/form-data; boundary=" + boundary;
    }

    // A canonical 16-bit PCM WAV.
    static std::string wav16(std::span<const std::int16_t> samples, std::uint32_t rate,
                             std::uint16_t channels = 1);
    // 32-bit float WAV (format 3), interleaved.
    static std::string wavFloat(std::span<const float> samples, std::uint32_t rate,
                                std::uint16_t channels);
    // A tone of the given length at 16 kHz.
    static std::vector<std::int16_t> tone(double seconds, double hertz = 440.0);

    // The 16 kHz mono samples of a canonical 16-bit WAV file (throws if it is not one).
    static std::vector<std::int16_t> readWav16(const std::string& path);
    static std::string readFile(const std::string& path);
};

}  // namespace sayloft::test
