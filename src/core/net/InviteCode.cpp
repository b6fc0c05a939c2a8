#include "core/net/InviteCode.h"

#include <algorithm>

#include <sys/stat.h>

#include "core/storage/FileIo.h"

namespace sayloft {

bool InviteCode::isValid(std::string_view code) {
    return !code.empty() && code.size() <= maxLength &&
           std::all_of(code.begin(), code.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

std::optional<std::string> InviteCode::load(const std::filesystem::path& file, std::string* error) {
    const std::string name = "the invitation file " + file.string();
    auto fail = [error](std::string reason) -> std::optional<std::string> {
        if (error != nullptr) {
            *error = std::move(reason);
        }
        return std::nullopt;
    };
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return fail(name + " cannot be read or is not a file");
    }
    if ((info.st_mode & S_IROTH) != 0) {
        return fail(name +
                    " can be read by every user of this computer; make it private with "
                    "chmod 600 (or 640 for a group)");
    }
    // Room for the longest code and a "\r\n" after it; anything longer is refused unread.
    auto text = FileIo::readAtMost(file, maxLength + 2);
    if (!text) {
        return fail(name + " cannot be read");
    }
    if (text->ends_with('\n')) {
        text->pop_back();
        if (text->ends_with('\r')) {
            text->pop_back();
        }
    }
    if (text->empty()) {
        return fail(name + " is empty; put a code in it, e.g. openssl rand -hex 16 > FILE");
    }
    if (text->size() > maxLength) {
        return fail(name + " is longer than " + std::to_string(maxLength) +
                    " characters; it must hold only the code, on one line");
    }
    if (!isValid(*text)) {
        return fail(name +
                    " must hold one code of letters, digits and punctuation only (no spaces, "
                    "one line)");
    }
    if (text->size() < minLength) {
        return fail(name + " holds a code of " + std::to_string(text->size()) +
                    " characters; use at least " + std::to_string(minLength) +
                    ", e.g. openssl rand -hex 16 > FILE");
    }
    return text;
}

}  // namespace sayloft
