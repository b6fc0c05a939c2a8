#include "core/update/UpdateSignature.h"

#include <cctype>
#include <memory>

#include <openssl/evp.h>

namespace sayloft {

std::string UpdateSignature::message(std::string_view version, std::string_view package) {
    std::string bytes;
    bytes.reserve(version.size() + 1 + package.size());
    bytes.append(version);
    bytes.push_back('\0');
    bytes.append(package);
    return bytes;
}

std::optional<std::string> UpdateSignature::decodeBase64(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) {
        return std::nullopt;
    }
    // EVP_DecodeBlock accepts and skips white space and decodes padding as zero bytes: refuse
    // the former, drop the latter.
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool padding = c == '=' && i + 2 >= text.size();
        if (!padding && !std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/') {
            return std::nullopt;
        }
    }
    const std::size_t pad = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
    if (pad == 1 && text[text.size() - 2] == '=') {
        return std::nullopt;
    }
    std::string out(text.size() / 4 * 3, '\0');
    const int written = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                        reinterpret_cast<const unsigned char*>(text.data()),
                                        static_cast<int>(text.size()));
    if (written < 0 || static_cast<std::size_t>(written) != out.size()) {
        return std::nullopt;
    }
    out.resize(out.size() - pad);
    return out;
}

bool UpdateSignature::verify(std::string_view publicKeyBase64, std::string_view version,
                             std::string_view package, std::string_view signatureBase64) {
    const auto key = decodeBase64(publicKeyBase64);
    const auto signature = decodeBase64(signatureBase64);
    if (!key || key->size() != 32 || !signature || signature->size() != 64) {
        return false;
    }
    const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(key->data()),
                                    key->size()),
        &EVP_PKEY_free);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!pkey || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1) {
        return false;
    }
    const std::string signed_ = message(version, package);
    return EVP_DigestVerify(
               context.get(), reinterpret_cast<const unsigned char*>(signature->data()),
               signature->size(), reinterpret_cast<const unsigned char*>(signed_.data()),
               signed_.size()) == 1;
}

}  // namespace sayloft
