#include "posix_repair_files.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

bool IsRegularFile(int fd) {
    struct stat status {};
    return fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

bool HasWritePermission(int fd) {
    struct stat status {};
    return fstat(fd, &status) == 0 && (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

// Whether the kernel lets this process write files regardless of their
// permission bits (root, unless the capability was dropped).
bool CanOverridePermissions() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
        return geteuid() == 0;
    }
    return (data[0].effective & (1u << CAP_DAC_OVERRIDE)) != 0;
}

int Fd(FileHandle file) {
    return static_cast<int>(file);
}

}  // namespace

bool IsPlainFileName(const char* name) {
    return name[0] != '\0' && std::strchr(name, '/') == nullptr && std::strcmp(name, ".") != 0 &&
           std::strcmp(name, "..") != 0;
}

PosixRepairFiles::PosixRepairFiles() : overridesPermissions_(CanOverridePermissions()) {
    signal(SIGIO, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
}

FileHandle PosixRepairFiles::OpenForReading(const char* name) {
    OpenFailure failure = OpenFailure::None;
    FileHandle file = OpenExclusive(name, O_RDONLY, &failure);
    if (file != kNoFile) {
        // The lease showed that nobody else had the file open. Reading does
        // not need it any longer, and holding it would stall every program
        // that opens the template meanwhile.
        fcntl(Fd(file), F_SETLEASE, F_UNLCK);
    } else if (failure == OpenFailure::NoExclusivity) {
        // Where leases cannot be had (a network file system, say) the
        // template is still only read, so the lock below is enough for it.
        file = OpenChecked(name, O_RDONLY);
    }
    if (file == kNoFile) {
        return kNoFile;
    }
    // The lock keeps a second copy of this program away from the template.
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
    const std::size_t directoryLength = std::strlen(directory);
    const std::size_t nameLength = std::strlen(name);
    char path[PATH_MAX];
    if (directoryLength + nameLength >= sizeof path) {
        return kNoFile;
    }
    std::memcpy(path, directory, directoryLength);
    std::memcpy(path + directoryLength, name, nameLength + 1);
    return OpenExclusive(path, O_WRONLY, failure);
}

FileHandle PosixRepairFiles::OpenExclusive(const char* path, int accessMode, OpenFailure* failure) {
    *failure = OpenFailure::Unavailable;
    const int fd = OpenWithoutBlocking(path, accessMode);
    if (fd < 0) {
        return kNoFile;
    }
    // The lease is granted only on a regular file that has no other open
    // anywhere, this program's own included; on a busy file it fails at once.
    if (fcntl(fd, F_SETLEASE, F_WRLCK) != 0) {
        // EAGAIN: somebody has the file open. EACCES (a file of another user)
        // or EINVAL (a file system without leases) on a regular file: nobody
        // can tell who has it open, so it must never be written.
        const int error = errno;
        if (error != EAGAIN && IsRegularFile(fd)) {
            *failure = OpenFailure::NoExclusivity;
        }
        close(fd);
        return kNoFile;
    }
    // The kernel has refused the open already where permissions forbid it,
    // unless this program may override them: then a file without any write
    // permission bit is still read-only, as it is for an administrator on
    // Windows.
    if (accessMode != O_RDONLY && overridesPermissions_ && !HasWritePermission(fd)) {
        close(fd);
        return kNoFile;
    }
    held_.push_back({fd, path});
    *failure = OpenFailure::None;
    return fd;
}

FileHandle PosixRepairFiles::OpenChecked(const char* path, int accessMode) {
    const int fd = OpenWithoutBlocking(path, accessMode);
    if (fd < 0) {
        return kNoFile;
    }
    if (!IsRegularFile(fd)) {
        close(fd);
        return kNoFile;
    }
    held_.push_back({fd, path});
    return fd;
}

int PosixRepairFiles::OpenWithoutBlocking(const char* path, int accessMode) const {
    // A file this program holds is not opened again: a second open would
    // break our own lease. Names are compared, so the kernel is not asked at
    // all on the ticks that meet a file a message box keeps open.
    if (IsHeld(path)) {
        return -1;
    }
    // Non-blocking, so a FIFO without a reader cannot hang the program.
    return open(path, accessMode | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}

bool PosixRepairFiles::IsHeld(const char* path) const {
    for (const HeldFile& file : held_) {
        if (file.path == path) {
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
