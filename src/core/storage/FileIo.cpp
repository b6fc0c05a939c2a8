#include "core/storage/FileIo.h"

#include <algorithm>
#include <cerrno>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/storage/FileDescriptor.h"

namespace sayloft {
namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string randomSuffix() {
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device device;
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(alphabet) - 2);
    std::string suffix;
    for (int i = 0; i < 10; ++i) {
        suffix += alphabet[pick(device)];
    }
    return suffix;
}

}  // namespace

std::optional<std::string> FileIo::read(const std::filesystem::path& path) {
    return readAtMost(path, std::string::npos - 1);
}

std::optional<std::string> FileIo::readAtMost(const std::filesystem::path& path,
                                              std::size_t maxBytes) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    std::string content;
    char buffer[16384];
    for (;;) {
        const std::size_t wanted = std::min(sizeof buffer, maxBytes + 1 - content.size());
        if (wanted == 0) {
            return content;
        }
        const ssize_t got = ::read(fd.get(), buffer, wanted);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        if (got == 0) {
            return content;
        }
        content.append(buffer, static_cast<std::size_t>(got));
    }
}

bool FileIo::replaceAtomically(const std::filesystem::path& path, std::string_view bytes,
                               mode_t mode) {
    std::filesystem::path temporary;
    int raw = -1;
    for (int attempt = 0; attempt < 8 && raw < 0; ++attempt) {
        temporary = path;
        temporary += ".tmp-" + randomSuffix();
        // O_EXCL with the final mode: the file never exists with wider permissions, not even
        // for an instant (umask can only narrow them).
        raw = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (raw < 0 && errno != EEXIST) {
            return false;
        }
    }
    if (raw < 0) {
        return false;
    }
    FileDescriptor fd(raw);
    const bool written =
        ::fchmod(fd.get(), mode) == 0 && writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    if (!fd.close() || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool FileIo::makeFolders(const std::filesystem::path& folder, bool privateFolder) {
    if (folder.empty()) {
        return false;
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode);
    }
    const auto parent = folder.parent_path();
    if (parent != folder && !parent.empty() && !makeFolders(parent, privateFolder)) {
        return false;
    }
    if (::mkdir(folder.c_str(), privateFolder ? 0700 : 0755) == 0) {
        return true;
    }
    return errno == EEXIST && ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace sayloft
