#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "byte_text.h"
#include "cli_files.h"

namespace {

bool WriteAll(int fd, const unsigned char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Reads until `size` bytes or the file's end.
bool ReadAll(int fd, unsigned char* buffer, std::size_t size, std::size_t* count) {
    while (*count < size) {
        const ssize_t got = read(fd, buffer + *count, size - *count);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        *count += static_cast<std::size_t>(got);
    }
    return true;
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
    const int fd =
        open(path, O_RDONLY | (followLinks ? 0 : O_NOFOLLOW) | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat opened {};
    if (fd < 0) {
        return ReadHeadResult::Failed;
    }
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        close(fd);
        return ReadHeadResult::NotAFile;
    }
    const bool read = ReadAll(fd, buffer, size, count);
    close(fd);
    return read ? ReadHeadResult::Read : ReadHeadResult::Failed;
}

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
int CreateBeside(const std::string& target, std::string* written) {
    constexpr int kAttempts = 1000;
    for (int attempt = 0;; ++attempt) {
        *written = target + ".velmora-new";
        if (attempt > 0) {
            *written += "-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        }
        const int fd =
            open(written->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0 || errno != EEXIST || attempt + 1 == kAttempts) {
            return fd;
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
    const int fd = replace ? CreateBeside(target, &written)
                           : open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        if (errno == EEXIST && !replace) {
            return IsNotAFile(path, kind) ? CreateFileResult::NotAFile : CreateFileResult::Exists;
        }
        *error = std::strerror(errno);
        return CreateFileResult::Failed;
    }
    const bool complete = WriteAll(fd, bytes, size) && fsync(fd) == 0;
    const int savedError = errno;
    if (close(fd) != 0 || !complete) {
        *error = std::strerror(complete ? errno : savedError);
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

bool AbsolutePath(const char* path, std::string* absolute) {
    if (path[0] == '/') {
        *absolute = path;
        return true;
    }
    char folder[PATH_MAX];
    if (getcwd(folder, sizeof folder) == nullptr) {
        return false;
    }
    *absolute = folder;
    if (absolute->back() != '/') {
        *absolute += '/';
    }
    *absolute += path;
    return true;
}

void SplitPath(const std::string& path, std::string* directory, std::string* name) {
    const std::size_t slash = path.rfind('/');
    *directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsRegularFile(const char* path) {
    struct stat status {};
    return stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

bool AreSameFile(const char* first, const char* second) {
    struct stat a {};
    struct stat b {};
    return stat(first, &a) == 0 && stat(second, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

std::string LastSystemErrorText() {
    return SystemErrorText(static_cast<std::uint32_t>(errno));
}

std::string SystemErrorText(std::uint32_t code) {
    return std::strerror(static_cast<int>(code));
}

std::string NameAsText(const std::string& name) {
    // UTF-8 bytes as the file system holds them; a control character in a
    // name would start a new line or steer a terminal.
    return Utf8WithControlsEscaped(name);
}

void WriteText(std::FILE* stream, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stream);
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

bool IsPlainName(const char* name) {
    return name[0] != '\0' && std::strchr(name, '/') == nullptr && std::strcmp(name, ".") != 0 &&
           std::strcmp(name, "..") != 0;
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
    if ((linkOwner != geteuid() && linkOwner != status->st_uid) || !S_ISREG(status->st_mode)) {
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
    if (!IsPlainName(name) || fstatat(static_cast<int>(folder), name, &status, 0) != 0) {
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
    if (!IsPlainName(name)) {
        return ReadHeadResult::NotAFile;
    }
    const ReadHeadResult looked = StatNameIn(folderFd, name, rule, &named);
    if (looked != ReadHeadResult::Read) {
        return looked;
    }
    const int fd = openat(folderFd, name,
                          O_RDONLY | (rule == LinkRule::NeverFollow ? O_NOFOLLOW : 0) | O_NONBLOCK |
                              O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        // EWOULDBLOCK: another program holds a lease on it, and lets go soon.
        return errno == ENOENT        ? ReadHeadResult::Missing
               : errno == EWOULDBLOCK ? ReadHeadResult::Busy
                                      : ReadHeadResult::Failed;
    }
    // The name may lead elsewhere since it was looked at.
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
        close(fd);
        return ReadHeadResult::NotAFile;
    }
    const bool read = ReadAll(fd, buffer, size, count);
    close(fd);
    return read ? ReadHeadResult::Read : ReadHeadResult::Failed;
}

bool FlushesEachRepair() {
    return false;
}

bool BeginRepairSync(const char* folder, RepairSync* sync, std::string* error) {
    const int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A folder that may be searched but not read cannot be opened for
    // syncfs; its files are repaired all the same.
    if (fd < 0 && errno == EACCES) {
        sync->wholeSystem = true;
        return true;
    }
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    sync->folder = fd;
    return true;
}

bool FinishRepairSync(RepairSync* sync, std::string* error) {
    if (sync->wholeSystem) {
        sync->wholeSystem = false;
        ::sync();  // waits for the write-back, but tells of no error
        return true;
    }
    const int fd = static_cast<int>(sync->folder);
    sync->folder = -1;
    // Since Linux 5.8 syncfs also fails for a write-back error that struck
    // the file system since the descriptor was opened.
    const bool synced = syncfs(fd) == 0;
    if (!synced) {
        *error = std::strerror(errno);
    }
    close(fd);
    return synced;
}

bool MayStandInFileName(const std::string& text) {
    return text.find('/') == std::string::npos && text.find('\0') == std::string::npos;
}
