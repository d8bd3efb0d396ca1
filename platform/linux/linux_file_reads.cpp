#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "file_reads.h"
#include "linux_file_checks.h"
#include "unique_fd.h"

namespace {

// Reads the rest of an open file's start into buffer, up to `size`.
ReadHeadResult ReadRest(int fd, unsigned char* buffer, std::size_t size, std::size_t* count) {
    return ReadAll(fd, buffer, size, count) == 0 ? ReadHeadResult::Read : ReadHeadResult::Failed;
}

}  // namespace

ReadHeadResult ReadRegularFileStart(const char* path, bool followLinks, unsigned char* buffer,
                                    std::size_t size, std::size_t* count) {
    *count = 0;
    // Looked at before it is opened: a FIFO or a device is never opened.
    struct stat status {};
    if ((followLinks ? stat(path, &status) : lstat(path, &status)) != 0) {
        return errno == ENOENT ? ReadHeadResult::Missing : ReadHeadResult::Failed;
    }
    if (!S_ISREG(status.st_mode)) {
        return ReadHeadResult::NotAFile;
    }
    const UniqueFd file(
        open(path, O_RDONLY | (followLinks ? 0 : O_NOFOLLOW) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat opened {};
    if (!file.valid()) {
        return ReadHeadResult::Failed;
    }
    if (fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode)) {
        return ReadHeadResult::NotAFile;
    }
    return ReadRest(file.get(), buffer, size, count);
}

namespace {

void StampOf(const struct stat& status, FileStamp* stamp) {
    stamp->volume = status.st_dev;
    stamp->file = status.st_ino;
    stamp->size = static_cast<std::uint64_t>(status.st_size);
    stamp->written =
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    stamp->regular = S_ISREG(status.st_mode);
}

// What the name stands for in the folder: the file itself, or with
// FollowTrusted the file a trusted link leads to. NotAFile for a link that is
// not followed.
ReadHeadResult StatNameIn(int folder, const char* name, LinkRule rule, struct stat* status) {
    if (fstatat(folder, name, status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? ReadHeadResult::Missing : ReadHeadResult::Failed;
    }
    // A follow-up file with a second name (a hard link) may be a file
    // outside the folder: it is never written, so not read either.
    if (!S_ISLNK(status->st_mode)) {
        const bool followUpWithLinks = rule == LinkRule::NeverFollow && status->st_nlink != 1;
        return S_ISREG(status->st_mode) && !followUpWithLinks ? ReadHeadResult::Read
                                                              : ReadHeadResult::NotAFile;
    }
    const uid_t linkOwner = status->st_uid;
    if (rule == LinkRule::NeverFollow) {
        return ReadHeadResult::NotAFile;
    }
    if (fstatat(folder, name, status, 0) != 0) {
        return errno == ENOENT ? ReadHeadResult::Missing : ReadHeadResult::Failed;
    }
    // Another user's link to a file of a third: its bytes would end up in
    // every repaired follow-up file.
    if (!IsTrustedLink(linkOwner, status->st_uid) || !S_ISREG(status->st_mode)) {
        return ReadHeadResult::NotAFile;
    }
    return ReadHeadResult::Read;
}

}  // namespace

bool StampFile(const char* path, FileStamp* stamp) {
    struct stat status {};
    if (stat(path, &status) != 0) {
        return false;
    }
    StampOf(status, stamp);
    return true;
}

bool StampFileIn(std::intptr_t folder, const std::string& /*folderPath*/, const char* name,
                 FileStamp* stamp) {
    struct stat status {};
    if (!IsPlainFileName(name) || fstatat(static_cast<int>(folder), name, &status, 0) != 0) {
        return false;
    }
    StampOf(status, stamp);
    return true;
}

ReadHeadResult ReadFileStartIn(std::intptr_t folder, const std::string& /*folderPath*/,
                               const char* name, LinkRule rule, unsigned char* buffer,
                               std::size_t size, std::size_t* count) {
    *count = 0;
    const int folderFd = static_cast<int>(folder);
    struct stat named {};
    if (!IsPlainFileName(name)) {
        return ReadHeadResult::NotAFile;
    }
    const ReadHeadResult looked = StatNameIn(folderFd, name, rule, &named);
    if (looked != ReadHeadResult::Read) {
        return looked;
    }
    const UniqueFd file(openat(folderFd, name,
                               O_RDONLY | (rule == LinkRule::NeverFollow ? O_NOFOLLOW : 0) |
                                   O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!file.valid()) {
        // EWOULDBLOCK: another program holds a lease on it, and lets go soon.
        return errno == ENOENT        ? ReadHeadResult::Missing
               : errno == EWOULDBLOCK ? ReadHeadResult::Busy
                                      : ReadHeadResult::Failed;
    }
    // The name may lead elsewhere since it was looked at.
    struct stat opened {};
    if (fstat(file.get(), &opened) != 0 || !IsSameFile(opened, named)) {
        return ReadHeadResult::NotAFile;
    }
    return ReadRest(file.get(), buffer, size, count);
}
