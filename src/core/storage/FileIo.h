#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <sys/types.h>

namespace sayloft {

// Whole-file reads and atomic replacement, reporting failure by value and never throwing.
struct FileIo {
    // The file's bytes; nullopt when it cannot be opened or read (absent, a directory, no
    // permission).
    static std::optional<std::string> read(const std::filesystem::path& path);

    // Like read, but stops after maxBytes + 1 bytes: a result longer than maxBytes means the file
    // is larger than that, without reading a huge file into memory.
    static std::optional<std::string> readAtMost(const std::filesystem::path& path,
                                                 std::size_t maxBytes);

    // Replaces path with bytes so that a reader sees either the old or the new content, never a
    // mixture. The bytes go to a temporary file in the same folder that is created with `mode`
    // before anything is written, flushed to disk, then renamed over path; on failure the
    // temporary file is removed and path is untouched.
    static bool replaceAtomically(const std::filesystem::path& path, std::string_view bytes,
                                  mode_t mode);

    // Creates the folder and its missing parents (mode 0700 for the ones created when private is
    // true, else 0755 before umask). An existing folder is fine.
    static bool makeFolders(const std::filesystem::path& folder, bool privateFolder = false);
};

}  // namespace sayloft
