#include "core/net/MultipartBody.h"

#include "core/net/Uuid.h"

namespace sayloft {
namespace {

void appendBytes(std::string& out, std::span<const std::uint8_t> bytes) {
    out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void appendField(std::string& out, std::string_view boundary, std::string_view name,
                 std::string_view value) {
    out += "--";
    out += boundary;
    out += "\r\nContent-Disposition: form-data; name=\"";
    out += name;
    out += "\"\r\n\r\n";
    out += value;
    out += "\r\n";
}

}  // namespace

std::string MultipartBody::newBoundary() {
    return "wordcast-" + Uuid::randomV4();
}

std::string MultipartBody::contentType(std::string_view boundary) {
    return "multipart/form-data; boundary=" + std::string(boundary);
}

std::string MultipartBody::transcription(std::string_view boundary,
                                         std::span<const std::uint8_t> wav,
                                         std::string_view appVersion) {
    static constexpr std::string_view fileHeader =
        "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.wav\"\r\n"
        "Content-Type: audio/wav\r\n\r\n";
    static constexpr std::string_view versionHeader =
        "\r\nContent-Disposition: form-data; name=\"app_version\"\r\n\r\n";
    std::string body;
    body.reserve(wav.size() + appVersion.size() + 3 * boundary.size() + 180);
    body += "--";
    body += boundary;
    body += fileHeader;
    appendBytes(body, wav);
    body += "\r\n--";
    body += boundary;
    body += versionHeader;
    body += appVersion;
    body += "\r\n--";
    body += boundary;
    body += "--\r\n";
    return body;
}

std::string MultipartBody::crashReport(std::string_view boundary,
                                       std::span<const std::uint8_t> report,
                                       std::string_view appVersion, std::string_view osVersion,
                                       std::string_view platform) {
    static constexpr std::string_view fileHeader =
        "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"crash.ips\"\r\n"
        "Content-Type: application/octet-stream\r\n\r\n";
    std::string body;
    body.reserve(report.size() + appVersion.size() + osVersion.size() + 5 * boundary.size() + 320);
    body += "--";
    body += boundary;
    body += fileHeader;
    appendBytes(body, report);
    body += "\r\n";
    appendField(body, boundary, "app_version", appVersion);
    appendField(body, boundary, "os_version", osVersion);
    appendField(body, boundary, "platform", platform);
    body += "--";
    body += boundary;
    body += "--\r\n";
    return body;
}

}  // namespace sayloft
