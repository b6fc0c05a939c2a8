#include "core/storage/UserWordsFile.h"

#include <algorithm>
#include <sstream>

#include "core/storage/FileIo.h"
#include "core/text/UnicodeText.h"

namespace sayloft {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

std::filesystem::path UserWordsFile::defaultPath(const std::filesystem::path& configHome) {
    return configHome / "Sayloft" / "words.txt";
}

std::string UserWordsFile::normalise(std::string_view entry) {
    std::string out;
    bool gap = false;
    for (const char c : entry) {
        if (isSpace(c) || c == '\n') {
            gap = !out.empty();
        } else {
            if (gap) {
                out += ' ';
                gap = false;
            }
            out += c;
        }
    }
    return out;
}

std::optional<std::vector<std::string>> UserWordsFile::parse(std::string_view text,
                                                             std::string* error) {
    const auto fail = [&](std::string reason) -> std::optional<std::vector<std::string>> {
        if (error != nullptr) {
            *error = std::move(reason);
        }
        return std::nullopt;
    };
    if (text.size() > maxBytes) {
        return fail("it is larger than " + std::to_string(maxBytes / 1024) + " KiB");
    }
    if (text.find('\0') != std::string_view::npos || !UnicodeText::isValidUtf8(text)) {
        return fail("it is not UTF-8 text");
    }
    std::vector<std::string> entries;
    std::size_t lineNumber = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto end = std::min(text.find('\n', at), text.size());
        const auto entry = normalise(text.substr(at, end - at));
        at = end + 1;
        ++lineNumber;
        if (entry.empty() || entry.front() == '#') {
            continue;
        }
        if (entry.size() > maxEntryBytes) {
            return fail("line " + std::to_string(lineNumber) + " is longer than " +
                        std::to_string(maxEntryBytes) + " bytes");
        }
        if (std::find(entries.begin(), entries.end(), entry) == entries.end()) {
            entries.push_back(entry);
        }
    }
    return entries;
}

std::optional<std::vector<std::string>> UserWordsFile::read(const std::filesystem::path& path,
                                                            std::string* error) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec) {
        return std::vector<std::string>();
    }
    std::string reason;
    const auto text = FileIo::readAtMost(path, maxBytes);
    auto entries = text ? parse(*text, &reason) : std::nullopt;
    if (!text) {
        reason = "it cannot be read";
    }
    if (!entries && error != nullptr) {
        *error = "the words file " + path.string() + " is not usable: " + reason;
    }
    return entries;
}

bool UserWordsFile::write(const std::filesystem::path& path,
                          const std::vector<std::string>& entries, std::string* error) {
    std::ostringstream text;
    text << "# Words and phrases dictated often, one a line (sayloft-cli words add|list|remove).\n";
    for (const auto& entry : entries) {
        text << entry << "\n";
    }
    if (!FileIo::makeFolders(path.parent_path()) ||
        !FileIo::replaceAtomically(path, text.str(), 0644)) {
        if (error != nullptr) {
            *error = "cannot write the words file " + path.string();
        }
        return false;
    }
    return true;
}

}  // namespace sayloft
