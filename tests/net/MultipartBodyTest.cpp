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

// Both bodies with payloads holding NUL, CR LF and a would-be delimiter, passed on untouched.
TEST(MultipartBody, BodiesAreExact) {
    const std::string wav("RIFF\x00\x01\r\n--\xff", 11);
    auto part = [](const std::string& disposition, const std::string& value) {
        return "--" + boundary + "\r\nContent-Disposition: form-data; " + disposition + "\r\n" +
               value + "\r\n";
    };
    EXPECT_EQ(MultipartBody::transcription(boundary, bytes(wav), "1.2.3"),
              part("name=\"file\"; filename=\"a.wav\"", "Content-Type: audio/wav\r\n\r\n" + wav) +
                  part("name=\"app_version\"", "\r\n1.2.3") + "--" + boundary + "--\r\n");
    EXPECT_EQ(MultipartBody::crashReport(boundary, bytes(wav), "dev", "Debian 12", "linux"),
              part("name=\"file\"; filename=\"crash.ips\"",
                   "Content-Type: application/octet-stream\r\n\r\n" + wav) +
                  part("name=\"app_version\"", "\r\ndev") +
                  part("name=\"os_version\"", "\r\nDebian 12") +
                  part("name=\"platform\"", "\r\nlinux") + "--" + boundary + "--\r\n");
}

}  // namespace
}  // namespace sayloft
