#include "linux_file_checks.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// File systems on which the kernel itself sees every open of a file, so a
// lease it grants proves that nobody has the file open. On FUSE (sshfs,
// bindfs, GVfs), overlay and network file systems a writer may hold the file
// through another inode or another machine and the lease would still be
// granted. (Values from <linux/magic.h>.)
constexpr unsigned long kFileSystemsThatSeeEveryOpen[] = {
    0xEF53,      // ext2, ext3, ext4
    0x58465342,  // xfs
    0x9123683E,  // btrfs
    0xF2F52010,  // f2fs
    0x01021994,  // tmpfs
    0x858458F6,  // ramfs
    0x3153464A,  // jfs
    0x52654973,  // reiserfs
    0x3434,      // nilfs2
    0xCA451A4E,  // bcachefs
    0x4D44,      // vfat (msdos)
    0x2011BAB0,  // exfat
    0x7366746E,  // ntfs3
    0x482B,      // hfsplus
};

}  // namespace

bool IsPlainFileName(const char* name) {
    return name[0] != '\0' && std::strchr(name, '/') == nullptr && std::strcmp(name, ".") != 0 &&
           std::strcmp(name, "..") != 0;
}

bool IsSameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool IsTrustedLink(uid_t linkOwner, uid_t targetOwner) {
    return linkOwner == geteuid() || linkOwner == targetOwner;
}

int WriteAll(int fd, const void* bytes, std::size_t size) {
    const auto* next = static_cast<const unsigned char*>(bytes);
    while (size > 0) {
        const ssize_t written = write(fd, next, size);
        const int reason = written < 0 ? errno : EIO;
        if (written < 0 && reason == EINTR) {
            continue;
        }
        if (written < 0 && reason == EAGAIN) {
            // Left non-blocking by the program that made it: wait as a
            // blocking write would.
            pollfd ready{fd, POLLOUT, 0};
            poll(&ready, 1, -1);
            continue;
        }
        if (written <= 0) {
            return reason;
        }
        next += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

int ReadAll(int fd, unsigned char* buffer, std::size_t size, std::size_t* count) {
    while (*count < size) {
        const ssize_t got =
            RetryInterrupted([&] { return read(fd, buffer + *count, size - *count); });
        if (got < 0) {
            return errno;
        }
        if (got == 0) {
            break;
        }
        *count += static_cast<std::size_t>(got);
    }
    return 0;
}

namespace {

Lease TakeLease(int fd, int type) {
    if (fcntl(fd, F_SETLEASE, type) == 0) {
        return Lease::Granted;
    }
    return errno == EAGAIN ? Lease::Busy : Lease::Impossible;
}

}  // namespace

Lease TakeWriteLease(int fd) {
    return TakeLease(fd, F_WRLCK);
}

Lease TakeReadLease(int fd) {
    return TakeLease(fd, F_RDLCK);
}

bool KernelSeesEveryOpen(int fd) {
    struct statfs fileSystem {};
    if (fstatfs(fd, &fileSystem) != 0) {
        return false;
    }
    const auto type = static_cast<unsigned long>(fileSystem.f_type) & 0xFFFFFFFFul;
    for (const unsigned long known : kFileSystemsThatSeeEveryOpen) {
        if (type == known) {
            return true;
        }
    }
    return false;
}

bool CanOverridePermissions() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
        return geteuid() == 0;
    }
    return (data[0].effective & (1u << CAP_DAC_OVERRIDE)) != 0;
}

bool TakesADescriptorKeptFree(int fd) {
    constexpr rlim_t kDescriptorsKeptFree = 64;
    rlimit limit{};
    return getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
           static_cast<rlim_t>(fd) + kDescriptorsKeptFree >= limit.rlim_cur;
}
