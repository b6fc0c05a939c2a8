#include "core/update/UpdatePackageStore.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/storage/FileIo.h"
#include "core/update/UpdateError.h"
#include "core/update/UpdateVersion.h"

namespace sayloft {

namespace {

// Debian's name for the architecture this program was built for.
constexpr std::string_view architecture() {
#if defined(__x86_64__)
    return "amd64";
#elif defined(__aarch64__)
    return "arm64";
#elif defined(__i386__)
    return "i386";
#else
    return "unknown";
#endif
}

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& path, int error) {
    throw UpdateError(UpdateError::Code::storeFailed,
                      what + " " + path.string() + ": " + std::strerror(error));
}

}  // namespace

UpdatePackageStore::UpdatePackageStore(std::filesystem::path folder) : folder_(std::move(folder)) {
}

std::filesystem::path UpdatePackageStore::pathFor(std::string_view version) const {
    return folder_ /
           ("sayloft_" + std::string(version) + "_" + std::string(architecture()) + ".deb");
}

void UpdatePackageStore::preparePrivateFolder() const {
    if (!FileIo::makeFolders(folder_, true)) {
        fail("cannot create the folder", folder_, errno);
    }
    struct stat info {};
    if (lstat(folder_.c_str(), &info) != 0) {
        fail("cannot read the folder", folder_, errno);
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid()) {
        throw UpdateError(UpdateError::Code::storeFailed,
                          "the folder " + folder_.string() +
                              " is not a folder of this user's own; remove it and try again");
    }
    if ((info.st_mode & 077) != 0 && chmod(folder_.c_str(), 0700) != 0) {
        fail("cannot make the folder private", folder_, errno);
    }
}

std::filesystem::path UpdatePackageStore::store(std::string_view version,
                                                std::string_view bytes) const {
    if (!UpdateVersion::isValid(version)) {
        throw UpdateError(UpdateError::Code::storeFailed, "not a release version");
    }
    preparePrivateFolder();
    const auto path = pathFor(version);
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        fail("cannot remove the earlier download", path, errno);
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        fail("cannot create", path, errno);
    }
    std::size_t done = 0;
    int error = 0;
    while (done < bytes.size() && error == 0) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            error = errno;
        }
    }
    if (error == 0 && fsync(fd) != 0) {
        error = errno;
    }
    if (close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        unlink(path.c_str());
        fail("cannot write", path, error);
    }
    return path;
}

}  // namespace sayloft
