#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "linux_file_checks.h"
#include "new_file.h"
#include "unique_fd.h"

namespace {

// What is at `path` when something other than a regular file is; false
// when nothing or a regular file is there, or it cannot be looked at (the
// create or the rename then tells why).
bool IsNotAFile(const char* path, NotAFileKind* kind) {
    struct stat status {};
    if (lstat(path, &status) != 0 || S_ISREG(status.st_mode)) {
        return false;
    }
    switch (status.st_mode & S_IFMT) {
    case S_IFDIR:
        *kind = NotAFileKind::Folder;
        break;
    case S_IFLNK:
        *kind = NotAFileKind::Link;
        break;
    case S_IFIFO:
        *kind = NotAFileKind::Fifo;
        break;
    case S_IFSOCK:
        *kind = NotAFileKind::Socket;
        break;
    default:
        *kind = NotAFileKind::Device;  // a character or block device
        break;
    }
    return true;
}

// Creates the file to be renamed over `target`, under a name that nothing
// has yet: a leftover of an interrupted run never blocks, and O_EXCL with
// O_NOFOLLOW never opens what is there, a link least of all.
UniqueFd CreateBeside(const std::string& target, std::string* written) {
    constexpr int kAttempts = 1000;
    for (int attempt = 0;; ++attempt) {
        *written = target + ".velmora-new";
        if (attempt > 0) {
            *written += "-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        }
        UniqueFd file(
            open(written->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
        if (file.valid() || errno != EEXIST || attempt + 1 == kAttempts) {
            return file;
        }
    }
}

}  // namespace

CreateFileResult CreateNewFile(const char* path, const unsigned char* bytes, std::size_t size,
                               bool replace, NotAFileKind* kind, std::string* error) {
    // Replacing writes a new file beside the old one and renames it over,
    // so a failure leaves the old file as it was. Only a regular file is
    // replaced: a device, a FIFO or a link (/dev/stdout is one) keeps its
    // name.
    const std::string target = path;
    if (replace && IsNotAFile(path, kind)) {
        return CreateFileResult::NotAFile;
    }
    std::string written = target;
    UniqueFd file =
        replace ? CreateBeside(target, &written)
                : UniqueFd(open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!file.valid()) {
        if (errno == EEXIST && !replace) {
            return IsNotAFile(path, kind) ? CreateFileResult::NotAFile : CreateFileResult::Exists;
        }
        *error = std::strerror(errno);
        return CreateFileResult::Failed;
    }
    int reason = WriteAll(file.get(), bytes, size);
    if (reason == 0 && fsync(file.get()) != 0) {
        reason = errno;
    }
    if (!file.close() && reason == 0) {
        reason = errno;
    }
    if (reason != 0) {
        *error = std::strerror(reason);
        unlink(written.c_str());
        return CreateFileResult::Failed;
    }
    if (replace && rename(written.c_str(), target.c_str()) != 0) {
        *error = std::strerror(errno);
        unlink(written.c_str());
        return CreateFileResult::Failed;
    }
    return CreateFileResult::Created;
}
