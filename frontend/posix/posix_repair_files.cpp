#include "posix_repair_files.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// A file that nobody may write is read-only for this program, root included,
// as a read-only file is for an administrator on Windows.
bool HasWritePermission(const struct stat& status) {
    return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

int Fd(FileHandle file) {
    return static_cast<int>(file);
}

}  // namespace

bool IsPlainFileName(const char* name) {
    return name[0] != '\0' && std::strchr(name, '/') == nullptr && std::strcmp(name, ".") != 0 &&
           std::strcmp(name, "..") != 0;
}

PosixRepairFiles::PosixRepairFiles() {
    signal(SIGIO, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

FileHandle PosixRepairFiles::OpenForReading(const char* name) {
    OpenFailure failure = OpenFailure::None;
    const FileHandle file = OpenExclusive(name, O_RDONLY, &failure);
    if (file == kNoFile && failure == OpenFailure::NoExclusivity) {
        // Where leases cannot be had (a network file system, say) the
        // template is still only read, so the lock below is enough for it.
        return LockForReading(OpenChecked(name, O_RDONLY));
    }
    if (file == kNoFile) {
        return kNoFile;
    }
    // The lease showed that nobody else had the file open. Reading does not
    // need it any longer, and holding it would stall every program that
    // opens the template meanwhile.
    fcntl(Fd(file), F_SETLEASE, F_UNLCK);
    return LockForReading(file);
}

FileHandle PosixRepairFiles::LockForReading(FileHandle file) {
    // The lock keeps a second copy of this program away from the template.
    if (file == kNoFile) {
        return kNoFile;
    }
    if (flock(Fd(file), LOCK_EX | LOCK_NB) != 0) {
        CloseFile(file);
        return kNoFile;
    }
    return file;
}

FileHandle PosixRepairFiles::OpenForWriting(const char* directory, const char* name,
                                            OpenFailure* failure) {
    *failure = OpenFailure::Unavailable;
    // Only a plain name inside an absolute directory: nothing is ever resolved
    // against the current directory or outside the base directory.
    if (directory[0] != '/' || !IsPlainFileName(name)) {
        return kNoFile;
    }
    char path[PATH_MAX];
    const int length = std::snprintf(path, sizeof path, "%s%s", directory, name);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) {
        return kNoFile;
    }
    return OpenExclusive(path, O_WRONLY, failure);
}

FileHandle PosixRepairFiles::OpenExclusive(const char* path, int accessMode, OpenFailure* failure) {
    *failure = OpenFailure::Unavailable;
    const int fd = Fd(OpenChecked(path, accessMode));
    if (fd < 0) {
        return kNoFile;
    }
    if (fcntl(fd, F_SETLEASE, F_WRLCK) != 0) {
        const int error = errno;
        CloseFile(fd);
        // EAGAIN: somebody has the file open. Anything else (EACCES for a
        // file of another user, EINVAL on a file system without leases)
        // means exclusivity cannot be checked at all.
        if (error != EAGAIN && error != EWOULDBLOCK) {
            *failure = OpenFailure::NoExclusivity;
        }
        return kNoFile;
    }
    *failure = OpenFailure::None;
    return fd;
}

FileHandle PosixRepairFiles::OpenChecked(const char* path, int accessMode) {
    // Look before opening: opening a device or FIFO can block or have side
    // effects, and opening a file we hold would break our own lease.
    struct stat before {};
    if (stat(path, &before) != 0 || !S_ISREG(before.st_mode) ||
        IsHeld(before.st_dev, before.st_ino)) {
        return kNoFile;
    }
    if (accessMode != O_RDONLY && !HasWritePermission(before)) {
        return kNoFile;
    }
    const int fd = open(path, accessMode | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return kNoFile;
    }
    // The name may have been replaced between the look and the open.
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
        IsHeld(opened.st_dev, opened.st_ino)) {
        close(fd);
        return kNoFile;
    }
    held_.push_back({fd, opened.st_dev, opened.st_ino});
    return fd;
}

bool PosixRepairFiles::IsHeld(dev_t device, ino_t inode) const {
    for (const HeldFile& file : held_) {
        if (file.device == device && file.inode == inode) {
            return true;
        }
    }
    return false;
}

std::uint32_t PosixRepairFiles::FileLength(FileHandle file) {
    struct stat status {};
    if (fstat(Fd(file), &status) != 0 || status.st_size < 0 ||
        static_cast<unsigned long long>(status.st_size) > 0xFFFFFFFEull) {
        return 0xFFFFFFFFu;
    }
    return static_cast<std::uint32_t>(status.st_size);
}

bool PosixRepairFiles::ReadBytes(FileHandle file, void* buffer, std::uint32_t count,
                                 std::uint32_t* bytesRead) {
    ssize_t result;
    do {
        result = read(Fd(file), buffer, count);
    } while (result < 0 && errno == EINTR);
    *bytesRead = result < 0 ? 0 : static_cast<std::uint32_t>(result);
    return result >= 0;
}

bool PosixRepairFiles::WriteBytes(FileHandle file, const void* bytes, std::uint32_t count,
                                  std::uint32_t* bytesWritten) {
    ssize_t result;
    do {
        result = write(Fd(file), bytes, count);
    } while (result < 0 && errno == EINTR);
    *bytesWritten = result < 0 ? 0 : static_cast<std::uint32_t>(result);
    return result >= 0;
}

void PosixRepairFiles::CloseFile(FileHandle file) {
    for (auto it = held_.begin(); it != held_.end(); ++it) {
        if (it->fd == Fd(file)) {
            held_.erase(it);
            break;
        }
    }
    close(Fd(file));  // drops the lease and the lock
}

std::uint32_t PosixRepairFiles::MaxPathLength() const {
    return PATH_MAX - 1;
}
