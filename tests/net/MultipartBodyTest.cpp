#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/net/MultipartBody.h"
#include "core/net/Uuid.h"

namespace sayloft {
namespace {

const std::string boundary = "wordcast-0F1E2D3C-4B5A-4968-8776-A5B4C3D2E1F0";

std::vector<std::uint8_t> bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

TEST(Uuid, IsARandomVersion4UuidInUpperCase) {
    const std::regex canonical(
        "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string uuid = Uuid::randomV4();
        ASSERT_TRUE(std::regex_match(uuid, canonical)) << uuid;
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(MultipartBody, BoundaryIsWordcastAndAUuid45CharactersLongNewEachTime) {
    const std::string first = MultipartBody::newBoundary();
    EXPECT_EQ(first.size(), 45u);
    EXPECT_EQ(first.rfind("wordcast-", 0), 0u);
    EXPECT_NE(first, MultipartBody::newBoundary());
    EXPECT_EQ(MultipartBody::contentType(boundary), "multipart/form-data; boundary=" + boundary);
}

TEST(MultipartBody, TranscriptionBodyIsExact) {
    const std::string wav("RIFF\x00\x01\r\n--\xff", 11);
    const std::string expected =
        "--" + boundary +
        "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.wav\"\r\n"
        "Content-Type: audio/wav\r\n\r\n" +
        wav + "\r\n--" + boundary +
        "\r\nContent-Disposition: form-data; name=\"app_version\"\r\n\r\n"
        "1.2.3\r\n--" +
        boundary + "--\r\n";
    EXPECT_EQ(MultipartBody::transcription(boundary, bytes(wav), "1.2.3"), expected);
}

TEST(MultipartBody, TranscriptionPiecesHaveTheirFixedLengths) {
    // An empty WAV still gives a well-formed body with an empty file part.
    const std::string body = MultipartBody::transcription(boundary, {}, "dev");
    const std::size_t delimiter = 2 + boundary.size();
    const std::size_t fileHeader = 92;
    const std::size_t versionHeader = 56;
    EXPECT_EQ(body.size(),
              delimiter + fileHeader + (2 + delimiter) + versionHeader + 3 + (2 + delimiter) + 4);
    EXPECT_EQ(body.substr(delimiter + fileHeader, 2 + delimiter), "\r\n--" + boundary);
}

TEST(MultipartBody, CrashBodyWithAnEmptyReportIsExact) {
    const std::string expected =
        "--" + boundary +
        "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"crash.ips\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n"
        "\r\n"
        "--" +
        boundary +
        "\r\nContent-Disposition: form-data; name=\"app_version\"\r\n\r\ndev\r\n"
        "--" +
        boundary +
        "\r\nContent-Disposition: form-data; name=\"os_version\"\r\n\r\n"
        "Debian GNU/Linux 12 (bookworm)\r\n"
        "--" +
        boundary +
        "\r\nContent-Disposition: form-data; name=\"platform\"\r\n\r\nlinux\r\n"
        "--" +
        boundary + "--\r\n";
    EXPECT_EQ(
        MultipartBody::crashReport(boundary, {}, "dev", "Debian GNU/Linux 12 (bookworm)", "linux"),
        expected);
}

TEST(MultipartBody, CrashPiecesHaveTheirFixedLengthsAndKeepTheReportBytes) {
    const std::string report("{\"sig\":11}\n\0\r\n", 14);
    const std::string body = MultipartBody::crashReport(boundary, bytes(report), "v", "o", "p");
    const std::size_t delimiter = 2 + boundary.size();
    const std::size_t fileHeader = 111;
    const std::size_t field = delimiter + 40 + 5 + 2;  // plus name and value
    EXPECT_EQ(body.substr(delimiter + fileHeader, report.size()), report);
    EXPECT_EQ(body.size(), delimiter + fileHeader + report.size() + 2 + (field + 11 + 1) +
                               (field + 10 + 1) + (field + 8 + 1) + delimiter + 4);
}

}  // namespace
}  // namespace sayloft
