#include "server/UnixSocketHttp.h"

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "core/storage/FileIo.h"

namespace sayloft {
namespace {

bool fail(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
    return false;
}

std::string lastError() {
    return std::strerror(errno);
}

// Whether a server accepts connections on the socket at address.
bool answers(const sockaddr_un& address) {
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return false;
    }
    const bool connected =
        ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    return connected;
}

// Makes room for the socket: a private folder, and no live socket or other file in the way.
bool prepare(const std::filesystem::path& path, const sockaddr_un& address, std::string* error) {
    const auto folder = path.parent_path();
    struct stat info {};
    if (!FileIo::makeFolders(folder, true) || ::stat(folder.c_str(), &info) != 0) {
        return fail(error,
                    "cannot create the folder " + folder.string() + " (" + lastError() + ")");
    }
    if (info.st_uid != ::getuid() || (info.st_mode & 077) != 0) {
        return fail(error, "refusing to listen in " + folder.string() +
                               ": others may enter it (it must be this user's, mode 0700)");
    }
    if (::lstat(path.c_str(), &info) != 0) {
        return errno == ENOENT ||
               fail(error, "cannot look at " + path.string() + " (" + lastError() + ")");
    }
    if (!S_ISSOCK(info.st_mode)) {
        return fail(error, path.string() + " exists and is not a socket; not touching it");
    }
    if (answers(address)) {
        return fail(error, "another server already answers on " + path.string());
    }
    if (::unlink(path.c_str()) != 0) {
        return fail(error,
                    "cannot remove the stale socket " + path.string() + " (" + lastError() + ")");
    }
    return true;
}

}  // namespace

std::optional<UnixSocketHttp::Listening> UnixSocketHttp::bind(const std::filesystem::path& path,
                                                              int backlog, std::string* error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string text = path.string();
    if (text.empty() || text.size() >= sizeof address.sun_path) {
        fail(error, "the socket path must have 1 to " +
                        std::to_string(sizeof address.sun_path - 1) + " bytes: " + text);
        return std::nullopt;
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    if (!prepare(path, address, error)) {
        return std::nullopt;
    }
    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listening < 0) {
        fail(error, "no socket (" + lastError() + ")");
        return std::nullopt;
    }
    struct stat info {};
    // The folder is private already; 0600 also keeps the file itself closed to others.
    if (::bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(text.c_str(), 0600) != 0 || ::stat(text.c_str(), &info) != 0 ||
        ::listen(listening, backlog) != 0) {
        fail(error, "cannot listen on " + text + " (" + lastError() + ")");
        ::close(listening);
        return std::nullopt;
    }
    return Listening{listening, info.st_ino};
}

void UnixSocketHttp::unlink(const std::filesystem::path& path, ino_t inode) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_ino == inode) {
        ::unlink(path.c_str());
    }
}

}  // namespace sayloft
